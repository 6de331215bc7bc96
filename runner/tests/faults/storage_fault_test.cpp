// The host's history store under faults: another program holding the
// database's write lock, a disk filling up and freed, a database that can
// only be read, its file deleted mid-run, reading history as another user,
// and a night when clocks go back. The host runs in-process with the real
// plug-in over pseudo-terminals and a manual host clock; the disk faults
// come from a SQLite VFS that fails on demand.
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fault_vfs.h"
#include "runner/cli/run_command.h"
#include "runner/history/history_command.h"
#include "runner/lines/poller.h"
#include "runner/round/battery_record.h"
#include "runner/site/demo_site.h"
#include "runner/view/json_report.h"
#include "runner/view/live_view.h"
#include "sim_line.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

using boost::posix_time::time_from_string;
using Steady = std::chrono::steady_clock;
using testing::SimLine;
using testing::SteadyString;

double SecondsSince(Steady::time_point t) {
  return std::chrono::duration<double>(Steady::now() - t).count();
}

class StorageFaultTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::InstallFaultVfs(); }
  void SetUp() override { dir_ = folder_.path(); }
  void TearDown() override {
    host_.reset();
    testing::SetDiskFull(false);
    testing::SetReadOnlyFiles(false);
  }

  // One monitor polled every 0.25 s, a row a minute, cell limits.
  Site MakeSite(const std::string& port_path) {
    const std::string text =
        R"({"poll_period_s": 0.25, "reply_timeout_ms": 240, "history_db": ")" + Db() +
        R"(", "ports": [{"name": "rs485", "path": ")" + port_path +
        R"("}], "devices": [{"name": "A", "data_id": 1, "address": 1, "port": "rs485",
           "config": {"appSetting": {"save_interval": 1}},
           "limits": [{"name": "battery_*_value", "low": 12.0, "hysteresis": 0.1}]}]})";
    return ParseSite(ParseSiteJson(text, "test site"), "test site", "");
  }

  Poller& Start(Site site, PollerOptions options = {}) {
    options.clock = &clock_;
    options.event_sink = [this](const std::string& line) { events_.push_back(line); };
    options.default_plugin = HALVEX_PLUGIN_PATH;
    host_ = std::make_unique<Poller>(std::move(site), options);
    host_->Start();
    return *host_;
  }

  // `n` rounds, the host clock moving `step` seconds after each.
  void Rounds(unsigned n, long step) {
    host_->Run(n, [&](const RoundReport&) { clock_.Advance(step); });
  }

  std::size_t EventsWith(const std::string& part) const {
    std::size_t n = 0;
    for (const std::string& e : events_) n += e.find(part) != std::string::npos;
    return n;
  }

  std::string Db() const { return dir_ + "/history.db"; }

  halvex::testing::TestFolder folder_;  // first made, last removed
  std::string dir_;
  ManualHostClock clock_{time_from_string("2026-12-08 10:00:00")};
  std::vector<std::string> events_;
  std::unique_ptr<Poller> host_;
};

TEST_F(StorageFaultTest, ALockHeldTwentySecondsNeitherStallsPollingNorLosesARow) {
  sim::MonitorProfile profile = SteadyString(0x81, 13.3);
  sim::Event drop;  // block 18 sags twice while the lock is held: four alarm events
  drop.kind = sim::Event::Kind::kCellDrop;
  drop.cell = 17;
  drop.at_s = 10;
  drop.for_s = 5;
  drop.value = 11.6;
  sim::Event again = drop;
  again.at_s = 30;
  profile.events = {drop, again};
  SimLine line({profile});
  Poller& host = Start(MakeSite(line.Path()));
  Rounds(2, 10);
  ASSERT_NE(host.history(), nullptr);

  // Another program takes the write lock for 20 s.
  const std::string holder = std::string(STORAGE_LOCK_HOLDER) + " '" + Db() + "' 20";
  FILE* lock = ::popen(holder.c_str(), "r");
  char said[16] = {};
  ASSERT_TRUE(lock && std::fgets(said, sizeof said, lock) && std::string(said) == "locked\n");
  const Steady::time_point locked_at = Steady::now();
  Steady::time_point last = locked_at;
  double longest_round = 0;
  unsigned rounds = 0;
  bool seen_pending = false;
  while (SecondsSince(locked_at) < 21) {
    Rounds(1, 10);
    ++rounds;
    longest_round = std::max(longest_round, SecondsSince(last));
    last = Steady::now();
    const double t = SecondsSince(locked_at);
    line.SetTime(t < 3 ? 0 : t < 7 ? 10 : t < 11 ? 20 : t < 15 ? 30 : 40);
    const StoreState state = *host.Store();
    seen_pending = seen_pending || (state.failing && state.pending > 0);
  }
  EXPECT_EQ(::pclose(lock), 0);
  Rounds(4, 10);
  std::vector<HistoryRow> rows;
  host.history()->ForEachRow(1, {}, [&](const HistoryRow& r) { rows.push_back(r); });

  // Margins for a loaded machine: a round that waited for the 20 s lock
  // would take seconds, not a few periods.
  EXPECT_LT(longest_round, 2.0) << "a round never waits for the database";
  EXPECT_GE(rounds, 50u) << "0.25 s rounds for 21 s";
  EXPECT_TRUE(seen_pending);
  const StoreState state = *host.Store();
  EXPECT_EQ(state.pending, 0u);
  EXPECT_EQ(state.lost, 0u);
  EXPECT_FALSE(state.failing);
  EXPECT_NE(state.last_error.find("database is locked"), std::string::npos) << state.last_error;

  std::size_t alarms = 0;
  host.history()->ForEachAlarm(1, {}, [&](const AlarmRow&) { ++alarms; });
  EXPECT_EQ(EventsWith("alarm raised"), 2u);
  EXPECT_EQ(EventsWith("alarm cleared"), 2u);
  EXPECT_EQ(alarms, 4u) << "every alarm raised or cleared under the lock is stored";
  EXPECT_EQ(rows.size(), state.stored);
  EXPECT_EQ(alarms, state.alarms_stored) << "records and alarm events counted apart";
  // A row every host minute, without a gap: the lock cost no interval.
  std::int64_t previous = -1;
  for (const HistoryRow& row : rows) {
    if (row.reason == "alarm") continue;
    if (previous >= 0) {
      EXPECT_LE(row.utc - previous, 60) << row.time;
    }
    previous = row.utc;
  }
}

