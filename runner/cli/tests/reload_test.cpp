// qorv-host told by SIGHUP to read its site file again, while it polls: a
// device added, another's limits changed, the others polling on without a
// gap; then a file it cannot use, which leaves the site running as it was.
// (The keys only a restart can change: runner/lines/tests/site_reload_test.)

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
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
std::string SiteText(double a1_high, bool with_b3) {
  std::string text = R"({"poll_period_s": 1, "history_db": "h.db",
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

// The host on the site file in `dir`, its JSON lines read as they come
// (one a round).
class HostRun {
 public:
  explicit HostRun(const std::string& dir) {
    int out[2] = {-1, -1};
    [[maybe_unused]] const int piped = ::pipe(out);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      if (::chdir(dir.c_str()) == 0)
        ::execl(QORV_HOST_PATH, QORV_HOST_PATH, "site.json", "--json", "--log", "run.log", nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = ::fdopen(out[0], "r");
  }
  ~HostRun() {
    if (pid_ > 0) Stop();
    std::fclose(out_);
  }

  // Lines until `done` says so or `wait` passes; false on the timeout.
  bool ReadUntil(Clock::duration wait, const std::function<bool(const Line&)>& done) {
    char text[1 << 16];
    for (const auto until = Clock::now() + wait; Clock::now() < until;) {
      if (std::fgets(text, sizeof text, out_) == nullptr) return false;
      Line line{Json::Value(), Clock::now()};
      std::istringstream in(text);
      Json::parseFromStream(Json::CharReaderBuilder(), in, &line.json, nullptr);
      lines.push_back(line);
      if (done(line)) return true;
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
  std::FILE* out_ = nullptr;
};

// The device's completed rounds as the line tells them; 0 when it is absent.
std::uint64_t Rounds(const Line& line, const std::string& name) {
  for (const Json::Value& d : line.json["devices"])
    if (d["name"].asString() == name) return d["link"]["rounds"].asUInt64();
  return 0;
}

// An event, after its time stamp, that begins with `head`.
bool Told(const Line& line, const std::string& head) {
  for (const Json::Value& e : line.json["events"])
    if (e.asString().find(" " + head) != std::string::npos) return true;
  return false;
}

// The longest time between the lines at which the device's round count grew.
Clock::duration LongestGap(const std::vector<Line>& lines, const std::string& name) {
  Clock::duration longest{};
  std::uint64_t rounds = 0;
  for (std::size_t i = 0, last = 0; i < lines.size(); ++i) {
    if (Rounds(lines[i], name) <= rounds) continue;
    if (rounds > 0) longest = std::max(longest, lines[i].at - lines[last].at);
    rounds = Rounds(lines[i], name);
    last = i;
  }
  return longest;
}

TEST(ReloadTest, SighupAddsADeviceAppliesNewLimitsAndKeepsTheOthersPolling) {
  halvex::testing::TestFolder folder;
  const std::string site = folder.path() + "/site.json";
  const std::vector<std::string> stay = {"a1", "a2", "b1", "b2"};
  Save(site, SiteText(14.0, false));
  HostRun host(folder.path());
  ASSERT_TRUE(host.ReadUntil(15s, [&](const Line& line) {
    return std::all_of(stay.begin(), stay.end(), [&](auto& d) { return Rounds(line, d) > 1; });
  })) << "not every device polled";

  Save(site, SiteText(13.1, true));
  const std::size_t mark = host.lines.size();
  host.Signal(SIGHUP);
  const auto since = [&](const std::function<bool(const Line&)>& what) {
    return std::any_of(host.lines.begin() + mark, host.lines.end(), what);
  };
  const auto reloaded = [](const Line& l) {
    return Told(l, "site reloaded: 3 kept, 1 added, 0 removed, 1 changed");
  };
  const auto added = [](const Line& l) { return Rounds(l, "b3") > 0; };
  const auto alarmed = [](const Line& l) { return Told(l, "alarm raised: a1 "); };
  host.ReadUntil(10s,
                 [&](const Line&) { return since(reloaded) && since(added) && since(alarmed); });
  EXPECT_TRUE(since(reloaded));
  EXPECT_TRUE(since(added)) << "the added device";
  EXPECT_TRUE(since(alarmed)) << "the new limit";
  host.ReadUntil(2s, [](const Line&) { return false; });
  for (const std::string& name : stay)
    EXPECT_LE(LongestGap(host.lines, name), 1500ms) << name << " missed a round across the reload";

  // A file that is no JSON: not applied, and the site polls on.
  Save(site, "{\"ports\": [");
  host.Signal(SIGHUP);
  EXPECT_TRUE(host.ReadUntil(
      5s, [](const Line& l) { return Told(l, "reload refused: site.json: (syntax): "); }));
  const std::uint64_t rounds = Rounds(host.lines.back(), "b3");
  EXPECT_TRUE(host.ReadUntil(5s, [&](const Line& l) { return Rounds(l, "b3") > rounds; }));
  const int status = host.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace runner
