#include "sim/bus.h"

#include "random.h"
#include "sim/config_error.h"

namespace sim {

Bus::Bus(BusOptions options, std::shared_ptr<const Clock> clock)
    : options_(options), clock_(clock ? std::move(clock) : std::make_shared<SteadyClock>()) {}

Bus::Bus(const BusConfig& config, std::shared_ptr<const Clock> clock)
    : Bus(config.options, std::move(clock)) {
  for (const MonitorSetup& setup : config.monitors) AddMonitor(setup.profile, setup.faults);
}

const Monitor& Bus::AddMonitor(MonitorProfile profile, FaultPlan faults) {
  if (FindMonitor(profile.address)) {
    throw ConfigError("monitor.address", "two monitors answer to 0x" + HexBytes({profile.address}));
  }
  // Each monitor draws its faults from its own stream, so adding a monitor
  // leaves the others' fault sequences as they were.
  const uint64_t fault_seed = internal::Mix(options_.seed, profile.address);
  auto station = std::make_unique<Station>(Station{Monitor(std::move(profile), options_.seed),
                                                   FaultInjector(std::move(faults), fault_seed)});
  stations_.push_back(std::move(station));
  return stations_.back()->monitor;
}

const Monitor* Bus::FindMonitor(uint8_t address) const {
  for (const auto& station : stations_) {
    if (station->monitor.address() == address) return &station->monitor;
  }
  return nullptr;
}

std::vector<uint8_t> Bus::Addresses() const {
  std::vector<uint8_t> addresses;
  for (const auto& station : stations_) addresses.push_back(station->monitor.address());
  return addresses;
}

Bus::Station* Bus::FindStation(uint8_t address) {
  for (auto& station : stations_) {
    if (station->monitor.address() == address) return station.get();
  }
  return nullptr;
}

std::vector<Exchange> Bus::Hear(const uint8_t* data, size_t count) {
  std::vector<Exchange> exchanges;
  const Micros now = clock_->Now();
  for (const RequestFrame& frame : stream_.Push(data, count)) {
    exchanges.push_back(Serve(frame, now));
    counters_.Add(exchanges.back());
    if (listener_) listener_(exchanges.back());
  }
  return exchanges;
}

std::vector<Chunk> Bus::Feed(const Bytes& data) {
  std::vector<Chunk> chunks;
  for (Exchange& exchange : Hear(data)) {
    for (Chunk& chunk : exchange.reply) chunks.push_back(std::move(chunk));
  }
  return chunks;
}

Exchange Bus::Serve(const RequestFrame& frame, Micros now) {
  using Outcome = Exchange::Outcome;
  Exchange exchange;
  exchange.at = now;
  exchange.request = frame.bytes;
  if (!frame.checksum_ok) {
    exchange.outcome = Outcome::kBadChecksum;
    return exchange;
  }
  Station* station = FindStation(frame.request.address);
  if (!station) {
    exchange.outcome = Outcome::kOtherAddress;
  } else if (!IsKnownCommand(frame.request.code)) {
    exchange.outcome = Outcome::kUnknownCommand;
  } else if (station->monitor.SilentAt(now) || station->injector.SilentAt(now)) {
    exchange.outcome = Outcome::kSilent;
  } else {
    Answer(*station, static_cast<Command>(frame.request.code), exchange);
  }
  return exchange;
}

void Bus::Answer(Station& station, Command command, Exchange& exchange) {
  Delivery delivery =
      station.injector.Deliver(station.monitor.Answer(command, exchange.at), exchange.at);
  exchange.faults = std::move(delivery.faults);
  exchange.reply = std::move(delivery.chunks);
  if (!exchange.reply.empty()) {
    exchange.outcome = Exchange::Outcome::kAnswered;
  } else {
    exchange.outcome = station.injector.SilentAt(exchange.at) ? Exchange::Outcome::kSilent
                                                              : Exchange::Outcome::kDropped;
  }
  if (options_.pace) {
    for (Chunk& chunk : exchange.reply) chunk.byte_time = kByteTime;
  }
}

}  // namespace sim
