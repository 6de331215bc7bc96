#pragma once
// Where the publishing of rounds to a broker stands, for the view, the JSON
// lines and the summary at exit.

#include <cstdint>
#include <string>

namespace runner {

struct PublishCounts {
  std::uint64_t published = 0;  // state messages the broker acknowledged
  std::uint64_t waiting = 0;    // state messages kept for the broker, not acknowledged
  std::uint64_t backlog = 0;    // sent again after an outage (some may wait for their ack)
  std::uint64_t skipped = 0;    // older than the backlog limit: not sent
  std::uint64_t lost = 0;       // could not be sent nor kept (no history)
  bool connected = false;
  std::string broker;   // host:port
  std::string trouble;  // why the broker is away, while it is
};

}  // namespace runner
