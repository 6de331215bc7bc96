// qorv-host as systemd runs it: a notify socket of the test's own, the
// watchdog's pings from the poll loop (and none while that loop is held in a
// stall the test build offers), and the events on standard output as
// journal lines.

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_folder.h"

namespace runner {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// qorv-host in `dir` with `env` added to the environment; its standard
// output is a pipe, standard error goes to dir/stderr.
class Service {
 public:
  Service(const std::string& dir, const std::vector<std::string>& args,
          const std::vector<std::string>& env) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      const std::string err = dir + "/stderr";
      if (!std::freopen(err.c_str(), "w", stderr) || ::chdir(dir.c_str()) != 0) ::_exit(126);
      for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> argv{const_cast<char*>(QORV_HOST_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(QORV_HOST_PATH, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~Service() {
    if (status_ < 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    ::close(out_);
  }
  void Signal(int sig) { ::kill(pid_, sig); }
  // Reads standard output to its end, then the exit status.
  int Wait() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out_, buffer, sizeof buffer)) > 0) out_text_.append(buffer, n);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }
  const std::string& out() const { return out_text_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string out_text_;
};

// The socket systemd would listen on for the service's messages.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
  }
  ~NotifySocket() { ::close(fd_); }
  const std::string& path() const { return path_; }

  struct Message {
    std::string text;
    Clock::time_point at;
  };
  // Every message until `until`; with `stop_at`, up to and including the
  // first message that is `stop_at`.
  std::vector<Message> Until(Clock::time_point until, const std::string& stop_at = "") {
    std::vector<Message> got;
    for (Clock::time_point now = Clock::now(); now < until; now = Clock::now()) {
      pollfd p{fd_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
      if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
      char buffer[512];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) continue;
      got.push_back({std::string(buffer, n), Clock::now()});
      if (!stop_at.empty() && got.back().text == stop_at) break;
    }
    return got;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

std::vector<Clock::time_point> Pings(const std::vector<NotifySocket::Message>& messages) {
  std::vector<Clock::time_point> at;
  for (const auto& m : messages)
    if (m.text == "WATCHDOG=1") at.push_back(m.at);
  return at;
}

TEST(ServiceTest, ReadyThenWatchdogFromThePollLoopAndStoppingOnSigterm) {
  halvex::testing::TestFolder folder;
  const std::string dir = folder.path();
  NotifySocket socket(dir + "/notify.sock");
  const std::string stall = dir + "/stall";
  Service host(dir, {"demo", "--log", "run.log", "--db", "demo.db"},
               {"NOTIFY_SOCKET=" + socket.path(), "WATCHDOG_USEC=1000000",
                "QORV_HOST_TEST_STALL_FILE=" + stall});

  const auto start = socket.Until(Clock::now() + 15s, "READY=1");
  ASSERT_FALSE(start.empty()) << "no message within 15 s";
  EXPECT_EQ(start.front().text, "READY=1") << "nothing before the lines are open";
  std::ifstream log(dir + "/run.log");
  EXPECT_TRUE(log.good()) << "the lines were open before READY=1";

  // Half the watchdog's second, give or take the loop's quarter second.
  const auto running = socket.Until(Clock::now() + 3s);
  const std::vector<Clock::time_point> pings = Pings(running);
  ASSERT_GE(pings.size(), 4u);
  for (std::size_t i = 1; i < pings.size(); ++i) {
    EXPECT_GE(pings[i] - pings[i - 1], 400ms) << "ping " << i;
    EXPECT_LE(pings[i] - pings[i - 1], 850ms) << "ping " << i;
  }
  bool status = false;
  for (const auto& m : running) status |= m.text.rfind("STATUS=rounds ", 0) == 0;
  EXPECT_TRUE(status) << "a status line while running";

  // The poll loop held: a ping already on its way may come, then none.
  std::ofstream(stall).put('x');
  socket.Until(Clock::now() + 300ms);
  EXPECT_TRUE(Pings(socket.Until(Clock::now() + 2500ms)).empty()) << "pings from a stalled loop";
  ::unlink(stall.c_str());
  EXPECT_FALSE(Pings(socket.Until(Clock::now() + 1s)).empty()) << "pings again once it runs";

  host.Signal(SIGTERM);
  const auto stop = socket.Until(Clock::now() + 10s, "STOPPING=1");
  ASSERT_FALSE(stop.empty());
  EXPECT_EQ(stop.back().text, "STOPPING=1");
  EXPECT_EQ(host.Wait(), 0);
}

// Standard output a pipe and no --json: no view, only events, each led by
// the priority the journal files it under; the device log keeps them too.
TEST(ServiceTest, EventsGoToStandardOutputAsJournalLines) {
  halvex::testing::TestFolder folder;
  const std::string dir = folder.path();
  std::ofstream(dir + "/gone.json") << R"({"poll_period_s": 0.1, "reply_timeout_ms": 50,
      "ports": [{"name": "p", "path": ")" + dir +
                                           R"(/no-such-tty"}],
      "devices": [{"name": "A", "data_id": 1, "address": 1, "port": "p"}]})";
  const struct {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> lines;  // each the start of a line on stdout
  } cases[] = {
      {{"gone.json", "--rounds", "3", "--plugin", HALVEX_PLUGIN_PATH}, 4, {"<3>port p: "}},
      {{"demo", "--no-pace", "--rounds", "15"},
       0,
       {"<4>alarm raised: string-A ", "<4>alarm raised: string-B ", "<6>alarm cleared: string-A "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    std::vector<std::string> args = c.args;
    for (const char* a : {"--log", "run.log", "--db", "run.db"}) args.push_back(a);
    Service host(dir, args, {});
    EXPECT_EQ(host.Wait(), c.status);
    std::istringstream out(host.out());
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(out, line)) {
      EXPECT_TRUE(std::regex_match(line, std::regex("<[346]>[^\\x1b]+"))) << line;
      lines.push_back(line);
    }
    for (const std::string& want : c.lines) {
      bool found = false;
      for (const std::string& l : lines) found |= l.rfind(want, 0) == 0;
      EXPECT_TRUE(found) << want << " in:\n" << host.out();
    }
    std::stringstream log;
    log << std::ifstream(dir + "/run.log").rdbuf();
    EXPECT_NE(log.str().find("host: "), std::string::npos) << "the log keeps the events";
    ::unlink((dir + "/run.log").c_str());
    ::unlink((dir + "/run.db").c_str());
  }
}

}  // namespace
}  // namespace runner
