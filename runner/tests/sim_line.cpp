#include "sim_line.h"

namespace runner::testing {

sim::MonitorProfile SteadyString(std::uint8_t wire_address, double volts) {
  sim::MonitorProfile profile;
  profile.address = wire_address;
  profile.cells = 30;
  profile.cell_volts = {volts};
  profile.drift_volts = 0.0;
  profile.noise_volts = 0.0;
  return profile;
}

SimLine::SimLine(const std::vector<sim::MonitorProfile>& monitors, bool pace)
    : clock_(std::make_shared<sim::ManualClock>()) {
  sim::Bus bus(sim::BusOptions{1, pace}, clock_);
  for (const sim::MonitorProfile& m : monitors) bus.AddMonitor(m);
  server_ = sim::PortServer::CreatePty(std::move(bus));
  server_->SetListener([this](const sim::Exchange& e) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(e.request);
  });
  server_->Start();
}

SimLine::~SimLine() = default;

std::vector<sim::Bytes> SimLine::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

}  // namespace runner::testing
