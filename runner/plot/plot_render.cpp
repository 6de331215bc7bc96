#include "runner/plot/plot_render.h"

#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include <cairo-svg.h>

#include "runner/plot/label_rows.h"

namespace runner::plot {
namespace {

struct Rgb {
  double r, g, b;
};

constexpr Rgb kInk{0.15, 0.15, 0.15};
constexpr Rgb kGrid{0.88, 0.88, 0.88};
constexpr Rgb kContextGrey{0.72, 0.72, 0.72};
constexpr Rgb kLowestColour{0.84, 0.15, 0.16};
constexpr Rgb kHighestColour{0.12, 0.47, 0.71};
constexpr Rgb kRaisedColour{0.75, 0.0, 0.0};
constexpr Rgb kClearedColour{0.17, 0.63, 0.17};
constexpr Rgb kWarningColour{0.95, 0.55, 0.0};
constexpr Rgb kCriticalColour{0.80, 0.0, 0.0};
// The cells picked out in the health panel, farthest from the mean first.
constexpr Rgb kPickedColours[] = {{0.84, 0.15, 0.16}, {0.58, 0.40, 0.74}, {0.17, 0.63, 0.17}};
// One colour a panel, for its main series.
constexpr Rgb kPanelColours[] = {
    {0.12, 0.47, 0.71}, {0.20, 0.20, 0.20}, {0.58, 0.40, 0.74}, {0.84, 0.37, 0.0}};

constexpr double kLeft = 70, kRight = 190, kTop = 44, kBottom = 52, kPanelGap = 26;
constexpr double kFontSize = 12;
constexpr const char* kFont = "DejaVu Sans";
constexpr std::size_t kNamedAlarmsAtMost = 12;
constexpr int kAlarmLabelRows = 3;
constexpr double kAlarmLabelRowHeight = 15;

struct Box {
  double x, y, w, h;
};

struct Style {
  Rgb colour;
  double width;
};

Style StyleOf(SeriesRole role, std::size_t panel_index, int pick = 0) {
  switch (role) {
    case SeriesRole::kContext: return {kContextGrey, 0.8};
    case SeriesRole::kLowest: return {kLowestColour, 1.8};
    case SeriesRole::kHighest: return {kHighestColour, 1.8};
    case SeriesRole::kPicked:
      return {kPickedColours[static_cast<std::size_t>(pick) % std::size(kPickedColours)], 1.6};
    case SeriesRole::kMain: break;
  }
  return {kPanelColours[panel_index % std::size(kPanelColours)], 1.5};
}

void SetColour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

void Text(cairo_t* cr, double x, double y, const std::string& text, double align = 0.0) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  cairo_move_to(cr, x - align * e.x_advance, y);
  cairo_show_text(cr, text.c_str());
}

// A tick step of 1, 2 or 5 times a power of ten giving about `wanted` ticks.
double NiceStep(double span, int wanted) {
  const double raw = span / wanted;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * power >= raw) return m * power;
  return 10.0 * power;
}

struct ValueAxis {
  double lo, hi, step;
  double Y(const Box& box, double v) const { return box.y + box.h * (hi - v) / (hi - lo); }
};

ValueAxis ValueAxisOf(const PlotPanel& panel) {
  if (panel.scale)
    return {panel.scale->first, panel.scale->second,
            NiceStep(panel.scale->second - panel.scale->first, 5)};
  double lo = INFINITY, hi = -INFINITY;
  for (const PlotSeries& s : panel.series)
    for (const PlotPoint& p : s.points) {
      if (!std::isfinite(p.value)) continue;
      lo = std::min(lo, p.value);
      hi = std::max(hi, p.value);
    }
  for (const LimitLine& l : panel.limits) {
    lo = std::min(lo, l.value);
    hi = std::max(hi, l.value);
  }
  if (!(lo <= hi)) lo = hi = 0.0;
  // A flat series still gets a readable scale around its value.
  const double pad = hi > lo ? 0.06 * (hi - lo) : std::max(0.5, 0.01 * std::fabs(hi));
  lo -= pad;
  hi += pad;
  return {lo, hi, NiceStep(hi - lo, 5)};
}

