#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "runner/history/history_command.h"
#include "runner/history/history_store.h"
#include "runner/history/save_policy.h"
#include "runner/round/battery_record.h"
#include "runner/time/time_text.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

using boost::posix_time::ptime;
using boost::posix_time::time_from_string;

BatteryRecord Record(unsigned id, float first_cell, ptime at) {
  BatteryRecord r;
  r.data_id = id;
  for (std::size_t k = 0; k < 30; ++k) r.cells[k] = first_cell + 0.01f * static_cast<float>(k);
  r.group_voltage = 399.5f;
  r.group_current = -5.25f;
  r.temperature = 25.5f;
  r.ttime = get_ttime(at);
  return r;
}

TEST(BatteryRecordTest, FieldsSitAtTheirOffsetsLittleEndian) {
  const ptime at = time_from_string("2026-12-07 14:03:09");
  BatteryRecord r = Record(0x01020304, 13.0f, at);
  r.status = 0x5A;
  const std::vector<unsigned char> bytes = EncodeRecord(r);
  ASSERT_EQ(bytes.size(), 152u);
  EXPECT_EQ(bytes[0], 0x04);
  EXPECT_EQ(bytes[3], 0x01);
  EXPECT_EQ(bytes[140], 0x5A);
  // 25.5 is 0x41CC0000: its bytes start unaligned at 141.
  EXPECT_EQ(bytes[141], 0x00);
  EXPECT_EQ(bytes[143], 0xCC);
  EXPECT_EQ(bytes[144], 0x41);
  // The stamp of 2026-12-07 14:03:09 closes the record.
  const std::vector<unsigned char> stamp(bytes.begin() + 145, bytes.end());
  EXPECT_EQ(stamp, (std::vector<unsigned char>{0x57, 0x29, 0x35, 0x01, 0x0E, 0x03, 0x09}));
  const std::optional<BatteryRecord> back = DecodeRecord(bytes);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->data_id, r.data_id);
  EXPECT_EQ(back->cells, r.cells);
  EXPECT_FLOAT_EQ(back->temperature, 25.5f);
  EXPECT_EQ(back->Time(), at);
  EXPECT_FALSE(DecodeRecord(std::vector<unsigned char>(151)).has_value());
}

TEST(SavePolicyTest, KeepsTheFirstRoundThenOnePerIntervalPlusAlarmRounds) {
  SavePolicy policy;
  const ptime t0 = time_from_string("2026-12-08 10:00:00");
  auto at = [&](long s) { return t0 + boost::posix_time::seconds(s); };
  struct Step {
    const char* name;
    unsigned id;
    long second;
    bool alarm;
    const char* expected;  // nullptr: not kept
    bool dropped = false;  // the writer refused the row
  };
  const Step steps[] = {
      {"first round of device 1", 1, 0, false, "first"},
      {"first round of device 2 is its own", 2, 0, false, "first"},
      {"inside the interval", 1, 30, false, nullptr},
      {"an alarm moved", 1, 40, true, "alarm"},
      {"an alarm row does not shift the interval", 1, 59, false, nullptr},
      {"the interval is up", 1, 60, false, "interval"},
      {"next interval counts from the kept row", 1, 119, false, nullptr},
      {"clock set back keeps the round and restarts", 1, 10, false, "interval"},
      {"and counts from there", 1, 69, false, nullptr},
      {"a refused interval row", 1, 70, false, "interval", true},
      {"is kept again on the next round", 1, 71, false, "interval"},
      {"which the interval then counts from", 1, 130, false, nullptr},
      {"a refused first row", 3, 0, false, "first", true},
      {"leaves the next round first", 3, 1, false, "first"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    const std::optional<std::string> reason = policy.Decide(s.id, at(s.second), 1, s.alarm);
    if (s.expected == nullptr) {
      EXPECT_FALSE(reason.has_value()) << *reason;
    } else {
      EXPECT_EQ(reason.value_or("(none)"), s.expected);
    }
    if (s.dropped) policy.Dropped(s.id, at(s.second));
  }
}

class HistoryStoreTest : public ::testing::Test {
 protected:
  halvex::testing::TestFolder folder_;
  std::string path_ = folder_ / "history.db";
};

TEST_F(HistoryStoreTest, RowsSurviveReopeningAndGiveTheLastRecordBack) {
  const ptime t0 = time_from_string("2026-12-08 10:00:00");
  {
    auto store = HistoryStore::Open(path_);
    store->AddRow(InstantOfLocal(t0), "first", EncodeRecord(Record(1, 13.0f, t0)));
    store->AddRow(InstantOfLocal(t0 + boost::posix_time::minutes(1)), "interval",
                  EncodeRecord(Record(1, 13.2f, t0)));
    store->AddRow(InstantOfLocal(t0), "first", EncodeRecord(Record(2, 12.5f, t0)));
  }
  auto store = HistoryStore::Open(path_);
  const auto last = store->LastRecord(1);
  ASSERT_TRUE(last.has_value());
  EXPECT_FLOAT_EQ(DecodeRecord(*last)->cells[0], 13.2f) << "the newest row of that id";
  EXPECT_FALSE(store->LastRecord(7).has_value());
  std::vector<std::string> seen;
  store->ForEachRow(1, {}, [&](const HistoryRow& row) {
    seen.push_back(row.time + " " + row.reason + " " + std::to_string(row.record.cells[29]));
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"2026-12-08 10:00:00 first 13.290000",
                                            "2026-12-08 10:01:00 interval 13.490000"}));
}

