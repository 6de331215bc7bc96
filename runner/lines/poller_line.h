#pragma once
// One serial line of the Poller and the devices on it. Private to the host's
// own files: start-up (poller.cpp), line retry (line_retry.cpp) and the poll
// loop (poll_loop.cpp).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runner/lines/bus_turns.h"
#include "runner/lines/poller.h"
#include "runner/lines/serial_port.h"
#include "sim/port_server.h"

namespace runner {

// One serial line and the devices on it.
struct Poller::Line {
  std::size_t index = 0;
  std::string path;                         // opened from; a simulator's pseudo-terminal
  std::unique_ptr<sim::PortServer> server;  // a simulated line's monitors
  std::unique_ptr<SerialPort> port;         // open while the line is up
  std::vector<DeviceSlot*> devices;         // in site order; seat = index here
  BusTurns turns{0, std::chrono::milliseconds(0)};
  int baud = 0;
  std::chrono::steady_clock::time_point retry_at{};
  std::chrono::milliseconds backoff{0};
  bool down_reported = false;
  std::string down_why;           // why it last went down, while it is down
  std::string lost;               // set by a failed write, handled after the call
  std::uint64_t stray_bytes = 0;  // bytes heard while nobody held the line

  bool up() const { return port && port->is_open(); }
};

}  // namespace runner