TEST_F(StorageFaultTest, AFullDiskKeepsRowsPendingThenStoresThemAndCountsWhatDidNotFit) {
  SimLine line({SteadyString(0x81, 13.3)});
  PollerOptions options;
  options.history.capacity = 6;
  options.history.retry_most = std::chrono::milliseconds(200);
  Poller& host = Start(MakeSite(line.Path()), options);
  Rounds(2, 60);  // a minute a round: every round is a row
  ASSERT_EQ(host.history()->CountRows(1, {}), 2u);

  testing::SetDiskFull(true);
  Rounds(4, 60);
  StoreState state = *host.Store();
  EXPECT_EQ(state.pending, 4u);
  EXPECT_EQ(state.lost, 0u);
  EXPECT_TRUE(state.failing);
  EXPECT_NE(state.last_error.find("database or disk is full"), std::string::npos)
      << state.last_error;
  const SiteView view = host.View();
  EXPECT_EQ(RoundJson(view, {})["store"]["pending"].asUInt(), 4u);
  EXPECT_NE(RenderView(view, ViewStyle{80, 0, false, 0, "t"}).find("history: 4 pending, 0 lost"),
            std::string::npos);

  Rounds(4, 60);  // two more fit, two are refused
  state = *host.Store();
  EXPECT_EQ(state.pending, 6u);
  EXPECT_EQ(state.lost, 2u);
  EXPECT_EQ(EventsWith("history: rows lost so far: 2"), 1u);

  testing::SetDiskFull(false);
  Rounds(2, 60);
  ASSERT_NE(host.history(), nullptr);
  state = *host.Store();
  EXPECT_EQ(state.pending, 0u);
  EXPECT_EQ(state.lost, 2u);
  EXPECT_EQ(host.history()->CountRows(1, {}), 10u) << "2 before, 6 kept through it, 2 after";
  EXPECT_EQ(state.stored, 10u);
  EXPECT_EQ(EventsWith("history: writing again"), 1u);
  EXPECT_NE(RenderView(host.View(), ViewStyle{80, 0, false, 0, "t"}).find("2 lost"),
            std::string::npos);
}

