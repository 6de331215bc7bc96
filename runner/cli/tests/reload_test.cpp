// qorv-host told by SIGHUP to read its site file again, while it polls: a
// device added, another's limits changed, the others polling on without a
// gap; then a file it cannot use, which leaves the site running as it was.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/json.h>

#include "tests/support/test_folder.h"

namespace runner {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Two simulated lines; the second has a monitor at address 3 that no device
// polls yet.
std::string SiteText(double a1_high, bool with_b3, const std::string& db = "h.db") {
  std::string text = R"({"poll_period_s": 1, "history_db": ")" + db + R"(",
  "ports": [{"name": "pa", "path": "sim"},
            {"name": "pb", "path": "sim", "sim": {"monitors": [
              {"device_address": 1}, {"device_address": 2}, {"device_address": 3}]}}],
  "devices": [
    {"name": "a1", "data_id": 1, "address": 1, "port": "pa",
     "limits": [{"name": "battery_0_value", "high": )" +
                     std::to_string(a1_high) + R"(}]},
    {"name": "a2", "data_id": 2, "address": 2, "port": "pa"},
    {"name": "b1", "data_id": 3, "address": 1, "port": "pb"},
    {"name": "b2", "data_id": 4, "address": 2, "port": "pb"})";
  if (with_b3)
    text += R"(,
    {"name": "b3", "data_id": 5, "address": 3, "port": "pb"})";
  return text + "]}\n";
}

// Written whole, then renamed over the site file, as an editor saves it.
void Save(const std::string& path, const std::string& text) {
  std::ofstream(path + ".new") << text;
  ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
}

struct Line {
  Json::Value json;
  Clock::time_point at;
};

class HostRun {
 public:
  explicit HostRun(const std::string& dir) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      if (::chdir(dir.c_str()) == 0)
        ::execl(QORV_HOST_PATH, QORV_HOST_PATH, "site.json", "--json", "--log", "run.log", nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
  }
  ~HostRun() {
    if (pid_ > 0) Stop();
    ::close(fd_);
  }

  // Lines until `done` says so or `wait` passes; false on the timeout.
  bool ReadUntil(Clock::duration wait, const std::function<bool(const Line&)>& done) {
    for (const auto until = Clock::now() + wait; Clock::now() < until;) {
      for (std::size_t eol; (eol = pending_.find('\n')) != std::string::npos;) {
        Line line{Json::Value(), Clock::now()};
        std::istringstream in(pending_.substr(0, eol));
        pending_.erase(0, eol + 1);
        Json::parseFromStream(Json::CharReaderBuilder(), in, &line.json, nullptr);
        lines.push_back(line);
        if (done(line)) return true;
      }
      pollfd p{fd_, POLLIN, 0};
      char buffer[8192];
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) return false;
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
    return false;
  }

  void Signal(int number) { ::kill(pid_, number); }
  int Stop() {
    Signal(SIGTERM);
    ReadUntil(10s, [](const Line&) { return false; });
    int status = -1;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  std::vector<Line> lines;

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string pending_;
};

const Json::Value* Device(const Line& line, const std::string& name) {
  for (const Json::Value& d : line.json["devices"])
    if (d["name"].asString() == name) return &d;
  return nullptr;
}

// An event, after its time stamp, that begins with `head`.
std::function<bool(const Line&)> EventLike(const std::string& head) {
  return [head](const Line& line) {
    for (const Json::Value& e : line.json["events"])
      if (e.asString().find(" " + head) != std::string::npos) return true;
    return false;
  };
}

std::function<bool(const Line&)> Polled(const std::string& name) {
  return [name](const Line& line) {
    const Json::Value* d = Device(line, name);
    return d && (*d)["link"]["rounds"].asUInt64() > 0;
  };
}

// The longest time between the lines at which the device's round count grew.
Clock::duration LongestGap(const std::vector<Line>& lines, const std::string& name) {
  Clock::duration longest{};
  std::optional<Clock::time_point> last;
  std::uint64_t rounds = 0;
  for (const Line& line : lines) {
    const Json::Value* d = Device(line, name);
    if (!d || (*d)["link"]["rounds"].asUInt64() <= rounds) continue;
    rounds = (*d)["link"]["rounds"].asUInt64();
    if (last) longest = std::max(longest, line.at - *last);
    last = line.at;
  }
  return longest;
}

TEST(ReloadTest, SighupAddsADeviceAppliesNewLimitsAndKeepsTheOthersPolling) {
  halvex::testing::TestFolder folder;
  const std::string site = folder.path() + "/site.json";
  Save(site, SiteText(14.0, false));
  HostRun host(folder.path());
  for (const char* name : {"a1", "a2", "b1", "b2"})
    ASSERT_TRUE(host.ReadUntil(15s, Polled(name))) << name << " never polled";
  ASSERT_TRUE(host.ReadUntil(5s, Polled("a1")));  // once more: all of them are in their pace

  Save(site, SiteText(13.1, true));
  const std::size_t mark = host.lines.size();
  host.Signal(SIGHUP);
  const auto reloaded = EventLike("site reloaded: 3 kept, 1 added, 0 removed, 1 changed");
  const auto alarmed = EventLike("alarm raised: a1 ");
  const auto since = [&](const std::function<bool(const Line&)>& what) {
    return std::any_of(host.lines.begin() + mark, host.lines.end(), what);
  };
  host.ReadUntil(
      10s, [&](const Line&) { return since(reloaded) && since(Polled("b3")) && since(alarmed); });
  EXPECT_TRUE(since(reloaded));
  EXPECT_TRUE(since(Polled("b3"))) << "the added device";
  EXPECT_TRUE(since(alarmed)) << "the new limit";
  const Json::Value* a1 = Device(host.lines.back(), "a1");
  ASSERT_TRUE(a1 && (*a1)["alarms"].size() == 1u);
  EXPECT_NEAR((*a1)["alarms"][0]["limit"].asDouble(), 13.1, 1e-6);
  host.ReadUntil(2s, [](const Line&) { return false; });
  for (const char* name : {"a1", "a2", "b1", "b2"}) {
    SCOPED_TRACE(name);
    EXPECT_LE(LongestGap(host.lines, name), 1500ms) << "a round missed across the reload";
  }

  // A file that is no JSON, then one that moves the database: neither is
  // applied, and the site polls on.
  struct Refusal {
    const char* name;
    std::string text, event;
  };
  for (const Refusal& r : {Refusal{"broken", "{\"ports\": [", "reload refused: site.json: "},
                           Refusal{"database moved", SiteText(13.1, true, "other.db"),
                                   "reload refused: site.json: history_db: "}}) {
    SCOPED_TRACE(r.name);
    Save(site, r.text);
    host.Signal(SIGHUP);
    EXPECT_TRUE(host.ReadUntil(5s, EventLike(r.event)));
    const std::uint64_t rounds = (*Device(host.lines.back(), "b3"))["link"]["rounds"].asUInt64();
    EXPECT_TRUE(host.ReadUntil(5s, [&](const Line& line) {
      return Device(line, "b3") && (*Device(line, "b3"))["link"]["rounds"].asUInt64() > rounds;
    }));
  }
  const int status = host.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace runner
