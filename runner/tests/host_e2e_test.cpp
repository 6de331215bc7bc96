// The host with the real plug-in, over pseudo-terminals, against simulated
// monitors. The host clock is a manual one, so minutes of history and a
// minute of silence pass in one call; the simulator clock is moved to start
// its scripted events.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "runner/lines/poller.h"
#include "runner/plugin_access/plugin_library.h"
#include "runner/site/demo_site.h"
#include "runner/time/time_text.h"
#include "sim_line.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

using boost::posix_time::time_from_string;
using testing::SimLine;
using testing::SteadyString;

class HostE2eTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = folder_.path(); }
  void TearDown() override { host_.reset(); }

  // A site over `ports` ({"name": ..., "path": ...} objects) with the
  // `devices` given, polled every 0.25 s. A silent monitor holds its line
  // for 240 ms: far above a reply's time on a pseudo-terminal, so only a
  // monitor that is meant to be silent times out, even on a loaded machine.
  Site MakeSite(const std::string& ports, const std::string& devices,
                const std::string& extra = "") {
    const std::string text = R"({"poll_period_s": 0.25, "reply_timeout_ms": 240, "history_db": ")" +
                             Db() + "\", " + extra + R"("ports": [)" + ports +
                             R"(], "devices": [)" + devices + "]}";
    return ParseSite(ParseSiteJson(text, "test site"), "test site", "");
  }

  Poller& Start(Site site) {
    PollerOptions options;
    options.clock = &clock_;
    options.event_sink = [this](const std::string& line) { events_.push_back(line); };
    options.default_plugin = HALVEX_PLUGIN_PATH;
    options.retry_first = std::chrono::milliseconds(100);
    options.retry_most = std::chrono::milliseconds(400);
    host_ = std::make_unique<Poller>(std::move(site), options);
    host_->Start();
    return *host_;
  }

  void Rounds(unsigned n, const std::function<void()>& after_each = {}) {
    host_->Run(n, [&](const RoundReport&) {
      if (after_each) after_each();
    });
  }

  std::vector<std::string> EventsWith(const std::string& part) const {
    std::vector<std::string> found;
    for (const std::string& e : events_)
      if (e.find(part) != std::string::npos) found.push_back(e.substr(20));  // without the time
    return found;
  }

  DeviceSlot& Device(const std::string& name) {
    DeviceSlot* slot = host_->FindDevice(name);
    if (slot == nullptr) throw std::runtime_error("no device " + name);
    return *slot;
  }

  float Value(const std::string& device, const std::string& name) {
    return Device(device).device->Get_Value(0, name);
  }

  DeviceView ViewOf(const std::string& name) {
    for (const DeviceView& d : host_->View().devices)
      if (d.name == name) return d;
    throw std::runtime_error("no view of " + name);
  }

  static std::string Port(const std::string& name, const std::string& path) {
    return R"({"name": ")" + name + R"(", "path": ")" + path + "\"}";
  }

  std::string Db() const { return dir_ + "/history.db"; }

  halvex::testing::TestFolder folder_;  // first made, last removed
  std::string dir_;
  ManualHostClock clock_{time_from_string("2026-12-08 10:00:00")};
  std::vector<std::string> events_;
  std::unique_ptr<Poller> host_;
};

TEST_F(HostE2eTest, RoundsLandInHistoryAtTheSaveInterval) {
  SimLine line({SteadyString(0x81, 13.3)});
  Start(MakeSite(Port("rs485", line.Path()),
                 R"({"name": "A", "data_id": 7, "address": 1, "port": "rs485",
                     "config": {"appSetting": {"save_interval": 1}}})"));
  // Ten seconds of host time pass between rounds: rows fall at 0, 60 and 120 s.
  Rounds(13, [&] { clock_.Advance(10); });

  const LinkCounters& link = Device("A").link.counters();
  EXPECT_EQ(link.rounds, 13u);
  EXPECT_EQ(link.rejected, 0u);
  EXPECT_FLOAT_EQ(Value("A", "battery_29_value"), 13.3f);
  EXPECT_FLOAT_EQ(Value("A", "group_voltage"), 399.0f);

  std::vector<std::string> rows;
  host_->history()->ForEachRow(7, {}, [&](const HistoryRow& row) {
    EXPECT_EQ(row.raw.size(), 152u);
    EXPECT_EQ(row.record.data_id, 7u);
    EXPECT_FLOAT_EQ(row.record.cells[0], 13.3f);
    EXPECT_FLOAT_EQ(row.record.cells[30], 0.0f) << "a 30-cell string leaves the spare slots empty";
    EXPECT_EQ(FormatTime(row.record.Time()), row.time) << "the record's own stamp";
    rows.push_back(row.time + " " + row.reason);
  });
  EXPECT_EQ(rows,
            (std::vector<std::string>{"2026-12-08 10:00:00 first", "2026-12-08 10:01:00 interval",
                                      "2026-12-08 10:02:00 interval"}));
}

