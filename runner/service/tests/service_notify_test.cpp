#include "runner/service/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_folder.h"

namespace runner::service {
namespace {

using namespace std::chrono_literals;
using Clock = ServiceNotify::Clock;

// A notify socket of our own, as systemd keeps one for a service; the
// environment points at it for as long as it lives.
class NotifySocket {
 public:
  NotifySocket(const std::string& dir, const char* watchdog_usec, const std::string& pid) {
    path_ = dir + "/notify.sock";
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path_;
    ::setenv("NOTIFY_SOCKET", path_.c_str(), 1);
    if (watchdog_usec != nullptr) ::setenv("WATCHDOG_USEC", watchdog_usec, 1);
    if (!pid.empty()) ::setenv("WATCHDOG_PID", pid.c_str(), 1);
  }
  ~NotifySocket() {
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
    ::close(fd_);
  }
  // The messages sent so far, one per datagram.
  std::vector<std::string> Take() {
    std::vector<std::string> out;
    char buffer[512];
    ssize_t n;
    while ((n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) out.emplace_back(buffer, n);
    return out;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

using Messages = std::vector<std::string>;

TEST(ServiceNotifyTest, WithoutSystemdNothingIsSentAndTheLoopKeepsItsPace) {
  ::unsetenv("NOTIFY_SOCKET");
  ::setenv("WATCHDOG_USEC", "1000000", 1);
  ServiceNotify notify;
  ::unsetenv("WATCHDOG_USEC");
  EXPECT_FALSE(notify.active());
  EXPECT_EQ(notify.watchdog().count(), 0);
  EXPECT_EQ(notify.LongestWait(500ms), 500ms);
  notify.Ready();  // must not throw nor block
  notify.Beat(Clock::now());
}

// Whose watchdog it is decides whether there are pings and how often the
// loop must wake for them.
TEST(ServiceNotifyTest, TheWatchdogIsKeptOnlyForThisProcess) {
  const std::string self = std::to_string(::getpid());
  const struct {
    const char* usec;
    std::string pid;
    long watchdog_us;
    std::chrono::milliseconds wait;
  } cases[] = {
      {"1000000", self, 1000000, 250ms}, {"1000000", "", 1000000, 250ms},  // no WATCHDOG_PID: ours
      {"1000000", "1", 0, 500ms},                                          // another process's
      {"8000000", self, 8000000, 500ms}, {"2000", self, 2000, 1ms},       {nullptr, self, 0, 500ms},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.usec ? c.usec : "none") + " pid " + c.pid);
    halvex::testing::TestFolder folder;
    NotifySocket socket(folder.path(), c.usec, c.pid);
    ServiceNotify notify;
    EXPECT_TRUE(notify.active());
    EXPECT_EQ(notify.watchdog().count(), c.watchdog_us);
    EXPECT_EQ(notify.LongestWait(500ms), c.wait);
    notify.Beat(Clock::now());
    EXPECT_EQ(socket.Take(), c.watchdog_us ? Messages{"WATCHDOG=1"} : Messages{});
  }
}

TEST(ServiceNotifyTest, PingsAtHalfTheIntervalAndStatusAtMostOnceASecond) {
  halvex::testing::TestFolder folder;
  NotifySocket socket(folder.path(), "1000000", std::to_string(::getpid()));
  ServiceNotify notify;
  const Clock::time_point t0 = Clock::now();
  const struct {
    const char* step;
    std::chrono::milliseconds at;
    const char* status;  // null: a Beat()
    Messages sent;
  } steps[] = {
      {"ready", 0ms, "", {"READY=1"}},
      {"first beat", 0ms, nullptr, {"WATCHDOG=1"}},
      {"first status", 10ms, "rounds 1, no alarms", {"STATUS=rounds 1, no alarms"}},
      {"too soon to ping", 499ms, nullptr, {}},
      {"status held back", 600ms, "rounds 2, no alarms", {}},
      {"newer status replaces it", 700ms, "rounds 3, 1 alarm active", {}},
      {"half the interval", 700ms, nullptr, {"WATCHDOG=1"}},
      {"held status due", 1010ms, nullptr, {"STATUS=rounds 3, 1 alarm active"}},
      {"next ping due", 1200ms, nullptr, {"WATCHDOG=1"}},
      {"same status again", 2500ms, "rounds 3, 1 alarm active", {}},
      {"nothing held", 2600ms, nullptr, {"WATCHDOG=1"}},
      {"stopping", 2700ms, "", {"STOPPING=1"}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    if (s.status == nullptr)
      notify.Beat(t0 + s.at);
    else if (std::string(s.step) == "ready")
      notify.Ready();
    else if (std::string(s.step) == "stopping")
      notify.Stopping();
    else
      notify.Status(s.status, t0 + s.at);
    EXPECT_EQ(socket.Take(), s.sent);
  }
}

TEST(ServiceNotifyTest, StatusLineCountsRoundsAndAlarms) {
  EXPECT_EQ(StatusLine(0, 0), "rounds 0, no alarms");
  EXPECT_EQ(StatusLine(12, 1), "rounds 12, 1 alarm active");
  EXPECT_EQ(StatusLine(7, 3), "rounds 7, 3 alarms active");
}

}  // namespace
}  // namespace runner::service
