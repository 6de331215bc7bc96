#include "runner/service/journal_lines.h"

#include <gtest/gtest.h>

namespace runner::service {
namespace {

// Good and bad news of one source side by side, so a rule that swallows
// the other shows; the stamp goes, one event stays one line.
TEST(JournalLinesTest, EachEventLedByItsPriority) {
  const char* const cases[][2] = {
      {"2026-12-09 17:00:33 alarm raised: A x < 1", "<4>alarm raised: A x < 1\n"},
      {"2026-12-09 17:00:33 alarm cleared: A", "<6>alarm cleared: A\n"},
      {"2026-12-09 17:00 alarm raised: A", "<6>2026-12-09 17:00 alarm raised: A\n"},
      {"port p: x; offline: A; retrying", "<3>port p: x; offline: A; retrying\n"},
      {"port p: x is back; online again: A", "<6>port p: x is back; online again: A\n"},
      {"device A: poll tick failed: a\nb", "<3>device A: poll tick failed: a b\n"},
      {"history: e; 1 rows pending, retrying", "<3>history: e; 1 rows pending, retrying\n"},
      {"history: writing again", "<6>history: writing again\n"},
      {"reload refused: s.json: mqtt: x", "<3>reload refused: s.json: mqtt: x\n"},
      {"site reloaded: 3 kept, 1 added", "<6>site reloaded: 3 kept, 1 added\n"},
      {"history: locked", "<4>history: locked\n"},
      {"MQTT: connected to h", "<6>MQTT: connected to h\n"},
      {"MQTT: h refused the connection: x", "<3>MQTT: h refused the connection: x\n"},
      {"MQTT: cannot connect to h: x", "<4>MQTT: cannot connect to h: x\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(JournalLine(c[0]), c[1]);
}

}  // namespace
}  // namespace runner::service