TEST_F(HostE2eTest, AlarmsRiseAndClearWithHysteresisAndAreStored) {
  sim::MonitorProfile profile = SteadyString(0x81, 13.3);
  sim::Event drop;
  drop.kind = sim::Event::Kind::kCellDrop;
  drop.cell = 17;
  drop.at_s = 10;
  drop.for_s = 10;
  drop.value = 11.6;
  sim::Event hover = drop;  // back above the limit, but inside the band
  hover.at_s = 20;
  hover.value = 12.05;
  profile.events = {drop, hover};
  SimLine line({profile});
  Start(MakeSite(Port("rs485", line.Path()),
                 R"({"name": "A", "data_id": 1, "address": 1, "port": "rs485",
                     "limits": [{"name": "battery_*_value", "low": 12.0, "high": 14.4,
                                 "hysteresis": 0.1}]})"));
  Rounds(2);
  EXPECT_TRUE(EventsWith("alarm").empty());

  line.SetTime(10);
  Rounds(2);
  EXPECT_EQ(EventsWith("alarm"),
            std::vector<std::string>{
                "alarm raised: A 第18节电池 (battery_17_value, point 18) low 11.600 < 12.000"});
  ASSERT_EQ(ViewOf("A").alarms.size(), 1u);

  line.SetTime(20);
  Rounds(2);
  EXPECT_FLOAT_EQ(Value("A", "battery_17_value"), 12.05f);
  EXPECT_EQ(EventsWith("alarm").size(), 1u) << "12.05 V is inside the 0.1 V band";

  line.SetTime(30);
  Rounds(2);
  EXPECT_EQ(EventsWith("alarm cleared"),
            std::vector<std::string>{
                "alarm cleared: A 第18节电池 (battery_17_value, point 18) low 13.300 >= 12.000"});
  EXPECT_TRUE(ViewOf("A").alarms.empty());

  std::vector<std::string> stored;
  host_->history()->ForEachAlarm(1, {}, [&](const AlarmRow& a) {
    stored.push_back(a.change.text + " " + (a.change.raised ? "raised" : "cleared"));
  });
  EXPECT_EQ(stored, (std::vector<std::string>{"第18节电池 raised", "第18节电池 cleared"}));
  std::vector<std::string> reasons;
  host_->history()->ForEachRow(1, {},
                               [&](const HistoryRow& row) { reasons.push_back(row.reason); });
  EXPECT_EQ(reasons, (std::vector<std::string>{"first", "alarm", "alarm"}))
      << "the rounds that moved an alarm are kept besides the interval";
}

TEST_F(HostE2eTest, TwoMonitorsTakeTurnsOnOneLineAndSumTheString) {
  sim::MonitorProfile second = SteadyString(0x82, 13.2);
  second.group_volts = 400.0;
  SimLine line({SteadyString(0x81, 13.0), second});
  Start(MakeSite(Port("rs485", line.Path()),
                 R"({"name": "A", "data_id": 1, "address": 1, "port": "rs485"},
                    {"name": "B", "data_id": 2, "address": 2, "port": "rs485",
                     "config": {"appSetting": {"group_voltage": [1], "battery_start": 30}},
                     "limits": [{"name": "battery_0_value", "high": 13.1}]})"));
  Rounds(5);

  EXPECT_FLOAT_EQ(Value("A", "group_voltage"), 390.0f);
  EXPECT_FLOAT_EQ(Value("B", "group_voltage"), 790.0f) << "its own 400 V plus A's";
  EXPECT_EQ(EventsWith("alarm raised"),
            std::vector<std::string>{
                "alarm raised: B 第31节电池 (battery_0_value, point 1) high 13.200 > 13.100"});

  // One exchange at a time: each device's whole cycle, then the other's.
  std::string heard;
  for (const sim::Bytes& r : line.Requests()) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X ", r[2], r[3]);
    heard += text;
  }
  std::string expected;
  for (int round = 0; round < 5; ++round) expected += "81A1 81A2 81A3 81A4 82A1 82A2 82A3 82A4 ";
  EXPECT_EQ(heard, expected);
}