TEST_F(HistoryStoreTest, RangesAreInclusiveAndDateOnlyEndsCoverTheDay) {
  auto store = HistoryStore::Open(path_);
  for (const char* t : {"2026-12-07 23:59:59", "2026-12-08 00:00:00", "2026-12-08 12:00:00",
                        "2026-12-08 23:59:59", "2026-12-09 00:00:00"}) {
    const ptime at = time_from_string(t);
    store->AddRow(InstantOfLocal(at), "interval", EncodeRecord(Record(1, 13.0f, at)));
  }
  store.reset();
  struct Case {
    const char* name;
    const char* from;
    const char* to;
    std::size_t rows;
  };
  const Case cases[] = {
      {"everything", "", "", 5},
      {"one day by dates", "2026-12-08", "2026-12-08", 3},
      {"from a time on", "2026-12-08 12:00:00", "", 3},
      {"up to a time, inclusive", "", "2026-12-08 00:00:00", 2},
      {"to the minute", "2026-12-08 12:00", "2026-12-08 23:59", 1},
      {"an instant with its offset", "@12:00+01:00", "", 3},
      {"the same instant in UTC", "@12:00Z", "", 3},
      {"back from now, far", "-100000d", "", 5},
      {"up to long ago", "", "-100000d", 0},
  };
  // The instant of the 12:00 row, written with an offset: whatever zone the
  // test runs in, it names that row.
  const std::int64_t noon = InstantOfLocal(time_from_string("2026-12-08 12:00:00")).utc;
  const auto instant = [&](const std::string& text) {
    if (text.rfind("@12:00", 0) != 0) return text;
    return text == "@12:00Z" ? FormatInstant(noon, 0).substr(0, 19) + "Z"
                             : FormatInstant(noon, 3600);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HistoryOptions options{path_, 1, instant(c.from), instant(c.to), "-", false};
    std::ostringstream out, err;
    ASSERT_EQ(RunHistory(options, out, err), 0) << err.str();
    const std::string csv = out.str();
    const auto lines = static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n'));
    EXPECT_EQ(lines, c.rows + 1) << csv;  // and the header
  }
}

TEST_F(HistoryStoreTest, CsvCarriesEveryCellAndTheAlarmLogItsTexts) {
  const ptime t0 = time_from_string("2026-12-08 10:00:00");
  {
    auto store = HistoryStore::Open(path_);
    store->AddRow(InstantOfLocal(t0), "first", EncodeRecord(Record(2, 13.0f, t0)));
    AlarmChange change{"battery_17_value", "第48节电池", 18, AlarmKind::kLow, true, 11.5f, 12.0f};
    store->AddAlarm(InstantOfLocal(t0), 2, "string-B", change);
  }
  HistoryOptions options{path_, 2, "", "", "-", false};
  std::ostringstream out, err;
  ASSERT_EQ(RunHistory(options, out, err), 0);
  std::istringstream lines(out.str());
  std::string header, row;
  std::getline(lines, header);
  std::getline(lines, row);
  EXPECT_EQ(header.substr(0, 35), "time,data_id,reason,cell_1,cell_2,c");
  EXPECT_NE(header.find(",cell_30,group_voltage,group_current,temperature"), std::string::npos);
  EXPECT_EQ(row.substr(0, 47), "2026-12-08 10:00:00,2,first,13.000,13.010,13.02");
  EXPECT_NE(row.find(",13.290,399.500,-5.250,25.500"), std::string::npos) << row;

  options.alarms = true;
  std::ostringstream alarms;
  ASSERT_EQ(RunHistory(options, alarms, err), 0);
  EXPECT_EQ(
      alarms.str(),
      "time,data_id,device,name,text,point,kind,event,value,limit,utc\n"
      "2026-12-08 10:00:00,2,string-B,battery_17_value,第48节电池,18,low,raised,11.500,12.000," +
          FormatInstant(InstantOfLocal(t0).utc, InstantOfLocal(t0).utc_offset_s) + "\n");
}

