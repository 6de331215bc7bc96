// Lines that go away and come back: opening with back-off, reporting a
// line lost once, and trying it again when its time comes.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "runner/lines/bus_turns.h"
#include "runner/lines/poller.h"
#include "runner/lines/poller_line.h"
#include "runner/lines/serial_port.h"
#include "runner/plugin_access/serial_settings.h"

namespace runner {
namespace {

using std::chrono::milliseconds;
using Steady = std::chrono::steady_clock;

}  // namespace

void Poller::OpenLines() {
  const Steady::time_point now = Steady::now();
  for (auto& line : lines_) {
    if (line->devices.empty()) continue;
    line->baud = plugin_access::BaudRate(*line->devices.front()->device);
    for (const DeviceSlot* slot : line->devices)
      if (plugin_access::BaudRate(*slot->device) != line->baud)
        events_.Add("port " + site_.ports[line->index].name + ": " + slot->settings.name +
                    " wants " + std::to_string(plugin_access::BaudRate(*slot->device)) +
                    " bit/s; the line runs at " + std::to_string(line->baud));
    line->backoff = options_.retry_first;
    TryOpen(*line, now);
  }
}

std::string Poller::PortTrouble(std::size_t port) const {
  return port < lines_.size() ? lines_[port]->down_why : std::string();
}

std::string Poller::DeviceNames(const Line& line) const {
  std::string names;
  for (const DeviceSlot* slot : line.devices)
    names += (names.empty() ? "" : ", ") + slot->settings.name;
  return names;
}

void Poller::TryOpen(Line& line, Steady::time_point now) {
  auto port = std::make_unique<SerialPort>(line.path, line.baud);
  if (!port->is_open()) {
    LineLost(line, port->error(), now);
    return;
  }
  line.port = std::move(port);
  line.down_why.clear();
  line.backoff = options_.retry_first;
  line.turns.Reset();
  if (round_open_) line.turns.MarkAllDue();
  if (line.down_reported)
    events_.Add("port " + site_.ports[line.index].name + ": " + line.path +
                " is back; online again: " + DeviceNames(line));
  line.down_reported = false;
}

// `why` is taken by value: callers pass `line.lost`, which is cleared here.

void Poller::LineLost(Line& line, std::string why, Steady::time_point now) {
  line.port.reset();
  line.turns.Reset();
  line.lost.clear();
  line.retry_at = now + line.backoff;
  line.backoff = std::min(line.backoff * 2, options_.retry_most);
  line.down_why = why;
  if (line.down_reported) return;
  line.down_reported = true;
  events_.Add("port " + site_.ports[line.index].name + ": " + why +
              "; offline: " + DeviceNames(line) + "; retrying");
}

void Poller::CheckLostLines(Steady::time_point now) {
  for (auto& line : lines_)
    if (!line->lost.empty()) LineLost(*line, line->lost, now);
}

int Poller::WriteLine(DeviceSlot& slot, const unsigned char* data, unsigned len) {
  if (slot.settings.port >= lines_.size()) return -1;  // no line is open yet
  Line& line = *lines_[slot.settings.port];
  if (!line.up() || !line.lost.empty()) return -1;
  if (!line.port->Write(data, len)) {
    line.lost = line.port->error();
    return -1;
  }
  line.turns.Sent(slot.seat, Steady::now());
  return static_cast<int>(len);
}

}  // namespace runner
