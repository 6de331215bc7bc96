// qorv-host publishing the demo site to a real broker: every round once, as
// the history keeps it; no round of polling held up by a broker that goes
// away; every round delivered after it comes back, even when the host was
// killed meanwhile; a broker that refuses told with its reason.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include "runner/history/history_store.h"
#include "runner/publish/tests/test_broker.h"
#include "runner/site/demo_site.h"
#include "runner/time/time_text.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

// A round may come this much later than its period. The sanitizers slow
// every call several times over, the poll loop's own work included.
#ifdef __SANITIZE_ADDRESS__
constexpr int kGapSlackMs = 150;
#else
constexpr int kGapSlackMs = 50;
#endif

using halvex::testing::TestFolder;
using publish::testing::BrokerAccess;
using publish::testing::Received;
using publish::testing::TestBroker;
using publish::testing::TestSubscriber;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

Json::Value Parse(const std::string& text) {
  Json::Value v;
  Json::Reader().parse(text, v);
  return v;
}

// qorv-host with --json, its lines timed as they come.
class Host {
 public:
  // `args` after the program's name and --json --log.
  Host(const TestFolder& folder, const std::string& args) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      const std::string command = std::string("exec ") + QORV_HOST_PATH + " --json --log '" +
                                  (folder / "host.log") + "' " + args + " 2>>'" +
                                  (folder / "stderr") + "'";
      ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    reader_ = std::thread([this, fd = out[0]] { Read(fd); });
  }
  ~Host() {
    Signal(SIGKILL);
    Wait();
  }

  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  int Wait() {
    if (pid_ > 0) {
      int status = 0;
      ::waitpid(pid_, &status, 0);
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
    return status_;
  }
  // When each round's JSON line arrived.
  std::vector<Clock::time_point> RoundTimes() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return times_;
  }
  std::vector<Json::Value> Rounds() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return rounds_;
  }
  // The largest gap between two rounds in a row.
  milliseconds LargestGap() {
    const std::vector<Clock::time_point> t = RoundTimes();
    milliseconds most{0};
    for (std::size_t i = 1; i < t.size(); ++i)
      most = std::max(most, std::chrono::duration_cast<milliseconds>(t[i] - t[i - 1]));
    return most;
  }

 private:
  void Read(int fd) {
    std::string pending;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      pending.append(buffer, static_cast<std::size_t>(n));
      for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        const Json::Value round = Parse(pending.substr(0, end));
        pending.erase(0, end + 1);
        const std::lock_guard<std::mutex> lock(mutex_);
        times_.push_back(Clock::now());
        rounds_.push_back(round);
      }
    }
    ::close(fd);
  }

  pid_t pid_ = -1;
  int status_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::vector<Clock::time_point> times_;
  std::vector<Json::Value> rounds_;
};

// The demo publishing to `broker_url`, its history in the folder.
std::string Demo(const TestFolder& folder, const std::string& broker_url,
                 const std::string& extra = "") {
  return "demo --mqtt " + broker_url + " --db '" + (folder / "history.db") + "' " + extra;
}

// Each device's state messages by sequence number, and how often each came.
struct StateLog {
  std::map<std::uint64_t, Json::Value> by_seq;
  std::map<std::uint64_t, int> live_count;
  std::vector<std::uint64_t> backlog_order;
};

std::map<std::string, StateLog> States(TestSubscriber& sub) {
  std::map<std::string, StateLog> out;
  for (const Received& r : sub.All()) {
    const std::size_t end = r.topic.rfind("/state");
    if (end == std::string::npos || end + 6 != r.topic.size()) continue;
    const Json::Value v = Parse(r.payload);
    StateLog& log = out[v["device"].asString()];
    log.by_seq[v["seq"].asUInt64()] = v;
    if (v["backlog"].asBool())
      log.backlog_order.push_back(v["seq"].asUInt64());
    else
      ++log.live_count[v["seq"].asUInt64()];
  }
  return out;
}

// Every number from 1 to the highest seen arrived; the backlog came oldest
// first.
void ExpectNoneMissing(const std::map<std::string, StateLog>& states, std::uint64_t at_least) {
  ASSERT_EQ(states.size(), 2u);
  for (const auto& [device, log] : states) {
    const std::uint64_t last = log.by_seq.rbegin()->first;
    EXPECT_GE(last, at_least) << device;
    for (std::uint64_t seq = 1; seq <= last; ++seq)
      EXPECT_EQ(log.by_seq.count(seq), 1u) << device << " seq " << seq << " missing";
    EXPECT_TRUE(std::is_sorted(log.backlog_order.begin(), log.backlog_order.end())) << device;
  }
}

bool AllArrived(TestSubscriber& sub, std::uint64_t at_least) {
  const auto states = States(sub);
  if (states.size() != 2) return false;
  for (const auto& [device, log] : states) {
    if (log.by_seq.empty() || log.by_seq.rbegin()->first < at_least) return false;
    if (log.by_seq.size() != log.by_seq.rbegin()->first) return false;
  }
  return true;
}

