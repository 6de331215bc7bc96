#include "runner/site/metrics_address.h"

#include <gtest/gtest.h>

namespace runner {
namespace {

TEST(MetricsAddressTest, FormsAndTheirText) {
  struct Case {
    const char* text;
    const char* host;
    int port;
    const char* back;  // Text()
  };
  const Case cases[] = {
      {"9108", "127.0.0.1", 9108, "127.0.0.1:9108"},  // a port alone stays on this machine
      {"0.0.0.0:1", "0.0.0.0", 1, "0.0.0.0:1"},
      {"192.168.1.20:65535", "192.168.1.20", 65535, "192.168.1.20:65535"},
      {"[::1]:9108", "::1", 9108, "[::1]:9108"},
      {"localhost:9108", "localhost", 9108, "localhost:9108"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const MetricsAddress a = ParseMetricsAddress(c.text);
    EXPECT_EQ(a.host, c.host);
    EXPECT_EQ(a.port, c.port);
    EXPECT_EQ(a.Text(), c.back);
  }
}

}  // namespace
}  // namespace runner