struct TimeAxis {
  std::int64_t from, to;
  double X(const Box& box, std::int64_t utc) const {
    return box.x + box.w * static_cast<double>(utc - from) / static_cast<double>(to - from);
  }
};

// Steps a person reads a clock by, in seconds.
constexpr std::int64_t kTimeSteps[] = {10,     30,     60,      120,     300,     600,     900,
                                       1800,   3600,   7200,    10800,   21600,   43200,   86400,
                                       172800, 604800, 1209600, 2419200, 7257600, 31536000};

std::string LocalText(std::int64_t local_seconds, const char* format) {
  const std::time_t t = static_cast<std::time_t>(local_seconds);
  std::tm fields{};
  gmtime_r(&t, &fields);  // the seconds are local already
  char text[32];
  std::strftime(text, sizeof text, format, &fields);
  return text;
}

// Ticks at round local times, labelled "HH:MM" with the date under the
// first tick and under each that starts a new day.
void DrawTimeTicks(cairo_t* cr, const PlotData& data, const TimeAxis& axis,
                   const std::vector<Box>& boxes) {
  const Box& bottom = boxes.back();
  const std::int64_t span = axis.to - axis.from;
  std::int64_t step = kTimeSteps[std::size(kTimeSteps) - 1];
  for (std::int64_t s : kTimeSteps)
    if (span / s <= static_cast<std::int64_t>(bottom.w / 110)) {
      step = s;
      break;
    }
  const std::int64_t shift = data.LocalSeconds(axis.from) - axis.from;
  const std::int64_t local_from = axis.from + shift;
  std::int64_t tick = (local_from / step + (local_from % step != 0)) * step;
  std::string last_day;
  for (; tick - shift <= axis.to; tick += step) {
    const std::int64_t utc = tick - (data.LocalSeconds(tick - shift) - (tick - shift));
    const double x = axis.X(bottom, utc);
    SetColour(cr, kGrid);
    for (const Box& b : boxes) {
      cairo_move_to(cr, x, b.y);
      cairo_line_to(cr, x, b.y + b.h);
    }
    cairo_stroke(cr);
    SetColour(cr, kInk);
    const std::string day = LocalText(tick, "%Y-%m-%d");
    Text(cr, x, bottom.y + bottom.h + 16,
         step >= 86400 ? day : LocalText(tick, step < 60 ? "%H:%M:%S" : "%H:%M"), 0.5);
    if (step < 86400 && day != last_day) Text(cr, x, bottom.y + bottom.h + 30, day, 0.5);
    last_day = day;
  }
  Text(cr, bottom.x + bottom.w, bottom.y + bottom.h + 44, "local time", 1.0);
}

// At most two points a pixel column (its lowest and highest, in time
// order), so a long range stays a small file and every extreme stays
// visible.
std::vector<std::pair<double, double>> Decimated(const PlotSeries& s, const Box& box,
                                                 const TimeAxis& t, const ValueAxis& v) {
  std::vector<std::pair<double, double>> out;
  const bool thin = s.points.size() > 2 * static_cast<std::size_t>(box.w);
  long column = -1;
  std::pair<double, double> lo{}, hi{};
  std::size_t lo_at = 0, hi_at = 0;
  const auto flush = [&] {
    if (column < 0) return;
    out.push_back(lo_at <= hi_at ? lo : hi);
    if (lo_at != hi_at) out.push_back(lo_at <= hi_at ? hi : lo);
  };
  for (std::size_t i = 0; i < s.points.size(); ++i) {
    if (!std::isfinite(s.points[i].value)) continue;  // a damaged record is left out
    const std::pair<double, double> p{t.X(box, s.points[i].utc), v.Y(box, s.points[i].value)};
    if (!thin) {
      out.push_back(p);
      continue;
    }
    const long c = std::lround(p.first);
    if (c != column) {
      flush();
      column = c;
      lo = hi = p;
      lo_at = hi_at = i;
    } else if (p.second > lo.second) {  // screen y grows downward
      lo = p;
      lo_at = i;
    } else if (p.second < hi.second) {
      hi = p;
      hi_at = i;
    }
  }
  flush();
  return out;
}

