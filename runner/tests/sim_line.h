#pragma once
// A simulated serial line for end-to-end tests: monitors on a sim::Bus,
// served on a pseudo-terminal by a background thread, with a simulator
// clock the test moves (events and silences happen when the test says).

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/clock.h"
#include "sim/port_server.h"

namespace runner::testing {

// A steady 30-block string at `volts` a block, no drift and no noise, so a
// test can say exactly what the device must decode.
sim::MonitorProfile SteadyString(std::uint8_t wire_address, double volts);

class SimLine {
 public:
  explicit SimLine(const std::vector<sim::MonitorProfile>& monitors, bool pace = false);
  ~SimLine();

  const std::string& Path() const { return server_->Path(); }
  // Moves the monitors' clock to `seconds` after the start of the run.
  void SetTime(double seconds) { clock_->Set(sim::FromSeconds(seconds)); }
  // The request frames heard so far, in order.
  std::vector<sim::Bytes> Requests() const;
  // Closes the pseudo-terminal: the line disappears under the host.
  void Unplug() { server_.reset(); }

 private:
  std::shared_ptr<sim::ManualClock> clock_;
  std::unique_ptr<sim::PortServer> server_;
  mutable std::mutex mutex_;
  std::vector<sim::Bytes> requests_;
};

}  // namespace runner::testing
