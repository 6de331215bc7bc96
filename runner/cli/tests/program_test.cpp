// qorv-host as a person or a script runs it: exit statuses, what goes to
// the terminal and what to the log, Ctrl-C, and what check finds.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>

#include "runner/history/history_store.h"
#include "runner/lines/serial_port.h"
#include "runner/publish/tests/test_broker.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

// A run of the program in `dir`, its output gathered.
class Program {
 public:
  Program(const std::string& dir, const std::vector<std::string>& args) {
    int out[2], err[2];
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      if (::chdir(dir.c_str()) != 0) ::_exit(126);
      std::vector<char*> argv{const_cast<char*>(QORV_HOST_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(QORV_HOST_PATH, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Program() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    ::close(out_);
    ::close(err_);
  }

  // Reads standard output up to and including the `n`th line end.
  std::string Lines(int n) {
    std::string text;
    char c;
    while (n > 0 && ::read(out_, &c, 1) == 1) {
      text += c;
      if (c == '\n') --n;
    }
    return text;
  }
  int Wait() {
    std::string rest;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out_, buffer, sizeof buffer)) > 0) out_text_.append(buffer, n);
    while ((n = ::read(err_, buffer, sizeof buffer)) > 0) err_text_.append(buffer, n);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }
  void Signal(int sig) { ::kill(pid_, sig); }
  const std::string& out() const { return out_text_; }
  const std::string& err() const { return err_text_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  int status_ = -1;
  std::string out_text_, err_text_;
};

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

using publish::testing::TestBroker;

struct SiteText {
  std::string port;
  std::string db;
  std::string plugin = HALVEX_PLUGIN_PATH;
  std::string broker_url;
  std::string password_file;
  int address = 1;

  std::string Json() const {
    return R"({"plugin": ")" + plugin + R"(", "history_db": ")" + db + R"(", "mqtt": {"url": ")" +
           broker_url + R"(", "username": "site", "password_file": ")" + password_file +
           R"("}, "ports": [{"name": "p", "path": ")" + port +
           R"("}], "devices": [{"name": "A", "data_id": 1, "address": )" + std::to_string(address) +
           R"(, "port": "p"}]})";
  }
};

// A file only its owner may read, as a password file must be.
std::string WritePrivate(const std::string& dir, const std::string& name, const std::string& text) {
  const std::string path = dir + "/" + name;
  std::ofstream(path) << text;
  ::chmod(path.c_str(), 0600);
  return path;
}

std::vector<std::string> FailedItems(const std::string& out) {
  std::vector<std::string> failed;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.find(": ok") == std::string::npos) failed.push_back(line);
  return failed;
}

TEST_F(ProgramTest, CheckEachItemThatWouldStopAStartIsNamedWithItsReason) {
  TestBroker broker(folder_, {"site", "pw", "user site\ntopic readwrite halvex/#\n"});
  broker.Start();
  const TestBroker down(folder_);  // never started: nothing listens on its port
  int master = -1, slave = -1;
  char tty[64];
  ASSERT_EQ(::openpty(&master, &slave, tty, nullptr, nullptr), 0);
  std::ofstream(dir_ + "/plain") << "a file, not a folder";
  const std::string host_port = "127.0.0.1:" + std::to_string(broker.Port());

  const SiteText good{tty, dir_ + "/h.db", HALVEX_PLUGIN_PATH, broker.Url(),
                      WritePrivate(dir_, "pw", "pw\n")};
  struct Case {
    const char* name;
    SiteText site;
    std::string expected;  // the item's line, or its start
    bool hold_port = false;
  };
  auto with = [&good](auto change) {
    SiteText site = good;
    change(site);
    return site;
  };
  const std::vector<Case> cases = {
      {"all ok", good, "broker: ok (" + host_port + ")"},
      {"bad site file", with([](SiteText& s) { s.address = 300; }),
       "site: site.json: devices[0].address: must be a whole number in 0..255, got 300"},
      {"plug-in with a missing symbol", with([](SiteText& s) { s.plugin = STUB_PLUGIN_PATH; }),
       "plug-in: cannot load plug-in: " STUB_PLUGIN_PATH
       ": undefined symbol: qorv_check_absent_host_call"},
      {"absent port", with([&](SiteText& s) { s.port = dir_ + "/ttyNONE"; }),
       "port p: " + dir_ + "/ttyNONE: cannot open: No such file or directory"},
      {"port in use", good,
       "port p: " + std::string(tty) + " is in use by pid " + std::to_string(::getpid()), true},
      {"history folder that is a file", with([&](SiteText& s) { s.db = dir_ + "/plain/h.db"; }),
       "history: " + dir_ + "/plain/h.db: cannot be created: Not a directory"},
      {"broker down", with([&](SiteText& s) { s.broker_url = down.Url(); }),
       "broker: cannot connect to 127.0.0.1:" + std::to_string(down.Port()) +
           ": Connection refused"},
      {"wrong password",
       with([&](SiteText& s) { s.password_file = WritePrivate(dir_, "wrong", "wrong\n"); }),
       "broker: " + host_port + " refused the connection: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(dir_ + "/site.json") << c.site.Json();
    std::unique_ptr<SerialPort> holder;
    if (c.hold_port) holder = std::make_unique<SerialPort>(tty, 19200);
    Program p(dir_, {"check", "site.json"});
    const bool ok = c.expected.find(": ok") != std::string::npos;
    EXPECT_EQ(p.Wait(), ok ? 0 : 1) << p.out();
    EXPECT_NE(p.out().find(c.expected), std::string::npos) << p.out();
    EXPECT_EQ(FailedItems(p.out()).size(), ok ? 0u : 1u) << p.out();
    EXPECT_EQ(::access((dir_ + "/h.db").c_str(), F_OK), -1) << "the check creates no database";
  }
  ::close(slave);
  ::close(master);
}

TEST_F(ProgramTest, CheckTheDemoSiteIsAllOkWithoutAnythingOpened) {
  Program p(dir_,
            {"check", QORV_DEMO_SITE, "--db", dir_ + "/h.db", "--plugin", HALVEX_PLUGIN_PATH});
  EXPECT_EQ(p.Wait(), 0) << p.err();
  EXPECT_EQ(p.out(), "site: ok (" QORV_DEMO_SITE
                     ")\n"
                     "plug-in: ok (" HALVEX_PLUGIN_PATH
                     ")\n"
                     "device string-A (data id 1): ok\n"
                     "device string-B (data id 2): ok\n"
                     "port demo-bus: ok (simulated)\n"
                     "history: ok (" +
                         dir_ +
                         "/h.db, to be created)\n"
                         "broker: ok (none: rounds are not published)\n");
}

}  // namespace
}  // namespace runner