void DrawSeries(cairo_t* cr, const PlotSeries& s, Style style, const Box& box, const TimeAxis& t,
                const ValueAxis& v) {
  const auto points = Decimated(s, box, t, v);
  if (points.empty()) return;
  SetColour(cr, style.colour);
  cairo_set_line_width(cr, style.width);
  cairo_move_to(cr, points.front().first, points.front().second);
  for (std::size_t i = 1; i < points.size(); ++i)
    cairo_line_to(cr, points[i].first, points[i].second);
  if (points.size() == 1) cairo_rel_line_to(cr, 0.5, 0);  // a lone row still shows
  cairo_stroke(cr);
}

// Where a series leaves a fixed scale: a small arrowhead at the edge it
// crosses, once for each stretch beyond it, so a clipped line is never read
// as one that stopped at the edge.
void MarkBeyondScale(cairo_t* cr, const PlotSeries& s, Style style, const Box& box,
                     const TimeAxis& t, const ValueAxis& v) {
  int beyond_before = 0;  // -1 below, +1 above, 0 inside
  SetColour(cr, style.colour);
  for (const PlotPoint& p : s.points) {
    const int beyond = !std::isfinite(p.value) ? 0 : p.value > v.hi ? 1 : p.value < v.lo ? -1 : 0;
    if (beyond != 0 && beyond != beyond_before) {
      const double x = t.X(box, p.utc), y = beyond > 0 ? box.y : box.y + box.h;
      cairo_move_to(cr, x - 4, y + 7 * beyond);
      cairo_line_to(cr, x + 4, y + 7 * beyond);
      cairo_line_to(cr, x, y);
      cairo_close_path(cr);
      cairo_fill(cr);
    }
    beyond_before = beyond;
  }
}

void DrawValueAxis(cairo_t* cr, const Box& box, const ValueAxis& v) {
  char text[32];
  for (double y = std::ceil(v.lo / v.step) * v.step; y <= v.hi; y += v.step) {
    const double py = v.Y(box, y);
    SetColour(cr, kGrid);
    cairo_set_line_width(cr, 1.0);
    cairo_move_to(cr, box.x, py);
    cairo_line_to(cr, box.x + box.w, py);
    cairo_stroke(cr);
    SetColour(cr, kInk);
    const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(v.step))));
    std::snprintf(text, sizeof text, "%.*f", decimals, std::fabs(y) < v.step / 2 ? 0.0 : y);
    Text(cr, box.x - 6, py + 4, text, 1.0);
  }
}

// A limit line across the panel; the legend names it, so no label on the
// panel competes with the alarm labels and the title.
void DrawLimit(cairo_t* cr, const LimitLine& l, const Box& box, const ValueAxis& v) {
  const double dash[] = {6.0, 4.0};
  SetColour(cr, l.level == LimitLevel::kCritical ? kCriticalColour : kWarningColour);
  cairo_set_line_width(cr, 1.2);
  cairo_set_dash(cr, dash, 2, 0);
  cairo_move_to(cr, box.x, v.Y(box, l.value));
  cairo_line_to(cr, box.x + box.w, v.Y(box, l.value));
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
}

// One legend line: a short stroke in the series' style and its name.
void LegendLine(cairo_t* cr, double x, double& y, Style style, const std::string& name,
                bool dashed = false) {
  const double dash[] = {4.0, 3.0};
  SetColour(cr, style.colour);
  cairo_set_line_width(cr, std::max(style.width, 1.5));
  if (dashed) cairo_set_dash(cr, dash, 2, 0);
  cairo_move_to(cr, x, y - 4);
  cairo_line_to(cr, x + 22, y - 4);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  SetColour(cr, kInk);
  Text(cr, x + 28, y, name);
  y += 17;
}

