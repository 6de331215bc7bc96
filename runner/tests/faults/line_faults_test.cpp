// Serial lines under faults: a line another program holds, a line whose
// writes stall, and a string with fewer blocks than its monitor has slots.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "fault_fixture.h"
#include "runner/host_runtime.h"
#include "runner/line_lock.h"
#include "sim_line.h"

namespace runner {
namespace {

using faults::ScratchDir;
using testing::SimLine;
using testing::SteadyString;

class LineFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = ScratchDir(); }

  // A site of one port `p` at `path` with device A (address 1) on it.
  Site OneLineSite(const std::string& path, const std::string& db,
                   const std::string& config = "{}") {
    const std::string text = R"({"poll_period_s": 0.2, "reply_timeout_ms": 150, "history_db": ")" +
                             dir_ + "/" + db + R"(", "ports": [{"name": "p", "path": ")" + path +
                             R"("}], "devices": [{"name": "A", "data_id": 1, "address": 1, "port": "p",
                             "config": )" + config + "}]}";
    return ParseSite(ParseSiteJson(text, "test site"), "test site", "");
  }

  std::unique_ptr<Host> Start(Site site, std::vector<std::string>* events) {
    HostOptions options;
    options.event_sink = [events](const std::string& line) { events->push_back(line); };
    options.default_plugin = HALVEX_PLUGIN_PATH;
    options.retry_first = std::chrono::milliseconds(100);
    options.retry_most = std::chrono::milliseconds(200);
    auto host = std::make_unique<Host>(std::move(site), options);
    host->Start();
    return host;
  }

  static std::string With(const std::vector<std::string>& events, const std::string& part) {
    for (const std::string& e : events)
      if (e.find(part) != std::string::npos) return e;
    return "";
  }

  std::string dir_;
};

TEST_F(LineFaultTest, ASecondHostOnTheSameLineIsRefusedNamingTheFirstAndTakesOverWhenItGoes) {
  SimLine line({SteadyString(0x81, 13.2)});
  std::vector<std::string> first_events, second_events;
  auto first = Start(OneLineSite(line.Path(), "first.db"), &first_events);
  first->Run(2, [](const RoundReport&) {});
  ASSERT_TRUE(first->PortOnline(0));

  auto second = Start(OneLineSite(line.Path(), "second.db"), &second_events);
  second->Run(2, [](const RoundReport&) {});
  EXPECT_FALSE(second->PortOnline(0));
  const std::string refusal = With(second_events, "port p: " + line.Path() + " is in use by pid " +
                                                      std::to_string(::getpid()) + " (");
  EXPECT_FALSE(refusal.empty()) << (second_events.empty() ? "no events" : second_events.back());
  first->Run(2, [](const RoundReport&) {});
  EXPECT_EQ(first->devices()[0]->link.counters().rounds, 4u) << "the holder keeps its line";

  first.reset();
  second->Run(6, [](const RoundReport&) {});
  EXPECT_TRUE(second->PortOnline(0)) << "a refused line is retried like a lost one";
  EXPECT_GT(second->devices()[0]->link.counters().rounds, 0u);
}

// A lock file in the shared lock folder: one whose PID is gone is stale and
// taken over; one of a live program keeps the line from us.
TEST_F(LineFaultTest, LockFilesOfLiveHoldersAreHonouredAndStaleOnesTakenOver) {
  const std::string lock_dir = "/run/lock";
  if (::access(lock_dir.c_str(), W_OK) != 0) GTEST_SKIP() << lock_dir << " is not writable here";
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  struct Case {
    const char* name;
    pid_t holder;
    bool online;
  } cases[] = {{"dead holder", gone, true}, {"live holder", 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimLine line({SteadyString(0x81, 13.2)});
    const std::string lock_file = lock_dir + "/" + LockFileName(line.Path());
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(c.holder));
    faults::WriteText(lock_file, text);
    std::vector<std::string> events;
    auto host = Start(OneLineSite(line.Path(), std::string(c.name) + ".db"), &events);
    host->Run(1, [](const RoundReport&) {});
    EXPECT_EQ(host->PortOnline(0), c.online);
    if (!c.online) {
      EXPECT_FALSE(With(events, "is in use by pid 1").empty());
      ::unlink(lock_file.c_str());
    } else {
      EXPECT_EQ(std::stoi(faults::ReadText(lock_file)), ::getpid()) << "the lock file is ours now";
      host.reset();
      EXPECT_NE(::access(lock_file.c_str(), F_OK), 0) << "removed when the line is closed";
    }
  }
}

// The line's output is suspended, so a request cannot be sent: the
// message must say so, not leave the reason empty.
TEST_F(LineFaultTest, ALineLostOnAStalledWriteTellsWhy) {
  int master = -1, slave = -1;
  char name[64];
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  std::vector<std::string> events;
  auto host = Start(OneLineSite(name, "stall.db"), &events);
  ASSERT_TRUE(host->PortOnline(0));
  ASSERT_EQ(::tcflow(slave, TCOOFF), 0);  // the line takes no more output
  host->Run(3, [](const RoundReport&) {});
  EXPECT_EQ(With(events, "port p: " + std::string(name) + ": write stalled; offline: A; retrying"),
            With(events, "offline: A"))
      << (events.empty() ? "no events" : events.back());
  EXPECT_FALSE(With(events, "offline: A").empty());
  host.reset();
  ::close(slave);
  ::close(master);
}

// A 24-block string on a 30-slot monitor: the empty slots read 0 V and
// must not count as the string's weakest cells.
TEST_F(LineFaultTest, ExtremesCoverTheConfiguredBlocksOnly) {
  sim::MonitorProfile profile = SteadyString(0x81, 13.2);
  profile.cells = 24;
  SimLine line({profile});
  std::vector<std::string> events;
  auto host = Start(OneLineSite(line.Path(), "short.db", R"({"appSetting": {"group_index": 1, "amount": 24}})"),
                    &events);
  host->Run(2, [](const RoundReport&) {});
  const HostView view = host->View();
  ASSERT_EQ(view.devices.size(), 1u);
  const DeviceView& d = view.devices[0];
  ASSERT_EQ(d.state, DataState::kFresh);
  EXPECT_EQ(d.cells.size(), 24u);
  ASSERT_TRUE(d.min_cell && d.Spread());
  EXPECT_NEAR(d.min_cell->volts, 13.2f, 0.01f);
  EXPECT_LT(*d.Spread(), 0.01f);
}

}  // namespace
}  // namespace runner
