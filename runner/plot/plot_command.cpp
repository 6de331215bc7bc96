#include "runner/plot/plot_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>

#include "runner/plot/plot_render.h"

namespace runner::plot {
namespace {

std::string RangeText(const HistoryOptions& o) {
  if (o.from.empty() && o.to.empty()) return "";
  return " from " + (o.from.empty() ? std::string("the first row") : o.from) + " to " +
         (o.to.empty() ? std::string("the last row") : o.to);
}

// Writes the whole file or none of it.
bool WriteFile(const std::string& path, const std::string& bytes, std::ostream& err) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) {
    err << "qorv-host history: " << path << ": cannot write: " << std::strerror(errno) << "\n";
    return false;
  }
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    err << "qorv-host history: " << path << ": writing failed: " << std::strerror(errno) << "\n";
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int RunHistoryPlot(const HistoryOptions& o, const std::string& image_path, std::ostream& err,
                   const HealthLimitLines& limits) {
  const std::optional<ImageFormat> format = ImageFormatOf(image_path);
  if (!format) {
    err << "qorv-host history: --plot: " << image_path
        << ": the file name must end in .svg or .png, which gives the image type\n";
    return 2;
  }
  if (!o.data_id) {
    err << "qorv-host history: --plot draws one device: give its --data-id\n";
    return 2;
  }
  const unsigned data_id = *o.data_id;
  TimeRange range;
  if (!ReadHistoryRange(o, range, err)) return 2;
  std::unique_ptr<HistoryStore> store = OpenHistoryToRead(o.db, err);
  if (!store) return 1;
  PlotData data;
  try {
    if (!HoldsDataId(*store, data_id, err)) return 1;
    data = LoadPlotData(*store, data_id, range, limits);
  } catch (const HistoryError& e) {
    err << "qorv-host history: " << o.db << ": " << e.what() << "\n";
    return 1;
  }
  if (data.rows == 0) {
    err << "qorv-host history: no rows for data id " << data_id << RangeText(o) << " in " << o.db
        << "; no image written\n";
    return 1;
  }
  std::string bytes;
  try {
    bytes = RenderPlot(data, *format);
  } catch (const RenderError& e) {
    err << "qorv-host history: " << image_path << ": " << e.what() << "\n";
    return 1;
  }
  if (!WriteFile(image_path, bytes, err)) return 1;
  err << "plotted " << data.rows << " rows and " << data.alarms.size()
      << " alarm events of data id " << data_id << " to " << image_path << "\n";
  return 0;
}

}  // namespace runner::plot