bool SameRound(const Json::Value& message, const HistoryRow& row) {
  const std::string time = message["time"].asString();
  if (time != FormatInstant(row.utc, row.utc_offset_s) &&
      time != FormatInstant(row.utc - 1, row.utc_offset_s))
    return false;
  auto near = [](const Json::Value& v, float x, double within) {
    return std::fabs(v.asDouble() - x) <= within;
  };
  if (!near(message["group_voltage"], row.record.group_voltage, 0.01) ||
      !near(message["temperature"], row.record.temperature, 0.01) ||
      !near(message["group_current"], row.record.group_current, 0.01))
    return false;
  const int first = message["first_cell"].asInt();
  for (const std::string& number : message["cells"].getMemberNames())
    if (!near(message["cells"][number], row.record.cells[std::stoi(number) - first], 0.0005))
      return false;
  return !message["cells"].empty();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WaitUntil(const std::function<bool()>& done, Clock::duration timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(100));
  }
  return true;
}

TEST(MqttE2eTest, EveryRoundArrivesOnceAndSaysWhatTheHistoryKept) {
  TestFolder folder;
  TestBroker broker(folder);
  broker.Start();
  TestSubscriber sub(broker.Port(), "halvex/#");
  Host host(folder, Demo(folder, broker.Url(), "--rounds 14"));
  ASSERT_EQ(host.Wait(), 0);
  ASSERT_TRUE(WaitUntil([&] { return AllArrived(sub, 13); }, seconds(5)));
  const auto states = States(sub);
  ExpectNoneMissing(states, 13);
  for (const auto& [device, log] : states) {
    EXPECT_TRUE(log.backlog_order.empty()) << device;
    for (const auto& [seq, count] : log.live_count) EXPECT_EQ(count, 1) << device << " " << seq;
  }

  // The rows the history kept (the first, and the demo's alarms) are rounds
  // that were published, value for value: one of the messages of that
  // second (or the next, as the row is stamped a moment later) says the same.
  auto store = HistoryStore::OpenReadOnly(folder / "history.db");
  int compared = 0;
  for (unsigned id : {1u, 2u}) {
    const StateLog& log = states.at(id == 1 ? "string-A" : "string-B");
    store->ForEachRow(id, {}, [&](const HistoryRow& row) {
      ++compared;
      for (const auto& [seq, message] : log.by_seq)
        if (SameRound(message, row)) return;
      ADD_FAILURE() << "data id " << id << ": no state message equals the row of " << row.time;
    });
  }
  EXPECT_GE(compared, 4) << "the first rows and the demo's alarm rows";

  EXPECT_TRUE(sub.Count("halvex/string-A/alarm") >= 1) << "the demo's cell drop is raised";
  EXPECT_EQ(sub.Last("halvex/status"), "offline") << "the host left";
  const Json::Value last = host.Rounds().back()["mqtt"];
  EXPECT_EQ(last["published"].asUInt64() + last["waiting"].asUInt64(), 28u)
      << last.toStyledString();
  // The last rounds' acknowledgements are waited for at the stop.
  EXPECT_NE(ReadFile(folder / "stderr")
                .find("28 state messages published (0 from the backlog), 0 "
                      "waiting"),
            std::string::npos)
      << ReadFile(folder / "stderr");
}

// The broker away from 10 s to 40 s of a 60 s run; the host killed in the
// middle of the outage when `kill_host`, and started again.
void RunThroughAnOutage(bool kill_host) {
  TestFolder folder;
  BrokerAccess persistent;
  persistent.persistent = true;
  TestBroker broker(folder, persistent);
  broker.Start();
  TestSubscriber sub(broker.Port(), "halvex/#", {}, "watcher-" + std::to_string(::getpid()));
  const auto start = Clock::now();
  auto at = [&](int s) { std::this_thread::sleep_until(start + seconds(s)); };
  auto host = std::make_unique<Host>(folder, Demo(folder, broker.Url()));
  at(10);
  broker.Stop();
  milliseconds gap_before_kill{0};
  if (kill_host) {
    at(22);
    host->Signal(SIGKILL);
    gap_before_kill = host->LargestGap();
    host->Wait();
    host = std::make_unique<Host>(folder, Demo(folder, broker.Url()));
  }
  at(40);
  broker.Start();
  at(60);
  const std::uint64_t rounds_after_restart = host->Rounds().size();
  // Every round's message arrives once the backlog is through.
  EXPECT_TRUE(WaitUntil([&] { return AllArrived(sub, rounds_after_restart); }, seconds(30)));
  host->Signal(SIGTERM);
  EXPECT_EQ(host->Wait(), 0);
  ExpectNoneMissing(States(sub), kill_host ? rounds_after_restart : 55);
  for (milliseconds gap : {gap_before_kill, host->LargestGap()})
    EXPECT_LE(gap.count(), 1000 + kGapSlackMs) << "a round was held up";
  const Json::Value last = host->Rounds().back()["mqtt"];
  EXPECT_GE(last["backlog"].asUInt64(), 2u * 20) << last.toStyledString();
  EXPECT_TRUE(last["connected"].asBool()) << last.toStyledString();
}