TEST_F(HostE2eTest, SilentMonitorGoesStaleAfterAMinuteAndRecovers) {
  sim::MonitorProfile quiet = SteadyString(0x81, 13.0);
  sim::Event silence;
  silence.kind = sim::Event::Kind::kSilence;
  silence.at_s = 100;
  silence.for_s = 100;
  quiet.events = {silence};
  sim::MonitorProfile summing = SteadyString(0x82, 13.2);
  summing.group_volts = 400.0;
  SimLine line({quiet, summing});
  Start(MakeSite(Port("rs485", line.Path()),
                 R"({"name": "A", "data_id": 1, "address": 1, "port": "rs485"},
                    {"name": "B", "data_id": 2, "address": 2, "port": "rs485",
                     "config": {"appSetting": {"group_voltage": [1]}}})"));
  Rounds(2);
  EXPECT_FLOAT_EQ(Value("B", "group_voltage"), 790.0f);

  line.SetTime(100);
  Rounds(4);
  EXPECT_EQ(ViewOf("A").state, DataState::kFresh) << "no round for a second is no reason yet";
  const LinkCounters silent = Device("A").link.counters();
  EXPECT_EQ(silent.rounds, 2u);
  EXPECT_GE(silent.timeouts, 4u);
  EXPECT_GE(silent.resends, 3u);

  clock_.Advance(60);
  Rounds(1);
  EXPECT_EQ(ViewOf("A").state, DataState::kFresh) << "60 s is still fresh";
  clock_.Advance(1);
  Rounds(1);
  const DeviceView stale = ViewOf("A");
  EXPECT_EQ(stale.state, DataState::kStale);
  EXPECT_EQ(stale.state_text, "数据已超时");
  EXPECT_TRUE(stale.from_record);
  ASSERT_EQ(stale.cells.size(), 30u);
  EXPECT_FLOAT_EQ(stale.cells[0].value_or(0), 13.0f) << "the last record, shown as such";
  EXPECT_EQ(stale.age_s.value_or(0), 61);
  Rounds(1);
  EXPECT_FLOAT_EQ(Value("B", "group_voltage"), 396.0f)
      << "A's stale value is refused; B falls back to its own cells";
  EXPECT_EQ(EventsWith("device A: data stale").size(), 1u);

  line.SetTime(250);
  Rounds(2);
  EXPECT_EQ(ViewOf("A").state, DataState::kFresh);
  EXPECT_GT(Device("A").link.counters().rounds, 2u);
  EXPECT_FLOAT_EQ(Value("B", "group_voltage"), 790.0f);
  EXPECT_EQ(EventsWith("device A: fresh data again").size(), 1u);
}

TEST_F(HostE2eTest, ALineThatFailsLeavesTheOthersRunningAndIsRetried) {
  SimLine first({SteadyString(0x81, 13.0)});
  auto second =
      std::make_unique<SimLine>(std::vector<sim::MonitorProfile>{SteadyString(0x82, 13.1)});
  const std::string link = dir_ + "/ttyB";  // re-pointed when the monitor comes back
  ASSERT_EQ(::symlink(second->Path().c_str(), link.c_str()), 0);
  Start(MakeSite(
      Port("p1", first.Path()) + "," + Port("p2", link) + "," + Port("p3", "/nonexistent/ttyUSB9"),
      R"({"name": "A", "data_id": 1, "address": 1, "port": "p1"},
                    {"name": "B", "data_id": 2, "address": 2, "port": "p2"},
                    {"name": "C", "data_id": 3, "address": 3, "port": "p3"})"));
  Rounds(3);
  EXPECT_EQ(Device("A").link.counters().rounds, 3u);
  EXPECT_EQ(Device("B").link.counters().rounds, 3u);
  EXPECT_EQ(Device("C").link.counters().rounds, 0u);
  EXPECT_EQ(ViewOf("C").state, DataState::kOffline);

  second->Unplug();
  Rounds(4);
  EXPECT_FALSE(host_->PortOnline(1));
  EXPECT_EQ(ViewOf("B").state, DataState::kOffline);
  EXPECT_EQ(Device("A").link.counters().rounds, 7u) << "the other line keeps running";
  const std::uint64_t b_rounds = Device("B").link.counters().rounds;

  second = std::make_unique<SimLine>(std::vector<sim::MonitorProfile>{SteadyString(0x82, 13.1)});
  ASSERT_EQ(::unlink(link.c_str()), 0);
  ASSERT_EQ(::symlink(second->Path().c_str(), link.c_str()), 0);
  Rounds(6);
  EXPECT_TRUE(host_->PortOnline(1));
  EXPECT_GT(Device("B").link.counters().rounds, b_rounds);
  EXPECT_EQ(ViewOf("B").state, DataState::kFresh);

  // Each outage and each recovery is told once, however often it was retried.
  EXPECT_EQ(EventsWith("port p3: /nonexistent/ttyUSB9: cannot open: No such file or directory; "
                       "offline: C; retrying")
                .size(),
            1u);
  EXPECT_EQ(EventsWith("port p2:").size(), 2u);
  EXPECT_EQ(EventsWith("port p2: " + link + " is back; online again: B").size(), 1u);
  EXPECT_TRUE(EventsWith("port p1").empty());
}

TEST_F(HostE2eTest, ADeviceWhoseConfigurationIsRefusedIsSkipped) {
  SimLine line({SteadyString(0x81, 13.0), SteadyString(0x82, 13.0)});
  Start(MakeSite(Port("rs485", line.Path()),
                 R"({"name": "A", "data_id": 1, "address": 1, "port": "rs485",
                     "config": {"appSetting": {"b_mode": [3]}}},
                    {"name": "B", "data_id": 2, "address": 2, "port": "rs485"})"));
  Rounds(2);
  ASSERT_EQ(EventsWith("configuration refused").size(), 1u);
  EXPECT_EQ(EventsWith("configuration refused")[0].rfind(
                "device A (data id 1): configuration refused, device skipped: ", 0),
            0u);
  EXPECT_EQ(host_->FindDevice("A"), nullptr);
  EXPECT_EQ(Device("B").link.counters().rounds, 2u);
}

TEST_F(HostE2eTest, APlugInThatCannotBeLoadedIsReportedWithTheLoadersReason) {
  Site site = MakeSite(Port("rs485", "/dev/null"),
                       R"({"name": "A", "data_id": 1, "address": 1, "port": "rs485"})",
                       R"("plugin": "/nonexistent/halvex_30.so", )");
  try {
    Start(std::move(site));
    ADD_FAILURE() << "started";
  } catch (const qorv::PluginError& e) {
    EXPECT_EQ(std::string(e.what()),
              "cannot load plug-in: /nonexistent/halvex_30.so: cannot open shared object file: "
              "No such file or directory");
  }
}

TEST_F(HostE2eTest, ARestartedHostRestoresEachDevicesLastRecord) {
  {
    SimLine line({SteadyString(0x81, 12.9)});
    Start(MakeSite(Port("rs485", line.Path()),
                   R"({"name": "A", "data_id": 1, "address": 1, "port": "rs485"})"));
    Rounds(2);
    host_->Stop();
  }
  events_.clear();
  Start(MakeSite(Port("rs485", "/nonexistent/ttyS9"),
                 R"({"name": "A", "data_id": 1, "address": 1, "port": "rs485"})"));
  EXPECT_EQ(EventsWith("device A: last record from history restored").size(), 1u);
  EXPECT_FLOAT_EQ(Value("A", "battery_12_value"), 12.9f);
  EXPECT_FLOAT_EQ(Value("A", "group_voltage"), 387.0f);
  clock_.Advance(61);
  Rounds(1);
  EXPECT_EQ(ViewOf("A").state, DataState::kOffline);
  EXPECT_THROW(Value("A", "battery_12_value"), std::out_of_range) << "a restored record ages too";
}

TEST_F(HostE2eTest, TheDemoSitePollsBothMonitorsAtLineSpeed) {
  Start(DemoSite(true, Db()));
  Rounds(2);
  const DeviceSlot& a = Device("string-A");
  const DeviceSlot& b = Device("string-B");
  EXPECT_EQ(a.link.counters().rounds, 2u);
  EXPECT_EQ(b.link.counters().rounds, 2u);
  EXPECT_EQ(ViewOf("string-B").first_cell_number, 31);
  EXPECT_NEAR(Value("string-B", "group_voltage"), Value("string-A", "group_voltage") + 30 * 13.28f,
              1.0f);
  EXPECT_NEAR(Value("string-A", "group_current"), -5.0f, 0.05f);
  // 82 reply bytes at 19200 bit/s take 42.7 ms: a shorter round would mean
  // the replies were not paced, or the host cut a round short.
  const double round_ms = a.link.counters().last_round.count() / 1000.0;
  EXPECT_GE(round_ms, 42.0);
  EXPECT_LT(round_ms, 1000.0);
}

// A string on float for an evening, then a week in which block 18 drifts
// down 8 mV an hour until it crosses the 12.0 V floor, and recovers. The
// health alarms must warn days before the floor, each level exactly once.
TEST_F(HostE2eTest, AWeakBlockDriftingDownIsAlarmedLongBeforeItsFloor) {
  sim::MonitorProfile profile = SteadyString(0x81, 13.3);
  profile.cell_volts.clear();
  for (int k = 0; k < 30; ++k) profile.cell_volts.push_back(13.3 + 0.01 * (k % 3 - 1));  // ±10 mV
  profile.cell_volts[17] = 13.3;
  profile.noise_sigma_mv = 5.0;
  constexpr double kHour = 3600, kDriftStart = 4 * kHour, kDriftEnd = kDriftStart + 168 * kHour;
  sim::Event drift;
  drift.kind = sim::Event::Kind::kCellDrift;
  drift.cell = 17;
  drift.at_s = kDriftStart;
  drift.value = -8.0;  // mV an hour
  drift.for_s = kDriftEnd - kDriftStart;
  drift.recover_s = 12 * kHour;
  profile.events = {drift};
  SimLine line({profile});
  // Rounds take 50 ms of real time; the clocks move by the phase's step.
  Start(
      ParseSite(ParseSiteJson(R"({"poll_period_s": 0.05, "reply_timeout_ms": 45, "history_db": ")" +
                                  Db() + R"(", "ports": [)" + Port("rs485", line.Path()) + R"(],
          "devices": [{"name": "A", "data_id": 1, "address": 1, "port": "rs485",
            "limits": [{"name": "battery_*_value", "low": 12.0, "hysteresis": 0.1}],
            "health": {"deviation_mv": {}, "spread_mv": {}}}]})",  // 12 V defaults
                              "test site"),
                "test site", ""));
  double t = 0, healthy_worst_mv = 0, others_mv = 0;
  auto phase = [&](double step_s, double until_s) {
    while (t < until_s) {
      t += step_s;
      line.SetTime(t);
      clock_.Advance(static_cast<long>(step_s));
      Rounds(1);
      const std::optional<StringHealth> h = ViewOf("A").health;
      // Once block 18 is down, it drags the mean down: the others stand above it.
      for (const CellDeviation& d : h ? h->deviations : std::vector<CellDeviation>{}) {
        double& most = t <= kDriftStart ? healthy_worst_mv : others_mv;
        if (t <= kDriftStart || d.number != 18) most = std::max(most, std::fabs(d.deviation_mv));
      }
    }
  };
  Rounds(1);
  phase(300, kDriftStart);                // 4 h on float, 48 rounds
  phase(1800, kDriftStart + 24 * kHour);  // the warnings and the critical levels
  phase(4 * kHour, kDriftEnd);            // on towards the floor
  phase(kHour, kDriftEnd + 14 * kHour);   // recovery

  std::int64_t start = 0;
  std::set<std::int64_t> rows;
  host_->history()->ForEachRow(1, {}, [&](const HistoryRow& row) {
    if (row.reason == "first") start = row.utc + static_cast<std::int64_t>(kDriftStart);
    rows.insert(row.utc);
  });
  std::map<std::string, std::vector<double>>
      hours;  // "+deviation_mv warning": hours into the drift
  host_->history()->ForEachAlarm(1, {}, [&](const AlarmRow& a) {
    hours[(a.change.raised ? "+" : "-") + a.change.name + " " + AlarmKindName(a.change.kind)]
        .push_back(static_cast<double>(a.utc - start) / kHour);
    EXPECT_EQ(rows.count(a.utc), 1u) << "the round that moved an alarm is kept";
  });
  for (const char* what : {"deviation_mv warning", "deviation_mv critical", "spread_mv warning",
                           "spread_mv critical", "battery_17_value low"}) {
    SCOPED_TRACE(what);
    ASSERT_EQ(hours["+" + std::string(what)].size(), 1u) << "raised exactly once";
    ASSERT_EQ(hours["-" + std::string(what)].size(), 1u) << "cleared exactly once";
    EXPECT_LT(hours["+" + std::string(what)][0], hours["-" + std::string(what)][0]);
  }
  const double warned = hours["+deviation_mv warning"][0],
               floor = hours["+battery_17_value low"][0];
  std::printf(
      "healthy: worst %.1f mV off the mean; then the others at most %.1f mV; deviation "
      "warning at %.1f h, critical %.1f h, 12.0 V at %.1f h: warned %.1f h before\n",
      healthy_worst_mv, others_mv, warned, hours["+deviation_mv critical"][0], floor,
      floor - warned);
  EXPECT_LT(healthy_worst_mv, 40.0) << "σ 5 mV of noise on blocks ±10 mV apart";
  EXPECT_GT(warned, 0.0);
  EXPECT_LT(warned, hours["+deviation_mv critical"][0]);
  EXPECT_GT(floor - warned, 140.0) << "days of warning at 8 mV an hour";
}

}  // namespace
}  // namespace runner