void DrawLegend(cairo_t* cr, const PlotPanel& panel, std::size_t index, const Box& box) {
  const double x = box.x + box.w + 14;
  double y = box.y + 12;
  for (const PlotSeries& s : panel.series)
    if (!s.name.empty()) LegendLine(cr, x, y, StyleOf(s.role, index, s.pick), s.name);
  if (!panel.context_name.empty())
    LegendLine(cr, x, y, StyleOf(SeriesRole::kContext, index), panel.context_name);
  for (std::size_t i = 0; i < panel.limits.size(); ++i) {
    const LimitLine& l = panel.limits[i];
    if (i > 0 && panel.limits[i - 1].name == l.name) continue;  // a ± pair: one entry
    LegendLine(cr, x, y, {l.level == LimitLevel::kCritical ? kCriticalColour : kWarningColour, 1.2},
               l.name, true);
  }
  SetColour(cr, kInk);
  for (std::size_t at = 0; at < panel.note.size(); y += 15) {  // its lines
    const std::size_t end = std::min(panel.note.find('\n', at), panel.note.size());
    Text(cr, x, y, panel.note.substr(at, end - at));
    at = end + 1;
  }
}

std::string LabelOf(const AlarmMark& a) { return a.text + (a.raised ? "" : " cleared"); }

void DrawAlarms(cairo_t* cr, const PlotData& data, const TimeAxis& t,
                const std::vector<Box>& boxes) {
  const double dash[] = {3.0, 3.0};
  cairo_set_line_width(cr, 1.0);
  cairo_set_dash(cr, dash, 2, 0);
  for (const AlarmMark& a : data.alarms) {
    const double x = t.X(boxes.front(), a.utc);
    SetColour(cr, a.raised ? kRaisedColour : kClearedColour);
    for (const Box& b : boxes) {
      cairo_move_to(cr, x, b.y);
      cairo_line_to(cr, x, b.y + b.h);
    }
    cairo_stroke(cr);
  }
  cairo_set_dash(cr, nullptr, 0, 0);
  // Raised marks point down, cleared ones up, at the top of the panel of
  // the value; named there, in rows that keep labels apart, while they are
  // few enough to read.
  const bool named = data.alarms.size() <= kNamedAlarmsAtMost;
  std::vector<std::vector<LabelSpan>> spans(boxes.size());
  std::vector<std::vector<const AlarmMark*>> marks(boxes.size());
  for (const AlarmMark& a : data.alarms) {
    const std::size_t panel = std::min(a.panel, boxes.size() - 1);
    const Box& box = boxes[panel];
    const double x = t.X(box, a.utc), y = box.y;
    SetColour(cr, a.raised ? kRaisedColour : kClearedColour);
    cairo_move_to(cr, x - 5, a.raised ? y : y + 8);
    cairo_line_to(cr, x + 5, a.raised ? y : y + 8);
    cairo_line_to(cr, x, a.raised ? y + 8 : y);
    cairo_close_path(cr);
    cairo_fill(cr);
    if (!named) continue;
    // Beside the mark, or before it where the panel ends.
    cairo_text_extents_t e;
    cairo_text_extents(cr, LabelOf(a).c_str(), &e);
    const bool before = x + 7 + e.x_advance > box.x + box.w;
    spans[panel].push_back({before ? x - 7 - e.x_advance : x + 7, e.x_advance});
    marks[panel].push_back(&a);
  }
  for (std::size_t panel = 0; panel < boxes.size(); ++panel) {
    PlaceInRows(spans[panel], kAlarmLabelRows, 6);
    for (std::size_t k = 0; k < spans[panel].size(); ++k) {
      const LabelSpan& span = spans[panel][k];
      if (span.row < 0) continue;
      SetColour(cr, marks[panel][k]->raised ? kRaisedColour : kClearedColour);
      Text(cr, span.left, boxes[panel].y + 12 + kAlarmLabelRowHeight * span.row,
           LabelOf(*marks[panel][k]));
    }
  }
  if (data.alarms.empty()) return;
  const std::size_t raised = static_cast<std::size_t>(std::count_if(
      data.alarms.begin(), data.alarms.end(), [](const AlarmMark& a) { return a.raised; }));
  const Box& first = boxes.front();
  double y = first.y + first.h - 30;
  const double x = first.x + first.w + 14;
  LegendLine(cr, x, y, {kRaisedColour, 1.0}, "alarm raised (" + std::to_string(raised) + ")", true);
  LegendLine(cr, x, y, {kClearedColour, 1.0},
             "alarm cleared (" + std::to_string(data.alarms.size() - raised) + ")", true);
}