TEST_F(HistoryStoreTest, CsvAndTableShowTheCellsTheDeviceHasByTheirNumbersInTheString) {
  const ptime t0 = time_from_string("2026-12-08 10:00:00");
  {
    auto store = HistoryStore::Open(path_);
    BatteryRecord r = Record(5, 13.0f, t0);
    r.cells[3] = 11.9f;  // the lowest of the 24
    r.cells[27] = 0.0f;  // a slot the device does not have
    store->AddRow(InstantOfLocal(t0), "first", EncodeRecord(r));
    store->PutDevice({5, "string-B", 24, 7});
  }
  struct Case {
    const char* name;
    const char* csv;
    const char* expected;  // a part of the output
    const char* absent;
  };
  const Case cases[] = {
      {"header keeps the column names", "-", "reason,cell_1,cell_2,", "cell_0,"},
      {"header ends at the device's last cell", "-", ",cell_24,group_voltage", "cell_25"},
      {"the row has 24 cells", "-", ",13.230,399.500", ",13.240,"},
      {"the table names the lowest cell by its number", "", "11.900 #10", "0.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out, err;
    ASSERT_EQ(RunHistory({path_, 5, "", "", c.csv, false}, out, err), 0) << err.str();
    EXPECT_NE(out.str().find(c.expected), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find(c.absent), std::string::npos) << out.str();
  }
}

TEST_F(HistoryStoreTest, DatesAreReadStrictlyAndNameTheOption) {
  struct Case {
    const char* from;
    const char* to;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"", "2026-12-8", 2, "--to: \"2026-12-8\" is not a time; expected YYYY-MM-DD,"},
      {"-2x", "", 2, "--from: \"-2x\" is not a time"},
      {"2026-12-08T22:00:00+25:00", "", 2, "is not a time"},
      {"2026-12-08T22:00+0100", "", 2, "is not a time"},
      {"2026-12-09", "2026-12-08T00:00:00Z", 2, "--to lies before --from"},
      {"2026-12-08 9:00:00", "", 2, "--from: \"2026-12-08 9:00:00\" is not a time"},
      {"+2026-12-08", "", 2, "--from: \"+2026-12-08\" is not a time"},
      {"2026-02-30", "", 2, "--from: \"2026-02-30\" is not a time"},
      // Read well, so the database is asked: it holds nothing of data id 1.
      {"2026-12-08T09:00:00", "2026-12-08", 1, "holds no data id 1; it holds none"},
  };
  HistoryStore::Open(path_);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " " + c.to);
    std::ostringstream out, err;
    EXPECT_EQ(RunHistory({path_, 1, c.from, c.to, "", false}, out, err), c.status);
    EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
  }
}

TEST_F(HistoryStoreTest, AFileThatIsNotAHistoryOfThisLayoutIsRefusedNamingIt) {
  struct Case {
    const char* name;
    const char* sql;  // run on a new SQLite file; nullptr: not SQLite at all
    bool read_only;   // opened as `history` opens it
    const char* problem;
  };
  const Case cases[] = {
      {"garbage, read", nullptr, true, "file is not a database"},
      {"a newer layout", "PRAGMA user_version = 7", false, "layout version 7, newer than"},
      {"another program's table", "CREATE TABLE history(x)", false,
       "unknown layout: table history has no column"},
      {"an empty database, read", "CREATE TABLE other(x)", true, "it has no history table"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path_ + suffix).c_str());
    if (c.sql == nullptr) {
      std::FILE* f = std::fopen(path_.c_str(), "wb");
      for (int i = 0; i < 200; ++i) std::fputs("not a database ", f);
      std::fclose(f);
    } else {
      sqlite3* db = nullptr;
      sqlite3_open(path_.c_str(), &db);
      sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr);
      sqlite3_close(db);
    }
    try {
      if (c.read_only) {
        HistoryStore::OpenReadOnly(path_);
      } else {
        HistoryStore::Open(path_);
      }
      ADD_FAILURE() << "opened";
    } catch (const HistoryError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(path_ + ": ", 0), 0u) << what;
      EXPECT_NE(what.find(c.problem), std::string::npos) << what;
    }
  }
}