// A real filesystem of 1 MiB, as on a small controller: the write-ahead log
// must be folded into the database long before SQLite's default of 4 MiB, or
// it fills the disk and, after space is freed, fills it again.
TEST_F(StorageFaultTest, OnASmallFilesystemFreeingSpaceIsEnoughToGoOnStoring) {
  const std::string mnt = dir_ + "/small";
  ::mkdir(mnt.c_str(), 0755);
  if (::geteuid() != 0 ||
      std::system(("mount -t tmpfs -o size=1m tmpfs '" + mnt + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "mounting a 1 MiB tmpfs needs root";
  struct Unmount {
    std::string at;
    ~Unmount() { std::system(("umount '" + at + "'").c_str()); }
  } unmount{mnt};
  const std::string filler = mnt + "/filler";
  std::ofstream(filler) << std::string(900 * 1024, 'x');
  const boost::posix_time::ptime t0 = boost::posix_time::time_from_string("2026-12-08 10:00:00");
  auto store = HistoryStore::Open(mnt + "/h.db");
  std::vector<unsigned char> raw(152, 0x55);
  const auto add = [&](int k) {
    store->Begin();
    store->AddRow(InstantOfLocal(t0 + boost::posix_time::minutes(k)), "interval", raw);
    store->Commit();
  };
  int k = 0;
  try {
    for (; k < 5000; ++k) add(k);
    FAIL() << "the disk never filled";
  } catch (const HistoryError& e) {
    store->Rollback();
    EXPECT_EQ(e.code(), SQLITE_FULL) << e.what();
  }
  std::remove(filler.c_str());
  store->FoldLog();
  for (int more = 0; more < 600; ++more) ASSERT_NO_THROW(add(++k)) << "row " << more;
  EXPECT_EQ(store->CountRows(0x55555555, {}), static_cast<std::size_t>(k));
}

TEST_F(StorageFaultTest, StoppingOnAFullDiskTakesAFewSecondsAndExitsWithRowsLost) {
  const std::string db = dir_ + "/demo.db";
  HistoryStore::Open(db);  // exists before the disk fills
  testing::SetDiskFull(true);
  RunOptions options;
  options.rounds = 2;
  options.json = true;
  options.log_path = dir_ + "/demo.log";
  options.default_plugin = HALVEX_PLUGIN_PATH;
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  const Steady::time_point start = Steady::now();
  const int status = RunSite(DemoSite(false, db), options);
  const double took = SecondsSince(start);
  ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, kExitRowsLost) << err;
  EXPECT_LT(took, 2 * 1.0 + 2.5 + 3.0) << "two 1 s rounds and the final flush, with a margin";
  EXPECT_NE(err.find("history: 0 records and 0 alarm events stored, 4 lost; last error: "),
            std::string::npos)
      << err;
}

TEST_F(StorageFaultTest, ADatabaseThatCanOnlyBeReadIsRefusedAtStart) {
  HistoryStore::Open(Db());
  testing::SetReadOnlyFiles(true);
  SimLine line({SteadyString(0x81, 13.3)});
  try {
    Start(MakeSite(line.Path()));
    FAIL() << "the host started on a database it cannot write";
  } catch (const HistoryError& e) {
    EXPECT_EQ(std::string(e.what()),
              Db() + ": history database is read-only for this user; rows could not be stored");
  }
}

TEST_F(StorageFaultTest, ADatabaseDeletedMidRunIsReportedAndWritingGoesOnInANewFile) {
  SimLine line({SteadyString(0x81, 13.3)});
  Poller& host = Start(MakeSite(line.Path()));
  Rounds(2, 60);
  ASSERT_EQ(host.history()->CountRows(1, {}), 2u);
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((Db() + suffix).c_str());
  Rounds(3, 60);
  ASSERT_NE(host.history(), nullptr);
  const StoreState state = *host.Store();
  EXPECT_NE(state.last_error.find("deleted or replaced while open"), std::string::npos);
  EXPECT_EQ(state.lost, 0u);
  EXPECT_EQ(EventsWith("deleted or replaced while open"), 1u) << "logged once";
  auto fresh = HistoryStore::OpenReadOnly(Db());
  EXPECT_EQ(fresh->CountRows(1, {}), 3u) << "the rounds after the deletion are in the new file";
  const std::optional<DeviceInfo> device = fresh->Device(1);
  ASSERT_TRUE(device.has_value()) << "the device is described again, or its cells go unnumbered";
  EXPECT_EQ(device->name, "A");
}

// Runs `body` as a user who cannot write the folder: "nobody" when the
// test runs as root, else the test's own user with the folder made
// read-only. Returns its exit status.
int AsReaderOnly(const std::string& dir, const std::function<int()>& body) {
  if (::geteuid() != 0) {
    ::chmod(dir.c_str(), 0555);
    const int status = body();
    ::chmod(dir.c_str(), 0755);
    return status;
  }
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) return -1;
  ::chmod(dir.c_str(), 0755);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(100);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(StorageFaultTest, HistoryReadsACopyOnReadOnlyMediaAndNeverCreatesAFile) {
  {
    SimLine line({SteadyString(0x81, 13.3)});
    Start(MakeSite(line.Path()));
    Rounds(3, 60);
    host_.reset();
  }
  ::chmod(Db().c_str(), 0444);
  const int status = AsReaderOnly(dir_, [&] {
    std::ostringstream out, err;
    const int rc = RunHistory({Db(), 1, "", "", "-", false}, out, err);
    std::ostringstream none_err;
    const int missing = RunHistory({dir_ + "/histroy.db", 1, "", "", "-", false}, out, none_err);
    const std::string text = out.str();
    const bool ok =
        rc == 0 && std::count(text.begin(), text.end(), '\n') == 4 && missing == 1 &&
        none_err.str().find(dir_ + "/histroy.db: no such history database") != std::string::npos;
    return ok ? 0 : 10 + rc;
  });
  EXPECT_EQ(status, 0) << "three rows and the header, as a reader who cannot write there";
  EXPECT_NE(::access((dir_ + "/histroy.db").c_str(), F_OK), 0) << "a mistyped name stays absent";
  EXPECT_NE(::access((Db() + "-shm").c_str(), F_OK), 0) << "nothing made beside the database";
}

// A zone with daylight saving, for the life of the object: clocks go back
// from 03:00 CEST to 02:00 CET on 2026-10-25, so 02:00 to 02:59 happens twice.
struct FallBackZone {
  const bool had = std::getenv("TZ") != nullptr;
  const std::string saved = had ? std::getenv("TZ") : "";
  FallBackZone() { ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1), ::tzset(); }
  ~FallBackZone() { had ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ"), ::tzset(); }
};

TEST_F(StorageFaultTest, RowsOfAHourThatRepeatsSortByTheirInstant) {
  FallBackZone zone;
  const std::int64_t night = 1792879200;  // 2026-10-24 22:00:00 UTC, 00:00 CEST
  struct Stamp {
    const char* local;
    std::int64_t utc;
    int offset;
  };
  const Stamp stamps[] = {
      // in the order they happened
      {"2026-10-25 02:40:00", night + 160 * 60, 7200},  // 00:40 UTC
      {"2026-10-25 02:10:00", night + 190 * 60, 3600},  // 01:10 UTC
      {"2026-10-25 02:50:00", night + 230 * 60, 3600},  // 01:50 UTC
      {"2026-10-25 03:05:00", night + 245 * 60, 3600},  // 02:05 UTC
  };
  for (const Stamp& s : stamps) {
    SCOPED_TRACE(s.local);
    const HostInstant at = InstantOfLocal(time_from_string(s.local), s.offset == 3600);
    EXPECT_EQ(at.utc, s.utc);
    EXPECT_EQ(at.utc_offset_s, s.offset);
  }
  {
    auto store = HistoryStore::Open(Db());
    for (const Stamp& s : {stamps[2], stamps[0], stamps[3], stamps[1]}) {  // written out of order
      const auto local = time_from_string(s.local);
      BatteryRecord r;
      r.data_id = 1;
      r.ttime = get_ttime(local);
      store->AddRow({local, s.utc, s.offset}, "interval", EncodeRecord(r));
    }
  }
  std::ostringstream out, err;
  ASSERT_EQ(
      RunHistory({Db(), 1, "2026-10-25 02:00:00", "2026-10-25 02:59:59", "-", false}, out, err), 0)
      << err.str();
  std::vector<std::string> times;
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) times.push_back(line.substr(0, 19));
  EXPECT_EQ(times, (std::vector<std::string>{"time,data_id,reason", "2026-10-25 02:40:00",
                                             "2026-10-25 02:10:00", "2026-10-25 02:50:00"}))
      << "both passes through 02:xx, in the order they happened";
}

TEST_F(StorageFaultTest, ADatabaseOfTheFirstLayoutIsMigratedWithTheEarlierReadingOfARepeatedHour) {
  FallBackZone zone;
  sqlite3* db = nullptr;  // the columns the first layout is known by, two rows
  ASSERT_EQ(sqlite3_open(Db().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE history(id INTEGER PRIMARY KEY, time TEXT, data_id INTEGER,"
                         " reason TEXT, record BLOB); INSERT INTO history(time, data_id, reason,"
                         " record) VALUES ('2026-10-25 02:30:00', 1, 'interval', zeroblob(152)),"
                         " ('2026-10-25 01:30:00', 1, 'interval', zeroblob(152));",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  std::vector<std::pair<std::string, std::int64_t>> read_only, migrated;
  auto copy = HistoryStore::OpenReadOnly(Db());
  copy->ForEachRow(1, {}, [&](const HistoryRow& r) { read_only.emplace_back(r.time, r.utc); });
  copy.reset();
  auto store = HistoryStore::Open(Db());
  store->ForEachRow(1, {}, [&](const HistoryRow& r) { migrated.emplace_back(r.time, r.utc); });
  const std::vector<std::pair<std::string, std::int64_t>> expected = {
      {"2026-10-25 01:30:00", 1792884600},  // 23:30 UTC
      {"2026-10-25 02:30:00", 1792888200},  // 00:30 UTC: the summer-time reading
  };
  EXPECT_EQ(read_only, expected);
  EXPECT_EQ(migrated, expected);
}

}  // namespace
}  // namespace runner