std::vector<Box> Layout(const PlotData& data, ImageSize size) {
  double weights = 0;
  for (const PlotPanel& p : data.panels) weights += p.weight;
  const double room = size.height - kTop - kBottom - kPanelGap * (data.panels.size() - 1.0);
  std::vector<Box> boxes;
  double y = kTop;
  for (const PlotPanel& p : data.panels) {
    const double h = room * p.weight / weights;
    boxes.push_back({kLeft, y, size.width - kLeft - kRight, h});
    y += h + kPanelGap;
  }
  return boxes;
}

void Draw(cairo_t* cr, const PlotData& data, ImageSize size) {
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, kFontSize);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  SetColour(cr, kInk);
  Text(cr, kLeft, 20, data.title);

  // A single instant still gets a minute of axis around it.
  const TimeAxis t = data.to_utc > data.from_utc ? TimeAxis{data.from_utc, data.to_utc}
                                                 : TimeAxis{data.from_utc - 30, data.from_utc + 30};
  const std::vector<Box> boxes = Layout(data, size);
  cairo_set_line_width(cr, 1.0);
  DrawTimeTicks(cr, data, t, boxes);
  for (std::size_t i = 0; i < data.panels.size(); ++i) {
    const PlotPanel& panel = data.panels[i];
    const Box& box = boxes[i];
    const ValueAxis v = ValueAxisOf(panel);
    DrawValueAxis(cr, box, v);
    SetColour(cr, kInk);
    Text(cr, box.x, box.y - 6, panel.title);
    cairo_save(cr);
    cairo_rectangle(cr, box.x, box.y, box.w, box.h);
    cairo_clip(cr);
    for (const PlotSeries& s : panel.series) {
      DrawSeries(cr, s, StyleOf(s.role, i, s.pick), box, t, v);
      if (panel.scale) MarkBeyondScale(cr, s, StyleOf(s.role, i, s.pick), box, t, v);
    }
    for (const LimitLine& l : panel.limits) DrawLimit(cr, l, box, v);
    cairo_restore(cr);
    SetColour(cr, kInk);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, box.x, box.y, box.w, box.h);
    cairo_stroke(cr);
    DrawLegend(cr, panel, i, box);
  }
  DrawAlarms(cr, data, t, boxes);
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

void Check(cairo_status_t status, const char* what) {
  if (status != CAIRO_STATUS_SUCCESS)
    throw RenderError(std::string(what) + ": " + cairo_status_to_string(status));
}

}  // namespace

std::optional<ImageFormat> ImageFormatOf(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "svg") return ImageFormat::kSvg;
  if (ext == "png") return ImageFormat::kPng;
  return std::nullopt;
}

std::string RenderPlot(const PlotData& data, ImageFormat format, ImageSize size) {
  if (data.rows == 0 || data.panels.empty()) throw RenderError("nothing to plot");
  std::string bytes;
  Surface surface(format == ImageFormat::kSvg
                      ? cairo_svg_surface_create_for_stream(Append, &bytes, size.width, size.height)
                      : cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.width, size.height),
                  cairo_surface_destroy);
  Check(cairo_surface_status(surface.get()), "creating the image");
  {
    Context cr(cairo_create(surface.get()), cairo_destroy);
    Draw(cr.get(), data, size);
    Check(cairo_status(cr.get()), "drawing");
  }
  if (format == ImageFormat::kPng)
    Check(cairo_surface_write_to_png_stream(surface.get(), Append, &bytes), "writing the PNG");
  cairo_surface_finish(surface.get());  // an SVG is complete only once finished
  Check(cairo_surface_status(surface.get()), "finishing the image");
  return bytes;
}

}  // namespace runner::plot
