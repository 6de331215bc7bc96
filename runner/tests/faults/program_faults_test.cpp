// qorv-host and halvex-sim as a person runs them: command lines that would
// be half obeyed, a killed simulator's link, a log that keeps growing.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fault_fixture.h"
#include "runner/view/output_split.h"
#include "sim/config.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

using faults::Shell;

TEST(CommandLineFaultTest, WhatWouldBeIgnoredIsRefusedWithAShortMessage) {
  halvex::testing::TestFolder folder;
  const std::string dir = folder.path();
  faults::WriteText(dir + "/site.json", R"({"ports": [{"name": "p", "path": "sim"}],
      "devices": [{"name": "A", "data_id": 1, "address": 1, "port": "p"}]})");
  ASSERT_EQ(::symlink("loop.json", (dir + "/loop.json").c_str()), 0);
  const struct {
    std::string args;
    int status;  // 0 here: any failure
    std::string message;
  } cases[] = {
      {"--rounds -1", 2, "must be a whole number from 0 to 4294967295, got -1"},
      {"--no-such-option", 2, "--no-such-option"},
      {"histroy", 2, "unknown command or site file 'histroy'; did you mean 'history'?"},
      {"sacn", 2, "did you mean 'scan'?"},
      {"site.json demo", 1, "give a site file or demo, not both"},
      {"--json history --data-id 1", 1, "--json applies to running a site, not to history"},
      {"missing.json", 1, "missing.json: (file): cannot be read: No such file or directory"},
      {"loop.json --rounds 1", 1, "loop.json: (file): cannot be read: Too many levels"},
      {"history --site missing.json --data-id 1", 1, "missing.json: (file)"},
      {"--capture '' demo --rounds 1", 2, "--capture: give the folder the captures go to"},
      // Inputs that would never end, or never come: refused by path at once.
      {"replay /dev/zero", 1, "/dev/zero: is not a regular file"},
      {"scan sim:/dev/zero", 1, "sim:/dev/zero: is not a regular file"},
      {"replay .", 1, ".: holds no scenario (*.scn): nothing to replay"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const faults::ProgramRun run = Shell(dir, std::string(QORV_HOST_PATH) + " " + c.args);
    if (c.status == 0)
      EXPECT_NE(run.status, 0);
    else
      EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_LT(run.err.size(), 300u) << "short enough to read";
  }
  for (const char* args :
       {"--rounds 2 --json demo --no-pace", "demo --no-pace --rounds 2 --json"}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(Shell(dir, std::string(QORV_HOST_PATH) + " " + args).status, 0);
    const std::string out = faults::ReadText(dir + "/stdout");
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << "options before or after demo";
  }
}

// The statuses of docs/exit-status.md that the other tests here leave out,
// one program at a time: help, usage errors, and a run in which a device
// completed no round.
TEST(ExitStatusTest, EveryProgramEndsWithTheStatusItDocuments) {
  halvex::testing::TestFolder folder;
  const std::string dir = folder.path();
  faults::WriteText(dir + "/gone.json", R"({"poll_period_s": 0.1, "reply_timeout_ms": 50,
      "ports": [{"name": "p", "path": ")" + dir +
                                            R"(/no-such-tty"}],
      "devices": [{"name": "A", "data_id": 1, "address": 1, "port": "p"},
                  {"name": "B", "data_id": 2, "address": 2, "port": "p"}]})");
  const std::string host = QORV_HOST_PATH, sim = HALVEX_SIM_PATH, night = QORV_NIGHT_RUN_PATH;
  const struct {
    std::string command;
    int status;
    std::string message;  // in standard error; "" for none
  } cases[] = {
      {host + " --help", 0, ""},
      {sim + " --help", 0, ""},
      {night + " --help", 0, ""},
      {sim + " --no-such-option", 2, "--no-such-option"},
      {night + " --no-such-option", 2, "unknown option --no-such-option"},
      {host + " replay x.scn --no-such-option", 2, "--no-such-option"},
      {host + " gone.json --rounds 3 --plugin " + HALVEX_PLUGIN_PATH, 4,
       "no round completed: A: its line is down: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const faults::ProgramRun run = Shell(dir, c.command);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (!c.message.empty()) {
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
  }
  ASSERT_EQ(Shell(dir, sim + " --help").status, 0);
  const std::string help = faults::ReadText(dir + "/stdout");
  for (const std::string& word : sim::SettingsWords())
    EXPECT_NE(help.find(word), std::string::npos) << "halvex-sim --help names " << word;
}

TEST(SimulatorLinkFaultTest, AKilledSimulatorsLinkIsTakenOverAndALiveOnesIsNot) {
  halvex::testing::TestFolder folder;
  const std::string dir = folder.path();
  const std::string sim = std::string(HALVEX_SIM_PATH) + " --link tty";
  ASSERT_EQ(
      std::system(("cd " + dir + " && (" + sim + " >/dev/null & echo $! >pid; sleep 0.5)").c_str()),
      0);
  const faults::ProgramRun second = Shell(dir, sim + " --duration 1");
  EXPECT_NE(second.status, 0);
  EXPECT_NE(
      second.err.find("served by pid " + std::to_string(std::stoi(faults::ReadText(dir + "/pid"))) +
                      " (halvex-sim)"),
      std::string::npos)
      << second.err;

  ASSERT_EQ(std::system(("cd " + dir + " && kill -9 $(cat pid) && sleep 0.2").c_str()), 0);
  EXPECT_EQ(Shell(dir, sim + " --duration 0.3").status, 0) << "the dead one's link is stale";
  EXPECT_NE(::access((dir + "/tty").c_str(), F_OK), 0) << "its own link is removed at exit";

  // A link that another simulator has taken since is left to it.
  EXPECT_EQ(
      Shell(dir, "sh -c '" + sim + " --duration 1 & sleep 0.5; ln -sfn /dev/pts/x tty; wait $!'")
          .status,
      0);
  char target[32] = {};
  EXPECT_GT(::readlink((dir + "/tty").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "/dev/pts/x");
}

// Between rounds the log is moved aside at its limit and a fresh one takes
// fd 1, keeping the newest two.
TEST(LogRotationFaultTest, TheLogIsRotatedAtItsLimitKeepingTheNewest) {
  halvex::testing::TestFolder folder;
  const std::string log = folder / "host.log";
  std::string troubles;
  {
    OutputSplit out(log);
    for (const char round : std::string("aabbccdd")) {
      std::printf("%s", std::string(600, round).c_str());
      std::fflush(stdout);
      troubles += out.RotateIfOver(1000, 2);
    }
  }
  EXPECT_EQ(troubles, "");
  EXPECT_EQ(faults::ReadText(log), "");
  EXPECT_EQ(faults::ReadText(log + ".1"), std::string(1200, 'd'));
  EXPECT_EQ(faults::ReadText(log + ".2"), std::string(1200, 'c'));
  EXPECT_NE(::access((log + ".3").c_str(), F_OK), 0) << "older logs are dropped";
}

}  // namespace
}  // namespace runner
