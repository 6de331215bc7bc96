#pragma once
// `qorv-host history --plot FILE`: one data id over a time range, drawn
// from the history database into an SVG or PNG image.

#include <iosfwd>
#include <string>

#include "runner/history/history_command.h"
#include "runner/plot/plot_data.h"

namespace runner::plot {

// Writes the image to `image_path` (its extension names the format) and
// returns the exit status: 2 for a file name or range that cannot be
// used, 1 when the database cannot be read, the range holds no rows or
// the file cannot be written; no file is left behind on failure. `limits`
// are drawn across the health panel.
int RunHistoryPlot(const HistoryOptions& options, const std::string& image_path, std::ostream& err,
                   const HealthLimitLines& limits = {});

}  // namespace runner::plot
