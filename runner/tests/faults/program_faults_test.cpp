// qorv-host and halvex-sim as a person runs them: command lines that would
// be half obeyed, a killed simulator's link, a log that keeps growing.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "fault_fixture.h"
#include "runner/output_split.h"

namespace runner {
namespace {

using faults::RunProgram;

TEST(CommandLineFaultTest, WhatWouldBeIgnoredIsRefusedWithAShortMessage) {
  const std::string dir = faults::ScratchDir();
  faults::WriteText(dir + "/site.json", R"({"ports": [{"name": "p", "path": "sim"}],
      "devices": [{"name": "A", "data_id": 1, "address": 1, "port": "p"}]})");
  ASSERT_EQ(::symlink("loop.json", (dir + "/loop.json").c_str()), 0);
  struct Case {
    std::vector<std::string> args;
    int status;  // -1: any but 0
    std::string message;
  } cases[] = {
      {{"--rounds", "-1"}, -1, "must be a whole number from 0 to 4294967295, got -1"},
      {{"--rounds", "99999999999"}, -1, "got 99999999999"},
      {{"site.json", "demo"}, 1, "give a site file or demo, not both"},
      {{"--json", "history", "--data-id", "1"}, 1, "--json applies to running a site, not to history"},
      {{"site.json", "history", "--data-id", "1"}, 1, "history does not run a site"},
      {{"missing.json"}, 1, "missing.json: (file): cannot be read: No such file or directory"},
      {{"loop.json", "--rounds", "1"}, 1, "loop.json: (file): cannot be read: Too many levels"},
      {{"history", "--site", "missing.json", "--data-id", "1"}, 1, "missing.json: (file)"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const faults::ProgramRun run = RunProgram(QORV_HOST_PATH, c.args, dir, 20);
    if (c.status < 0) EXPECT_NE(run.status, 0);
    else EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_LT(run.err.size(), 300u) << "short enough to read";
  }
}

TEST(CommandLineFaultTest, RunOptionsWorkBeforeAndAfterDemo) {
  const std::string dir = faults::ScratchDir();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--rounds", "2", "--json", "demo", "--no-pace"},
        std::vector<std::string>{"demo", "--no-pace", "--rounds", "2", "--json"}}) {
    SCOPED_TRACE(args[0]);
    const faults::ProgramRun run = RunProgram(QORV_HOST_PATH, args, dir, 20);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
  }
}

bool WaitForLink(const std::string& link) {
  for (int i = 0; i < 200; ++i) {
    char target[256];
    if (::readlink(link.c_str(), target, sizeof target) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string LinkTarget(const std::string& link) {
  char target[256];
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "";
}

TEST(SimulatorLinkFaultTest, AKilledSimulatorsLinkIsTakenOverAndALiveOnesIsNot) {
  const std::string dir = faults::ScratchDir();
  const std::string link = dir + "/monitor-tty";
  const std::string first_dir = dir + "/first";
  ASSERT_EQ(::mkdir(first_dir.c_str(), 0755), 0);
  const pid_t first = faults::StartProgram(HALVEX_SIM_PATH, {"--link", link}, first_dir);
  ASSERT_TRUE(WaitForLink(link));
  const std::string first_pty = LinkTarget(link);

  faults::ProgramRun second = RunProgram(HALVEX_SIM_PATH, {"--link", link, "--duration", "1"}, dir);
  EXPECT_NE(second.status, 0);
  EXPECT_NE(second.err.find("served by pid " + std::to_string(first) + " (halvex-sim)"),
            std::string::npos)
      << second.err;
  EXPECT_EQ(LinkTarget(link), first_pty) << "the live simulator keeps its link";

  ::kill(first, SIGKILL);
  faults::FinishProgram(first, first_dir);
  faults::ProgramRun third = RunProgram(HALVEX_SIM_PATH, {"--link", link, "--duration", "0.3"}, dir);
  EXPECT_EQ(third.status, 0) << third.err;
  EXPECT_TRUE(LinkTarget(link).empty()) << "its own link is removed at exit";

  // A link that another simulator has taken since is left to it.
  const pid_t fourth = faults::StartProgram(HALVEX_SIM_PATH, {"--link", link, "--duration", "1"}, dir);
  ASSERT_TRUE(WaitForLink(link));
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink("/dev/pts/elsewhere", link.c_str()), 0);
  EXPECT_EQ(faults::FinishProgram(fourth, dir).status, 0);
  EXPECT_EQ(LinkTarget(link), "/dev/pts/elsewhere");
}

// The devices' output goes to fd 1; the log is moved aside at the size
// limit and a fresh one takes its place, keeping the newest `keep`.
TEST(LogRotationFaultTest, TheLogIsRotatedAtItsLimitKeepingTheNewest) {
  const std::string dir = faults::ScratchDir();
  const std::string log = dir + "/host.log";
  std::vector<std::string> troubles;
  {
    OutputSplit out(log);
    for (char round : {'a', 'b', 'c', 'd'}) {
      std::printf("%s", std::string(600, round).c_str());
      std::fflush(stdout);
      troubles.push_back(out.RotateIfOver(1000, 2));  // under the limit after one round
      std::printf("%s", std::string(600, round).c_str());
      std::fflush(stdout);
      troubles.push_back(out.RotateIfOver(1000, 2));
    }
  }
  for (const std::string& t : troubles) EXPECT_EQ(t, "");
  EXPECT_EQ(faults::ReadText(log), "");
  EXPECT_EQ(faults::ReadText(log + ".1"), std::string(1200, 'd'));
  EXPECT_EQ(faults::ReadText(log + ".2"), std::string(1200, 'c'));
  EXPECT_NE(::access((log + ".3").c_str(), F_OK), 0) << "older logs are dropped";
}

}  // namespace
}  // namespace runner
