// qorv-host as systemd runs it: a notify socket of the test's own, the
// watchdog's pings from the poll loop (none while that loop is held by the
// stall the test build offers), and the events on standard output (a pipe)
// as journal lines.

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_folder.h"

namespace runner {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Message {
  std::string text;
  Clock::time_point at;
};

// Every message for `wait`, or up to the first that is `stop_at`.
std::vector<Message> Receive(int fd, Clock::duration wait, const std::string& stop_at = "") {
  std::vector<Message> got;
  for (const auto until = Clock::now() + wait; Clock::now() < until;) {
    pollfd p{fd, POLLIN, 0};
    char buffer[512];
    if (::poll(&p, 1, 10) <= 0) continue;
    got.push_back(
        {std::string(buffer, std::max<ssize_t>(0, ::recv(fd, buffer, 512, 0))), Clock::now()});
    if (got.back().text == stop_at) break;
  }
  return got;
}

std::vector<Clock::time_point> Sent(const std::vector<Message>& messages, const std::string& head) {
  std::vector<Clock::time_point> at;
  for (const Message& m : messages)
    if (m.text.rfind(head, 0) == 0) at.push_back(m.at);
  return at;
}

TEST(ServiceTest, ReadyWatchdogFromThePollLoopJournalLinesAndStopping) {
  halvex::testing::TestFolder folder;
  const std::string dir = folder.path(), stall = dir + "/stall";
  sockaddr_un addr{AF_UNIX, {}};
  std::strncpy(addr.sun_path, (dir + "/notify.sock").c_str(), sizeof addr.sun_path - 1);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::setenv("NOTIFY_SOCKET", addr.sun_path, 1);
    ::setenv("WATCHDOG_USEC", "1000000", 1);
    ::setenv("QORV_HOST_TEST_STALL_FILE", stall.c_str(), 1);
    if (::chdir(dir.c_str()) == 0)
      ::execl(QORV_HOST_PATH, QORV_HOST_PATH, "demo", "--log", "run.log", "--db", "d.db", nullptr);
    ::_exit(127);
  }
  ::close(out[1]);

  const auto start = Receive(fd, 15s, "READY=1");
  ASSERT_FALSE(start.empty());
  EXPECT_EQ(start.front().text, "READY=1") << "nothing before the lines are open";
  // Half the watchdog's second, give or take the loop's quarter second.
  const auto running = Receive(fd, 3s);
  const auto pings = Sent(running, "WATCHDOG=1"), status = Sent(running, "STATUS=rounds ");
  ASSERT_GE(pings.size(), 4u);
  for (std::size_t i = 1; i < pings.size(); ++i) {
    EXPECT_GE(pings[i] - pings[i - 1], 400ms) << "ping " << i;
    EXPECT_LE(pings[i] - pings[i - 1], 850ms) << "ping " << i;
  }
  ASSERT_FALSE(status.empty());
  for (std::size_t i = 1; i < status.size(); ++i)
    EXPECT_GE(status[i] - status[i - 1], 900ms) << "status " << i << ": at most once a second";
  // The poll loop held: a ping already on its way may come, then none.
  std::ofstream(stall).put('x');
  Receive(fd, 300ms);
  EXPECT_TRUE(Sent(Receive(fd, 2500ms), "WATCHDOG=1").empty()) << "pings from a stalled loop";
  ::unlink(stall.c_str());
  EXPECT_FALSE(Sent(Receive(fd, 1s), "WATCHDOG=1").empty()) << "pings again once it runs";
  Receive(fd, 3s);  // the demo's first alarms

  ::kill(pid, SIGTERM);
  const auto stop = Receive(fd, 10s, "STOPPING=1");
  EXPECT_TRUE(!stop.empty() && stop.back().text == "STOPPING=1");
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  int exit_status = -1;
  ::waitpid(pid, &exit_status, 0);
  EXPECT_EQ(exit_status, 0);
  ::close(out[0]);
  ::close(fd);
  // No view: only events, each led by its priority; the alarm a warning.
  for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1)
    EXPECT_TRUE(text.compare(at, 3, "<4>") == 0 || text.compare(at, 3, "<6>") == 0) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << "no view drawn";
  EXPECT_NE(text.find("<4>alarm raised: string-A "), std::string::npos) << text;
}

}  // namespace
}  // namespace runner
