#include "runner/metrics/metrics_server.h"

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <netinet/in.h>

namespace runner::metrics {
namespace {

// A loopback port nobody listens on now.
int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

TEST(MetricsServerTest, ServesTheLastSnapshotAndOnlyAtMetrics) {
  const int port = FreePort();
  MetricsServer server("127.0.0.1", port);
  server.Start();
  httplib::Client client("127.0.0.1", port);
  auto res = client.Get("/metrics");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_NE(res->body.find("qorv_rounds_total 0\n"), std::string::npos);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  SiteMetrics snapshot;
  snapshot.round = 12;
  server.Update(snapshot);
  res = client.Get("/metrics");
  ASSERT_TRUE(res);
  EXPECT_NE(res->body.find("qorv_rounds_total 12\n"), std::string::npos);
  res = client.Get("/");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);
  server.Stop();
  EXPECT_FALSE(client.Get("/metrics"));
}

// A second host given the same port must not share it unnoticed.
TEST(MetricsServerTest, APortInUseIsRefusedByAddress) {
  const int port = FreePort();
  MetricsServer first("127.0.0.1", port);
  first.Start();
  MetricsServer second("127.0.0.1", port);
  try {
    second.Start();
    FAIL() << "a second server listens on port " << port;
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(port)), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace runner::metrics