TEST_F(HistoryStoreTest, HistoryCommandRejectsBadInput) {
  std::ostringstream out, err;
  HistoryOptions options{path_, 1, "yesterday", "", "", false};
  EXPECT_EQ(RunHistory(options, out, err), 2);
  EXPECT_NE(err.str().find("\"yesterday\" is not a time"), std::string::npos);
  options.from = "2026-12-09";
  options.to = "2026-12-08";
  EXPECT_EQ(RunHistory(options, out, err), 2);
  options = {path_ + ".none", 1, "", "", "", false};
  EXPECT_EQ(RunHistory(options, out, err), 1);
  EXPECT_NE(err.str().find("no such history database"), std::string::npos);
}

}  // namespace
}  // namespace runner

namespace runner {
namespace {

TEST_F(HistoryStoreTest, WithoutADataIdTheDatabaseSaysWhatItHoldsAndAnAbsentIdIsRefused) {
  const ptime t0 = time_from_string("2026-12-08 10:00:00");
  const ptime t1 = time_from_string("2026-12-08 11:30:00");
  {
    auto store = HistoryStore::Open(path_);
    store->PutDevice({2, "string-B", 24, 7});
    for (const ptime& at : {t1, t0})  // stored out of order: first and last go by time
      store->AddRow(InstantOfLocal(at), "interval", EncodeRecord(Record(2, 13.0f, at)));
    store->AddRow(InstantOfLocal(t0), "first", EncodeRecord(Record(9, 13.0f, t0)));
    AlarmChange change{"battery_3_value", "", 4, AlarmKind::kLow, true, 11.5f, 12.0f};
    for (unsigned id : {2u, 2u, 4u}) store->AddAlarm(InstantOfLocal(t0), id, "x", change);
  }
  std::ostringstream out, err;
  ASSERT_EQ(RunHistory({path_, std::nullopt, "", "", "", false}, out, err), 0) << err.str();
  std::istringstream lines(out.str());
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 5u) << out.str();
  EXPECT_EQ(rows[2],
            "      2  string-B                 24         2  2026-12-08 10:00:00  "
            "2026-12-08 11:30:00             2");
  EXPECT_EQ(rows[3],
            "      4  ?                         ?         0  -                    -"
            "                               1")
      << "a data id with alarm events only is listed too";
  EXPECT_EQ(rows[4].substr(0, 7), "      9");

  for (unsigned absent : {999u, 3u}) {
    std::ostringstream none_out, none_err;
    EXPECT_EQ(RunHistory({path_, absent, "", "", "", false}, none_out, none_err), 1);
    EXPECT_NE(
        none_err.str().find("holds no data id " + std::to_string(absent) + "; it holds 2, 4 and 9"),
        std::string::npos)
        << none_err.str();
  }
}

TEST_F(HistoryStoreTest, ADatabaseThatCannotBeOpenedIsToldWithTheSystemsReason) {
  std::ostringstream err;
  EXPECT_FALSE(OpenHistoryToRead(path_ + ".missing", err));
  EXPECT_NE(err.str().find(".missing: no such history database"), std::string::npos) << err.str();

  { auto store = HistoryStore::Open(path_); }
  std::ostringstream through_file;
  EXPECT_FALSE(OpenHistoryToRead(path_ + "/h.db", through_file));
  EXPECT_NE(through_file.str().find("/h.db: cannot be opened: Not a directory"), std::string::npos)
      << through_file.str();
}

// Another program's database is refused and left byte for byte as it was;
// an empty file, or one of ours from before the mark, is ours.
TEST_F(HistoryStoreTest, AnotherProgramsDatabaseIsRefusedAndLeftUnchanged) {
  const auto bytes = [&] {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const struct {
    const char* name;
    const char* sql;
    const char* problem;
  } cases[] = {
      {"a notes table", "CREATE TABLE notes(x); INSERT INTO notes VALUES(1)",
       "another program's tables (notes)"},
      {"our names beside another", "CREATE TABLE history(x); CREATE TABLE jobs(y)",
       "another program's tables (jobs)"},
      {"another program's mark", "PRAGMA application_id = 7; CREATE TABLE history(x)",
       "application id 0x00000007"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path_ + suffix).c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string before = bytes();
    try {
      HistoryStore::Open(path_);
      ADD_FAILURE() << "opened";
    } catch (const HistoryError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(path_ + ": not a history database: ", 0), 0u)
          << e.what();
      EXPECT_NE(std::string(e.what()).find(c.problem), std::string::npos) << e.what();
    }
    EXPECT_EQ(bytes(), before) << "not a byte changed";
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path_ + suffix).c_str());
  std::ofstream(path_).close();  // an empty file becomes ours
  EXPECT_NO_THROW(HistoryStore::Open(path_));
}

