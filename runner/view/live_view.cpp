#include "runner/view/live_view.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "runner/alarms/alarm_text.h"
#include "runner/alarms/health_alarms.h"
#include "runner/plugin_access/device_cells.h"
#include "runner/time/time_text.h"

namespace runner {
namespace {

constexpr const char* kBold = "\x1b[1m";
constexpr const char* kDim = "\x1b[2m";
constexpr const char* kRed = "\x1b[31m";
constexpr const char* kYellow = "\x1b[33m";
constexpr const char* kPlain = "\x1b[0m";
constexpr const char* kHome = "\x1b[H";
constexpr const char* kClearLine = "\x1b[K";
constexpr const char* kClearBelow = "\x1b[J";

constexpr int kCellColumnWidth = 16;  // " 18 13.31 █████ ": five columns on 80
constexpr int kBarWidth = 5;
// Alarm lines at most, the "+N more" line included: a string in trouble
// can raise thirty at once, and the devices must stay in sight.
constexpr int kMostAlarmLines = 8;
// Kept free under the title for the history store's state (and the
// broker's, when both have trouble).
constexpr int kStoreStateLines = 1;

// Characters on screen of a UTF-8 text: bytes that do not continue a
// character.
std::size_t CountGlyphs(const std::string& utf8) {
  return static_cast<std::size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// `text` cut to `columns` terminal columns; `used_out` receives the columns
// it takes. Characters from U+3000 up (the devices' Chinese texts) take two
// columns.
std::string Fit(const std::string& text, int columns, int* used_out = nullptr) {
  int used = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const int wide = lead >= 0xE3 ? 2 : 1;
    if (used + wide > columns) break;
    used += wide;
    i += len;
  }
  if (used_out) *used_out = used;
  return text.substr(0, i);
}

std::string Format(const char* format, double value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Or(const std::optional<float>& v, const char* format, const char* unit) {
  return v ? Format(format, static_cast<double>(*v)) + unit : std::string("--") + unit;
}

// The frame being drawn. On a terminal it stops one line short of the
// bottom, so drawing never scrolls the screen and each frame starts at the
// top-left corner again. Lines are cut at the width: a wrapped line would
// scroll the frame just the same.
class Screen {
 public:
  Screen(bool ansi, int height, int width)
      : ansi_(ansi),
        lines_left_(height > 1 ? height - 1 : -1),
        width_(width > 0 ? width : INT_MAX) {}
  Screen& Put(const std::string& text) {
    if (lines_left_ == 0 || columns_ >= width_) return *this;
    int used = 0;
    line_ << Fit(text, width_ - columns_, &used);
    columns_ += used;
    return *this;
  }
  Screen& Style(const char* code) {
    if (ansi_ && lines_left_ != 0) line_ << code;
    return *this;
  }
  void EndLine() {
    if (lines_left_ == 0) return;
    if (ansi_) line_ << kPlain << kClearLine;
    out_ << line_.str() << '\n';
    line_.str("");
    columns_ = 0;
    if (lines_left_ > 0) --lines_left_;
  }
  std::string Text() {
    if (ansi_) out_ << kClearBelow;
    return out_.str();
  }

 private:
  bool ansi_;
  int lines_left_;  // -1: no limit
  int width_;
  int columns_ = 0;  // used on the line being drawn
  std::ostringstream line_;
  std::ostringstream out_;
};

void BarRange(const DeviceView& d, float& low, float& high) {
  if (d.cell_limit && d.cell_limit->low && d.cell_limit->high) {
    const float margin = (*d.cell_limit->high - *d.cell_limit->low) / 2;
    low = *d.cell_limit->low - margin;
    high = *d.cell_limit->high + margin;
    return;
  }
  // Without a configured range: the window the string's blocks read in.
  const CellWindow window =
      WindowOfString(d.max_cell ? std::optional<float>(d.max_cell->volts) : std::nullopt);
  low = window.low;
  high = window.high;
}

bool InAlarm(const DeviceView& d, std::size_t k) {
  const std::string name = CellValueName(static_cast<int>(k));
  return std::any_of(d.alarms.begin(), d.alarms.end(), [&](const ActiveAlarm& a) {
    return a.name == name || (a.name == kDeviationAlarm && a.point == static_cast<int>(k) + 1);
  });
}

// "string-A 第18节电池 (battery_17_value) low 11.600 < 12.000"
std::string AlarmLine(const DeviceView& d, const ActiveAlarm& a) {
  return "  " + d.name + " " + AlarmText(a, AlarmSource::kShort);
}

std::size_t AlarmCount(const SiteView& v) {
  std::size_t count = 0;
  for (const DeviceView& d : v.devices) count += d.alarms.size();
  return count;
}

void Title(Screen& s, const SiteView& v, const ViewStyle& style) {
  std::string progress = "round " + std::to_string(v.round);
  if (style.rounds_goal) progress += "/" + std::to_string(style.rounds_goal);
  const std::size_t active = AlarmCount(v);
  s.Style(kBold).Put("qorv-host  " + style.title + "  " + FormatTime(v.time) + "  " + progress);
  s.Style(kPlain).Put("  ").Style(active ? kRed : kPlain);
  s.Put(active ? std::to_string(active) + (active == 1 ? " alarm" : " alarms") : "no alarms");
  s.Style(kPlain).Put("   Ctrl-C stops").EndLine();
}

// Active alarms come right under the title, device by device in site
// order, each device's in cell order: on a small terminal they are the
// last thing to lose. `lines` caps them, the "+N more" line included.
void Alarms(Screen& s, const SiteView& v, int lines) {
  const std::size_t total = AlarmCount(v);
  const std::size_t shown = total <= static_cast<std::size_t>(lines)
                                ? total
                                : static_cast<std::size_t>(std::max(lines - 1, 0));
  std::size_t done = 0;
  for (auto d = v.devices.begin(); d != v.devices.end() && done < shown; ++d)
    for (auto a = d->alarms.begin(); a != d->alarms.end() && done < shown; ++a, ++done)
      s.Style(a->kind == AlarmKind::kWarning ? kYellow : kRed).Put(AlarmLine(*d, *a)).EndLine();
  if (shown < total) s.Style(kRed).Put("  +" + std::to_string(total - shown) + " more").EndLine();
}

// The history store, once it had trouble: rows waiting, rows lost and the
// last error; red while writing fails. A store that never failed takes no
// room.
bool StoreTrouble(const SiteView& v) {
  return v.store && (v.store->lost > 0 || !v.store->last_error.empty());
}

void StoreLine(Screen& s, const SiteView& v, int width) {
  if (!StoreTrouble(v)) return;
  const StoreState& st = *v.store;
  s.Style(st.failing || st.lost ? kRed : kYellow)
      .Put(Fit("  history: " + std::to_string(st.pending) + " pending, " + std::to_string(st.lost) +
                   " lost; " + (st.failing ? "failing: " : "last error: ") + st.last_error,
               width))
      .EndLine();
}

// The broker, once it is away or a message could not be kept: what waits
// for it and why.
bool BrokerTrouble(const SiteView& v) {
  return v.mqtt && (!v.mqtt->connected || v.mqtt->lost > 0 || v.mqtt->skipped > 0);
}

void BrokerLine(Screen& s, const SiteView& v, int width) {
  if (!BrokerTrouble(v)) return;
  const PublishCounts& m = *v.mqtt;
  std::string text = "  MQTT " + m.broker + ": " + std::to_string(m.published) + " published, " +
                     std::to_string(m.waiting) + " waiting, " + std::to_string(m.backlog) +
                     " backlog, " + std::to_string(m.skipped) + " skipped";
  if (m.lost) text += ", " + std::to_string(m.lost) + " lost";
  text += m.connected ? "; connected" : "; away: " + m.trouble;
  s.Style(m.connected ? kYellow : kRed).Put(Fit(text, width)).EndLine();
}

void Heading(Screen& s, const DeviceView& d) {
  s.Style(kBold).Put(d.name).Style(kPlain);
  s.Put("  id " + std::to_string(d.data_id) + "  " + d.port + "  ");
  const bool ok = d.state == DataState::kFresh;
  s.Style(ok ? kPlain : kYellow).Put(DataStateName(d.state)).Style(kPlain);
  if (!ok && !d.state_text.empty()) s.Put(" (" + d.state_text + ")");
  s.Put("  age " + (d.age_s ? std::to_string(*d.age_s) + " s" : std::string("--")));
  s.EndLine();
}

void Link(Screen& s, const DeviceView& d) {
  const LinkCounters& l = d.link;
  s.Put("  rounds " + std::to_string(l.rounds) + "  re-sends " + std::to_string(l.resends) +
        "  rejected " + std::to_string(l.rejected) + "  timeouts " + std::to_string(l.timeouts));
  if (l.timed_rounds) s.Put("  round " + Format("%.1f", l.last_round.count() / 1000.0) + " ms");
  s.EndLine();
}

void Values(Screen& s, const DeviceView& d) {
  if (d.from_record) s.Style(kDim);
  s.Put("  " + Or(d.group_voltage, "%.2f", " V") + "  " + Or(d.group_current, "%.2f", " A") + "  " +
        Or(d.temperature, "%.2f", " °C"));
  if (d.min_cell && d.max_cell)
    s.Put("  min #" + std::to_string(d.min_cell->number) + " " + Format("%.3f", d.min_cell->volts) +
          "  max #" + std::to_string(d.max_cell->number) + " " + Format("%.3f", d.max_cell->volts) +
          "  spread " + Format("%.3f", static_cast<double>(*d.Spread())));
}

void Summary(Screen& s, const DeviceView& d) {
  Values(s, d);
  s.EndLine();
}

// "  mean 13.262 V  σ 13 mV  spread 152 mV  worst #18 −112 mV"
void Health(Screen& s, const DeviceView& d) {
  if (d.from_record) s.Style(kDim);
  if (!d.health) {
    s.Put("  mean --  σ --  spread --").EndLine();
    return;
  }
  const StringHealth& h = *d.health;
  const CellDeviation& worst = h.Worst();
  s.Put("  mean " + Format("%.3f", h.mean_v) + " V  σ " + Format("%.0f", h.sigma_mv) +
        " mV  spread " + Format("%.0f", h.spread_mv) + " mV  worst #" +
        std::to_string(worst.number) + " " + SignedMillivolts(worst.deviation_mv));
  s.EndLine();
}

// A device on one line, for when the screen has no room for more.
void Compact(Screen& s, const DeviceView& d) {
  s.Style(kBold).Put(d.name).Style(kPlain).Put("  ");
  const bool ok = d.state == DataState::kFresh;
  s.Style(ok ? kPlain : kYellow).Put(DataStateName(d.state)).Style(kPlain);
  Values(s, d);
  s.EndLine();
}

int CellRows(const DeviceView& d, int width) {
  const int columns = std::max(1, width / kCellColumnWidth);
  return (static_cast<int>(d.cells.size()) + columns - 1) / columns;
}

void Cells(Screen& s, const DeviceView& d, int width) {
  if (d.cells.empty()) return;
  float low, high;
  BarRange(d, low, high);
  const int columns = std::max(1, width / kCellColumnWidth);
  const int rows = CellRows(d, width);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const std::size_t k = static_cast<std::size_t>(c * rows + r);
      if (k >= d.cells.size()) break;
      const char* colour = InAlarm(d, k) ? kRed : d.from_record ? kDim : kPlain;
      const std::string number =
          Format("%3.0f", CellNumber(d.first_cell_number, static_cast<int>(k)));
      const std::optional<float>& v = d.cells[k];
      s.Style(colour).Put(number + " " + (v ? Format("%5.2f", *v) : std::string("  -- ")) + " ");
      std::string bar = v ? CellBar(*v, low, high, kBarWidth) : "";
      s.Put(bar + std::string(static_cast<std::size_t>(kBarWidth) + 1 -
                                  std::min<std::size_t>(kBarWidth, CountGlyphs(bar)),
                              ' '));
      s.Style(kPlain);
    }
    s.EndLine();
  }
}

// How much of each device fits: everything; the heading and values; or
// one line each.
enum class DeviceForm { kFull, kBrief, kLine };

struct Layout {
  int alarm_lines = 0;
  DeviceForm form = DeviceForm::kFull;
  bool gaps = true;  // a blank line before each device in full
};

// Lines of a device in full, the blank line before it not counted.
constexpr int kFullDeviceLines = 4;  // heading, values, health, link

// Every device stays in sight: the alarms give way first, then the cells.
Layout PlanLayout(const SiteView& v, int width, int lines) {
  const int devices = static_cast<int>(v.devices.size());
  const int below_title =
      lines - 1 - std::max(kStoreStateLines, int{StoreTrouble(v)} + int{BrokerTrouble(v)});
  Layout layout;
  const int alarm_room = std::max(1, (below_title - devices - 1) / 2);
  layout.alarm_lines = static_cast<int>(std::min<std::size_t>(
      AlarmCount(v), static_cast<std::size_t>(std::min(kMostAlarmLines, alarm_room))));
  const int room = below_title - layout.alarm_lines;
  int full = 0;
  for (const DeviceView& d : v.devices)
    full += kFullDeviceLines + (d.cells.empty() ? 0 : CellRows(d, width));
  if (full + devices <= room) return layout;
  layout.gaps = false;  // the bold headings still part the devices
  if (full <= room) return layout;
  layout.gaps = true;
  layout.form = 3 * devices <= room ? DeviceForm::kBrief : DeviceForm::kLine;
  return layout;
}

}  // namespace

