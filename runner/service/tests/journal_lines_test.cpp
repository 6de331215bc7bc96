#include "runner/service/journal_lines.h"

#include <gtest/gtest.h>

namespace runner::service {
namespace {

// Each source's events as the host words them; where one source has good
// and bad news, both are here, so a rule that swallows the other shows.
TEST(JournalLinesTest, EveryKindOfEventGetsItsWeight) {
  const struct {
    const char* text;
    Priority priority;
  } cases[] = {
      {"alarm raised: string-A cell 18 (battery_17_value, point 18) low 11.600 < 12.000",
       Priority::kWarning},
      {"alarm cleared: string-A cell 18 (battery_17_value, point 18) low 13.280 >= 12.000",
       Priority::kInfo},
      {"port p: /dev/ttyUSB7: No such file or directory; offline: A, B; retrying",
       Priority::kError},
      {"port p: /dev/ttyUSB7 is back; online again: A, B", Priority::kInfo},
      {"port p: B wants 9600 bit/s; the line runs at 19200", Priority::kWarning},
      {"device A: data stale: no reply for 3 rounds", Priority::kWarning},
      {"device A: data refused: bad sum", Priority::kWarning},
      {"device A: fresh data again", Priority::kInfo},
      {"device A (data id 1): configuration refused, device skipped: bad cells", Priority::kError},
      {"device A: poll tick failed: boom", Priority::kError},
      {"device A: reply handling failed: boom", Priority::kError},
      {"device A: capture stopped: disk full", Priority::kWarning},
      {"device A: last record from history restored", Priority::kInfo},
      {"device A: last record from history refused", Priority::kWarning},
      {"history: disk I/O error; 12 rows pending, retrying", Priority::kError},
      {"history: writing again", Priority::kInfo},
      {"history: rows lost so far: 3", Priority::kError},
      {"history: database is locked", Priority::kWarning},
      {"MQTT: connected to localhost:1883", Priority::kInfo},
      {"MQTT: connection to localhost:1883 lost: keepalive", Priority::kWarning},
      {"MQTT: cannot connect to localhost:1883: Connection refused", Priority::kWarning},
      {"MQTT: localhost:1883 refused the connection: not authorised", Priority::kError},
      {"MQTT: localhost:1883 refused a message on site/1: quota", Priority::kError},
      {"MQTT: the backlog cannot be read from h.db: locked", Priority::kError},
      {"q.log: cannot rotate the log: Permission denied", Priority::kError},
      {"q.log: cannot reopen the log: Permission denied", Priority::kError},
      {"something new", Priority::kInfo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(static_cast<int>(EventPriority(c.text)), static_cast<int>(c.priority));
  }
}

TEST(JournalLinesTest, TheStampIsDroppedAndOneEventStaysOneLine) {
  const struct {
    const char* line;
    const char* journal;
  } cases[] = {
      {"2026-12-09 17:00:33 alarm raised: A x", "<4>alarm raised: A x\n"},
      {"2026-12-09 17:00:33 device A: fresh data again", "<6>device A: fresh data again\n"},
      {"history: rows lost so far: 1", "<3>history: rows lost so far: 1\n"},  // no stamp
      {"2026-12-09 17:00 alarm raised: A", "<6>2026-12-09 17:00 alarm raised: A\n"},
      {"2026-12-09 17:00:33 device A: poll tick failed: a\nb",
       "<3>device A: poll tick failed: a b\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(JournalLine(c.line), c.journal);
  }
}

}  // namespace
}  // namespace runner::service