// A damaged page deep in the file: the message names the file.
TEST_F(HistoryStoreTest, ADamagedDatabaseIsNamedInTheMessage) {
  {
    auto store = HistoryStore::Open(path_);
    const ptime t0 = time_from_string("2026-12-08 10:00:00");
    store->Begin();
    for (int k = 0; k < 400; ++k)
      store->AddRow(InstantOfLocal(t0 + boost::posix_time::minutes(k)), "interval",
                    EncodeRecord(Record(1, 13.0f, t0)));
    store->Commit();
  }
  {
    std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(8 * 4096);
    file << std::string(4096 * 4, '\x5A');
  }
  std::ostringstream out, err;
  EXPECT_EQ(RunHistory({path_, 1, "", "", "", false}, out, err), 1);
  EXPECT_EQ(err.str().rfind("qorv-host history: " + path_ + ": ", 0), 0u) << err.str();
}

// An export that cannot be written in full fails with status 1 and leaves
// no partial file under the target's name.
TEST_F(HistoryStoreTest, AnExportThatCannotBeWrittenFailsAndLeavesNothingBehind) {
  {
    auto store = HistoryStore::Open(path_);
    const ptime t0 = time_from_string("2026-12-08 10:00:00");
    for (int k = 0; k < 50; ++k)
      store->AddRow(InstantOfLocal(t0 + boost::posix_time::minutes(k)), "interval",
                    EncodeRecord(Record(1, 13.0f, t0)));
  }
  std::ostringstream out, err;
  EXPECT_EQ(RunHistory({path_, 1, "", "", "/dev/full", false}, out, err), 1);
  EXPECT_NE(err.str().find("/dev/full: cannot write: No space left on device"), std::string::npos)
      << err.str();

  // A file size limit makes the disk "full" after 1 KiB of a regular file.
  const std::string csv = folder_ / "export.csv";
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1024, 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::ostringstream o, e;
    ::_exit(RunHistory({path_, 1, "", "", csv, false}, o, e));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path()))
    EXPECT_EQ(entry.path().string().find("export.csv"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace runner

namespace runner {
namespace {

// A database of the layout before messages were kept takes them without a
// migration step; what the broker has not acknowledged is there after a
// reopen, oldest first, per device, and the sequence numbers carry on.
TEST_F(HistoryStoreTest, KeptMessagesAndSequencesSurviveReopeningADatabaseOfTheEarlierLayout) {
  const ptime t0 = time_from_string("2026-12-08 10:00:00");
  HistoryStore::Open(path_)->AddRow(InstantOfLocal(t0), "first", EncodeRecord(Record(1, 13.f, t0)));
  {
    auto store = HistoryStore::Open(path_);
    EXPECT_TRUE(store->Sequences().empty());
    for (std::uint64_t seq = 1; seq <= 4; ++seq)
      for (unsigned id : {1u, 2u})
        store->AddOutbox(
            {id, seq, 1000 + static_cast<std::int64_t>(seq), "m" + std::to_string(seq)});
    store->Acknowledge(1, 1, true);
    store->Acknowledge(1, 3, true);
    store->Acknowledge(2, 1, false);  // too old to send: gone, but not acknowledged
  }
  auto store = HistoryStore::OpenReadOnly(path_);
  const auto seq = store->Sequences();
  EXPECT_EQ(seq.at(1).last, 4u);
  EXPECT_EQ(seq.at(1).acknowledged, 3u);
  EXPECT_EQ(seq.at(2).acknowledged, 0u);
  std::vector<std::uint64_t> kept;
  for (const OutboxMessage& m : store->ReadOutbox(1, 0, 100, 10)) kept.push_back(m.seq);
  EXPECT_EQ(kept, (std::vector<std::uint64_t>{2, 4}));
  EXPECT_EQ(store->ReadOutbox(2, 2, 4, 10).size(), 1u) << "bounds are exclusive";
  EXPECT_EQ(store->ReadOutbox(2, 0, 100, 2).front().payload, "m2");
  EXPECT_EQ(store->OutboxCount(), 5u);
}

}  // namespace
}  // namespace runner
