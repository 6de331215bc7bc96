#include "sim/counters.h"

namespace sim {

void Counters::Add(const Exchange& exchange) {
  using Outcome = Exchange::Outcome;
  if (exchange.outcome == Outcome::kBadChecksum) {
    ++bad_checksums;
    return;
  }
  ++requests;
  switch (exchange.outcome) {
    case Outcome::kAnswered: ++replies; break;
    case Outcome::kSilent: ++silent; break;
    case Outcome::kOtherAddress: ++other_address; break;
    case Outcome::kUnknownCommand: ++unknown_commands; break;
    case Outcome::kDropped:
    case Outcome::kBadChecksum: break;
  }
  for (Fault fault : exchange.faults) ++faults[FaultIndex(fault)];
}

std::string FormatCounters(const Counters& counters) {
  std::string text;
  auto line = [&text](const std::string& name, uint64_t value) {
    text += name + " " + std::to_string(value) + "\n";
  };
  line("requests", counters.requests);
  line("replies", counters.replies);
  line("bad_checksums", counters.bad_checksums);
  line("other_address", counters.other_address);
  line("unknown_commands", counters.unknown_commands);
  line("silent", counters.silent);
  for (size_t i = 0; i < kFaultKinds; ++i)
    line(FaultName(static_cast<Fault>(i)), counters.faults[i]);
  return text;
}

}  // namespace sim
