#pragma once
// Draws a PlotData as an SVG or PNG image with cairo: the panels stacked
// over one local time axis, a legend beside each panel, alarm raises and
// clears as dashed vertical lines through every panel.

#include <optional>
#include <stdexcept>
#include <string>

#include "runner/plot/plot_data.h"

namespace runner::plot {

enum class ImageFormat { kSvg, kPng };

// The format a file name asks for by its extension (".svg", ".png", in
// any case); empty for any other name.
std::optional<ImageFormat> ImageFormatOf(const std::string& path);

struct ImageSize {
  int width = 1200;
  int height = 900;
};

class RenderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The image file's bytes. `data` must hold at least one row. Throws
// RenderError when cairo fails.
std::string RenderPlot(const PlotData& data, ImageFormat format, ImageSize size = {});

}  // namespace runner::plot
