#pragma once
// Several monitors sharing one serial line, as on an RS-485 bus.
//
// The bus hears the device's byte stream, cuts requests out of it, lets the
// addressed monitor answer (the others keep quiet), passes the reply through
// that monitor's fault plan and hands back timed chunks for the line. It
// never sleeps and never touches a port: a test feeds bytes and hands the
// chunks to a device, a PortServer writes them to a pseudo-terminal.
//
//   sim::Bus bus({/*seed=*/7, /*pace=*/false}, clock);
//   bus.AddMonitor(profile);                                 // address 0x81
//   for (const sim::Chunk& c : bus.Feed(sim::EncodeRequest(0x81, sim::Command::kCurrent)))
//     device.process(c.bytes.data(), c.bytes.size());
//
// Not thread-safe; one caller at a time.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "sim/chunk.h"
#include "sim/clock.h"
#include "sim/counters.h"
#include "sim/exchange.h"
#include "sim/fault_injector.h"
#include "sim/faults.h"
#include "sim/monitor.h"
#include "sim/profile.h"
#include "sim/request_stream.h"

namespace sim {

struct BusOptions {
  uint64_t seed = 1;  // fixes reading noise, drift phases and every fault decision
  bool pace = false;  // space reply bytes at 19200 bit/s (Chunk::byte_time)
};

// One monitor with the faults of its replies.
struct MonitorSetup {
  MonitorProfile profile;
  FaultPlan faults;
};

// Everything a bus is built from; config.h reads it from JSON or text.
struct BusConfig {
  BusOptions options;
  std::vector<MonitorSetup> monitors;
};

class Bus {
 public:
  // A null clock means real time from now on.
  explicit Bus(BusOptions options = {}, std::shared_ptr<const Clock> clock = nullptr);
  // Throws ConfigError as AddMonitor does.
  explicit Bus(const BusConfig& config, std::shared_ptr<const Clock> clock = nullptr);

  // Adds a monitor. Throws ConfigError for a bad profile or fault plan, or
  // an address that another monitor on this bus already answers to.
  const Monitor& AddMonitor(MonitorProfile profile, FaultPlan faults = {});
  const Monitor* FindMonitor(uint8_t address) const;
  std::vector<uint8_t> Addresses() const;

  // Takes bytes heard on the line; returns one exchange per request frame
  // they complete, stamped with the clock's time now.
  std::vector<Exchange> Hear(const uint8_t* data, size_t count);
  std::vector<Exchange> Hear(const Bytes& data) { return Hear(data.data(), data.size()); }

  // As Hear, but only the reply chunks, in line order.
  std::vector<Chunk> Feed(const Bytes& data);

  // Called with every exchange, after the counters are updated.
  void SetListener(std::function<void(const Exchange&)> listener) {
    listener_ = std::move(listener);
  }

  const Counters& counters() const { return counters_; }
  const BusOptions& options() const { return options_; }
  const Clock& clock() const { return *clock_; }

 private:
  struct Station {
    Monitor monitor;
    FaultInjector injector;
  };

  Exchange Serve(const RequestFrame& frame, Micros now);
  void Answer(Station& station, Command command, Exchange& exchange);
  Station* FindStation(uint8_t address);

  BusOptions options_;
  std::shared_ptr<const Clock> clock_;
  std::vector<std::unique_ptr<Station>> stations_;
  RequestStream stream_;
  Counters counters_;
  std::function<void(const Exchange&)> listener_;
};

}  // namespace sim
