// qorv-host as a person or a script runs it: exit statuses, what goes to
// the terminal and what to the log, Ctrl-C.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>

#include "runner/cli/tests/program_run.h"
#include "runner/history/history_store.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = folder_.path(); }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  halvex::testing::TestFolder folder_;  // first made, last removed
  std::string dir_;
};

Json::Value ParseLine(const std::string& line) {
  Json::Value value;
  std::string errors;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  EXPECT_TRUE(reader->parse(line.data(), line.data() + line.size(), &value, &errors)) << line;
  return value;
}

TEST_F(ProgramTest, EveryCommandHasHelp) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--help"},
                                        {"demo", "--help"},
                                        {"history", "--help"},
                                        {"check", "--help"},
                                        {"replay", "--help"}}) {
    SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
    Program p(dir_, args);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_NE(p.out().find("Usage"), std::string::npos) << p.out();
  }
  Program p(dir_, {"--help"});
  p.Wait();
  EXPECT_NE(p.out().find("redirected to the log file"), std::string::npos);
}

TEST_F(ProgramTest, VersionAndAMissingCheckSite) {
  Program version(dir_, {"--version"});
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.out(), "qorv-host " QORV_HOST_VERSION "\n");
  Program check(dir_, {"check"});
  EXPECT_EQ(check.Wait(), 2) << "a usage error";
  EXPECT_NE(check.err().find("site is required"), std::string::npos) << check.err();
}

TEST_F(ProgramTest, ABadSiteFileIsRefusedBeforeAnythingRuns) {
  std::ofstream(dir_ + "/site.json") << R"({"ports": [{"name": "p", "path": "/dev/ttyUSB7"}],
             "devices": [{"name": "A", "data_id": 1, "address": 300, "port": "p"}]})";
  Program p(dir_, {"site.json"});
  EXPECT_EQ(p.Wait(), 1);
  EXPECT_EQ(
      p.err(),
      "qorv-host: site.json: devices[0].address: must be a whole number in 0..255, got 300\n");
  EXPECT_EQ(::access((dir_ + "/qorv-history.db").c_str(), F_OK), -1) << "nothing was opened";
}

TEST_F(ProgramTest, JsonLinesOnStdoutAndTheDevicesChatterInTheLog) {
  // --rounds twice, as scripts/demo.sh passes its default and then the
  // caller's: the last one counts.
  Program p(dir_,
            {"demo", "--rounds", "20", "--json", "--no-pace", "--log", "run.log", "--rounds", "3"});
  ASSERT_EQ(p.Wait(), 0) << p.err();
  std::istringstream lines(p.out());
  std::string line;
  int round = 0;
  while (std::getline(lines, line)) {
    const Json::Value v = ParseLine(line);
    EXPECT_EQ(v["round"].asInt(), ++round);
    ASSERT_EQ(v["devices"].size(), 2u);
    EXPECT_EQ(v["devices"][1]["first_cell"].asInt(), 31);
  }
  EXPECT_EQ(round, 3);
  const std::string log = Read("run.log");
  EXPECT_NE(log.find("rvSize is 0\n"), std::string::npos);
  EXPECT_EQ(p.out().find("rvSize"), std::string::npos);
  EXPECT_NE(p.err().find("done after 3 rounds"), std::string::npos);
}

TEST_F(ProgramTest, CtrlCStopsCleanlyWithEveryRowCommitted) {
  Program p(dir_, {"demo", "--json", "--no-pace", "--db", "demo.db"});
  const std::string first = p.Lines(2);
  ASSERT_FALSE(first.empty());
  p.Signal(SIGINT);
  EXPECT_EQ(p.Wait(), 0);
  EXPECT_NE(p.err().find("stopped after"), std::string::npos) << p.err();
  auto store = HistoryStore::Open(dir_ + "/demo.db");
  EXPECT_EQ(store->CountRows(1, {}), 1u) << "the first round of each device is a row";
  EXPECT_EQ(store->CountRows(2, {}), 1u);

  Program history(dir_, {"history", "--db", "demo.db", "--data-id", "2", "--csv", "-"});
  EXPECT_EQ(history.Wait(), 0);
  EXPECT_EQ(history.out().rfind("time,data_id,reason,cell_1,", 0), 0u);
  EXPECT_NE(history.out().find(",cell_30,group_voltage"), std::string::npos) << history.out();
  EXPECT_NE(history.out().find(",2,first,"), std::string::npos) << history.out();

  Program plot(dir_, {"history", "--db", "demo.db", "--data-id", "2", "--plot", "demo.svg"});
  EXPECT_EQ(plot.Wait(), 0) << plot.err();
  EXPECT_EQ(Read("demo.svg").rfind("<?xml", 0), 0u);
  Program both(dir_,
               {"history", "--db", "demo.db", "--data-id", "2", "--plot", "b.svg", "--csv", "-"});
  EXPECT_NE(both.Wait(), 0) << "a plot and a CSV export at once are refused";
}

TEST_F(ProgramTest, APlugInThatWillNotLoadSaysWhy) {
  Program p(dir_, {"demo", "--rounds", "1", "--plugin", "/nonexistent/halvex_30.so"});
  EXPECT_EQ(p.Wait(), 1);
  EXPECT_NE(p.err().find("cannot load plug-in: /nonexistent/halvex_30.so: cannot open shared "
                         "object file: No such file or directory"),
            std::string::npos)
      << p.err();
}

}  // namespace
}  // namespace runner