TEST(MqttE2eTest, ABrokerOutageHoldsUpNoRoundAndLosesNoMessage) { RunThroughAnOutage(false); }

TEST(MqttE2eTest, AHostKilledDuringTheOutageSendsItsBacklogWhenStartedAgain) {
  RunThroughAnOutage(true);
}

void Run(const std::string& command) {
  ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

// A certificate authority, a broker's certificate for 127.0.0.1 signed by
// it, and another authority that signed nothing of the broker's.
void MakeCertificates(const TestFolder& folder) {
  const std::string d = folder.path() + "/";
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2";
  Run("openssl req -x509" + key + " -keyout " + d + "ca.key -out " + d +
      "ca.pem -subj /CN=site-ca");
  Run("openssl req -x509" + key + " -keyout " + d + "other.key -out " + d +
      "other-ca.pem -subj /CN=other-ca");
  Run("openssl req" + key + " -keyout " + d + "broker.key -out " + d +
      "broker.csr -subj /CN=127.0.0.1");
  std::ofstream(d + "san.ext") << "subjectAltName=IP:127.0.0.1\n";
  Run("openssl x509 -req -in " + d + "broker.csr -CA " + d + "ca.pem -CAkey " + d +
      "ca.key -CAcreateserial -days 2 -out " + d + "broker.pem -extfile " + d + "san.ext");
}

// Each way a broker can refuse the host: told with its reason in the
// host's events, retried, and the rounds go on as before.
TEST(MqttE2eTest, ARefusingBrokerIsToldWithItsReasonAndPollingGoesOn) {
  struct Case {
    const char* what;
    BrokerAccess access;
    Json::Value mqtt;  // the site's "mqtt" object, its url set by the test
    std::string event;
    bool connects;
  };
  TestFolder folder;
  MakeCertificates(folder);
  const std::string d = folder.path() + "/";
  std::ofstream(d + "password") << "wrong\n";
  ::chmod((d + "password").c_str(), 0600);
  auto mqtt = [&](const std::string& user, const std::string& ca) {
    Json::Value m(Json::objectValue);
    if (!user.empty()) m["username"] = user, m["password_file"] = d + "password";
    if (!ca.empty()) m["ca_file"] = d + ca;
    return m;
  };
  using access = BrokerAccess;
  BrokerAccess tls;
  tls.cafile = d + "ca.pem", tls.certfile = d + "broker.pem", tls.keyfile = d + "broker.key";
  const std::vector<Case> cases = {
      {"wrong password", access("site", "right", ""), mqtt("site", ""),
       "refused the connection: not authorised", false},
      {"topic denied", access("site", "wrong", "user site\ntopic write halvex/status\n"),
       mqtt("site", ""), "refused a message on halvex/string-A/state: not authorised", true},
      {"broker's CA", tls, mqtt("", "ca.pem"), "connected to", true},
      {"another CA", tls, mqtt("", "other-ca.pem"), "certificate verify failed", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestFolder run;
    TestBroker broker(run, c.access);
    broker.Start();
    Json::Value site = DemoSiteJson(true, run / "history.db");
    site["mqtt"] = c.mqtt;
    site["mqtt"]["url"] = (c.access.certfile.empty() ? "mqtt" : "mqtts") +
                          std::string("://127.0.0.1:") + std::to_string(broker.Port());
    std::ofstream(run / "site.json") << site.toStyledString();
    Host host(run, "--rounds 6 '" + (run / "site.json") + "'");
    EXPECT_EQ(host.Wait(), 0);
    EXPECT_EQ(host.Rounds().size(), 6u);
    EXPECT_LE(host.LargestGap().count(), 1000 + kGapSlackMs) << "a round was held up";
    std::string events;
    for (const Json::Value& round : host.Rounds())
      for (const Json::Value& e : round["events"]) events += e.asString() + "\n";
    EXPECT_NE(events.find(c.event), std::string::npos) << events;
    const Json::Value last = host.Rounds().back()["mqtt"];
    EXPECT_EQ(last["connected"].asBool(), c.connects) << last.toStyledString();
    if (!c.connects) {
      // Tried again (after 1 s, 2 s ...), not given up.
      const std::string log = ReadFile(run / "mosquitto.log");
      std::size_t tries = 0;
      for (std::size_t at = 0; (at = log.find("New connection from", at)) != std::string::npos;
           ++at)
        ++tries;
      EXPECT_GE(tries, 2u) << log;
      EXPECT_EQ(last["published"].asUInt64(), 0u);
      EXPECT_EQ(last["waiting"].asUInt64(), 12u) << "every round kept for later";
    }
  }
}

}  // namespace
}  // namespace runner