std::string CellBar(float volts, float low, float high, int width) {
  static const char* const kEighths[] = {"", "▏", "▎", "▍", "▌", "▋", "▊", "▉"};
  if (!(high > low) || width <= 0) return "";
  const float share = std::clamp((volts - low) / (high - low), 0.0f, 1.0f);
  const int eighths = static_cast<int>(std::lround(share * static_cast<float>(width * 8)));
  std::string bar;
  for (int i = 0; i < eighths / 8; ++i) bar += "█";
  bar += kEighths[eighths % 8];
  return bar;
}

std::string RenderView(const SiteView& view, const ViewStyle& style) {
  const int height = style.ansi ? style.height : 0;
  Screen s(style.ansi, height, style.width);
  const Layout layout = PlanLayout(view, style.width, height > 1 ? height - 1 : INT_MAX / 2);
  s.Style(kHome);
  Title(s, view, style);
  StoreLine(s, view, style.width);
  BrokerLine(s, view, style.width);
  Alarms(s, view, layout.alarm_lines);
  if (layout.form == DeviceForm::kLine) s.EndLine();
  for (const DeviceView& d : view.devices) {
    if (layout.form == DeviceForm::kLine) {
      Compact(s, d);
      continue;
    }
    if (layout.gaps) s.EndLine();
    Heading(s, d);
    Summary(s, d);
    if (layout.form == DeviceForm::kBrief) continue;
    Health(s, d);
    Link(s, d);
    Cells(s, d, style.width);
  }
  if (!view.events.empty()) s.EndLine();
  for (const std::string& e : view.events) s.Style(kDim).Put(e).EndLine();
  return s.Text();
}

}  // namespace runner
