#pragma once
// One request heard on the line and what the bus did about it, and its
// line in the exchange log:
//
//   > FE FE 81 A1 22
//   < ED 81 05 32 ... F3
//   < ED 81 | 01 F4 76  (split)      chunk boundaries as |, injected faults after
//   < -  (drop)                      nothing sent, and why

#include <string>
#include <vector>

#include "sim/chunk.h"
#include "sim/clock.h"
#include "sim/faults.h"
#include "sim/wire.h"

namespace sim {

struct Exchange {
  enum class Outcome {
    kAnswered,        // a reply went out, possibly faulty
    kDropped,         // the drop fault swallowed the reply
    kSilent,          // the monitor was silent (scripted or injected)
    kOtherAddress,    // no monitor here has that address
    kBadChecksum,     // the request frame failed its checksum
    kUnknownCommand,  // a good frame with a code other than A1..A4
  };
  Micros at{0};  // bus clock time the request was complete
  Bytes request;
  Outcome outcome = Outcome::kOtherAddress;
  std::vector<Chunk> reply;
  std::vector<Fault> faults;
};

const char* OutcomeName(Exchange::Outcome outcome);

// "FE FE 81 A1 22": upper-case hex, one space between bytes.
std::string HexBytes(const Bytes& bytes);

// The two log lines of an exchange, each ending in a newline.
std::string FormatExchange(const Exchange& exchange);

}  // namespace sim
