// qorv-host check: each item a start would stumble on, named with its
// reason, and a site that is all ok.
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner/cli/tests/program_run.h"
#include "runner/lines/serial_port.h"
#include "runner/publish/tests/test_broker.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

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

std::vector<std::string> FailedItems(const std::string& out) {
  std::vector<std::string> failed;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.find(": ok") == std::string::npos) failed.push_back(line);
  return failed;
}

class CheckTest : public ::testing::Test {
 protected:
  std::string Private(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    ::chmod(path.c_str(), 0600);
    return path;
  }

  halvex::testing::TestFolder folder_;
  std::string dir_ = folder_.path();
};

TEST_F(CheckTest, EachItemThatWouldStopAStartIsNamedWithItsReason) {
  TestBroker broker(folder_, {"site", "pw", "user site\ntopic readwrite halvex/#\n"});
  broker.Start();
  const TestBroker down(folder_);  // never started: nothing listens on its port
  int master = -1, slave = -1;
  char tty[64];
  ASSERT_EQ(::openpty(&master, &slave, tty, nullptr, nullptr), 0);
  std::ofstream(dir_ + "/plain") << "a file, not a folder";
  const std::string host_port = "127.0.0.1:" + std::to_string(broker.Port());

  const SiteText good{tty, dir_ + "/h.db", HALVEX_PLUGIN_PATH, broker.Url(), Private("pw", "pw\n")};
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
      {"wrong password", with([&](SiteText& s) { s.password_file = Private("wrong", "wrong\n"); }),
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

TEST_F(CheckTest, TheDemoSiteIsAllOkWithoutAnythingOpened) {
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
