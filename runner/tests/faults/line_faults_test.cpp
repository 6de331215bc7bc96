// Serial lines under faults: a line another program holds, a line whose
// writes stall, and a string with fewer blocks than its monitor has slots.
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "fault_fixture.h"
#include "runner/lines/line_lock.h"
#include "runner/lines/poller.h"
#include "sim_line.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

using testing::SimLine;
using testing::SteadyString;

class LineFaultTest : public ::testing::Test {
 protected:
  // A host with device A (address 1, `config`) on port p at `path`.
  std::unique_ptr<Poller> Start(const std::string& path, const std::string& config = "{}") {
    const std::string text = R"({"poll_period_s": 0.2, "reply_timeout_ms": 150, "history_db": ")" +
                             dir_ + "/" + std::to_string(hosts_++) +
                             R"(.db", "ports": [{"name": "p",
        "path": ")" + path + R"("}], "devices": [{"name": "A", "data_id": 1, "address": 1,
        "port": "p", "config": )" +
                             config + "}]}";
    PollerOptions options;
    options.event_sink = [this](const std::string& line) { events_ += line.substr(20) + "\n"; };
    options.default_plugin = HALVEX_PLUGIN_PATH;
    options.retry_first = options.retry_most = std::chrono::milliseconds(100);
    auto host =
        std::make_unique<Poller>(ParseSite(ParseSiteJson(text, "site"), "site", ""), options);
    host->Start();
    return host;
  }
  static void Rounds(Poller& host, unsigned n) {
    host.Run(n, [](const RoundReport&) {});
  }

  halvex::testing::TestFolder folder_;
  std::string dir_ = folder_.path();
  int hosts_ = 0;
  std::string events_;
};

TEST_F(LineFaultTest, ASecondHostOnTheSameLineIsRefusedNamingTheFirstAndTakesOverWhenItGoes) {
  SimLine line({SteadyString(0x81, 13.2)});
  auto first = Start(line.Path());
  Rounds(*first, 2);
  auto second = Start(line.Path());
  Rounds(*second, 2);
  EXPECT_FALSE(second->PortOnline(0));
  EXPECT_NE(events_.find("port p: " + line.Path() + " is in use by pid " +
                         std::to_string(::getpid()) + " ("),
            std::string::npos)
      << events_;
  first.reset();
  Rounds(*second, 6);
  EXPECT_TRUE(second->PortOnline(0)) << "a refused line is retried like a lost one";
}

// In the lock folder (the test's own, through QORV_LOCK_DIR), a lock file
// of a live program keeps the line from us; one whose PID is gone is stale
// and taken over.
TEST_F(LineFaultTest, LockFilesOfLiveHoldersAreHonouredAndStaleOnesTakenOver) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  for (const pid_t holder : {pid_t{1}, gone}) {
    SCOPED_TRACE(holder);
    SimLine line({SteadyString(0x81, 13.2)});
    const std::string lock_file = dir_ + "/" + LockFileName(line.Path());
    faults::WriteText(lock_file, std::to_string(holder) + "\n");
    auto host = Start(line.Path());
    Rounds(*host, 1);
    EXPECT_EQ(host->PortOnline(0), holder == gone);
    EXPECT_EQ(std::stoi(faults::ReadText(lock_file)), holder == gone ? ::getpid() : 1);
    host.reset();
    EXPECT_EQ(::unlink(lock_file.c_str()) == 0, holder == 1) << "ours is removed with the line";
  }
  EXPECT_NE(events_.find(" is in use by pid 1 ("), std::string::npos) << events_;
}

TEST_F(LineFaultTest, ALineLostOnAStalledWriteTellsWhy) {
  int master = -1, slave = -1;
  char name[64];
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  auto host = Start(name);
  ASSERT_EQ(::tcflow(slave, TCOOFF), 0);  // the line takes no more output
  Rounds(*host, 3);
  EXPECT_NE(events_.find("port p: " + std::string(name) + ": write stalled; offline: A; retrying"),
            std::string::npos)
      << events_;
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
  auto host = Start(line.Path(), R"({"appSetting": {"group_index": 1, "amount": 24}})");
  Rounds(*host, 2);
  const DeviceView d = host->View().devices.at(0);
  ASSERT_EQ(d.state, DataState::kFresh);
  EXPECT_EQ(d.cells.size(), 24u);
  ASSERT_TRUE(d.min_cell && d.Spread());
  EXPECT_NEAR(d.min_cell->volts, 13.2f, 0.01f);
  EXPECT_LT(*d.Spread(), 0.01f);
}

}  // namespace
}  // namespace runner
