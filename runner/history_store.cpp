#include "runner/history_store.h"

#include <sqlite3.h>

#include <cstdio>
#include <sstream>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace runner {
namespace {

std::string CellColumns(const char* separator, const char* each) {
  std::string text;
  for (int k = 1; k <= kHistoryCells; ++k)
    text += std::string(separator) + "cell_" + std::to_string(k) + each;
  return text;
}

std::string CreateHistorySql() {
  return "CREATE TABLE IF NOT EXISTS history("
         "id INTEGER PRIMARY KEY, time TEXT NOT NULL, data_id INTEGER NOT NULL,"
         "reason TEXT NOT NULL" +
         CellColumns(", ", " REAL") +
         ", group_voltage REAL, group_current REAL, temperature REAL, record BLOB NOT NULL);"
         "CREATE INDEX IF NOT EXISTS history_by_id_time ON history(data_id, time);";
}

constexpr const char* kCreateAlarmsSql =
    "CREATE TABLE IF NOT EXISTS alarms("
    "id INTEGER PRIMARY KEY, time TEXT NOT NULL, data_id INTEGER NOT NULL, device TEXT,"
    "name TEXT, text TEXT, point INTEGER, kind TEXT, event TEXT, value REAL, limit_value REAL);"
    "CREATE INDEX IF NOT EXISTS alarms_by_id_time ON alarms(data_id, time);";

// One prepared statement, finalized on scope exit.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
      throw HistoryError(std::string("history: ") + sqlite3_errmsg(db));
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void Bind(int i, const std::string& text) {
    sqlite3_bind_text(stmt_, i, text.c_str(), -1, SQLITE_TRANSIENT);
  }
  void Bind(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  void Bind(int i, double v) { sqlite3_bind_double(stmt_, i, v); }
  void BindBlob(int i, const std::vector<unsigned char>& bytes) {
    sqlite3_bind_blob(stmt_, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  }
  // True while a row is there.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) throw HistoryError(std::string("history: ") + sqlite3_errmsg(db_));
    return false;
  }
  std::string Text(int col) const {
    const unsigned char* t = sqlite3_column_text(stmt_, col);
    return t ? reinterpret_cast<const char*>(t) : "";
  }
  std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  double Real(int col) const { return sqlite3_column_double(stmt_, col); }
  std::vector<unsigned char> Blob(int col) const {
    const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, col));
    return p ? std::vector<unsigned char>(p, p + sqlite3_column_bytes(stmt_, col))
             : std::vector<unsigned char>{};
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// "AND time >= ?2 AND time <= ?3" for the ends that are set, bound from 2 on.
std::string RangeSql(const TimeRange& range) {
  std::string sql;
  if (range.from) sql += " AND time >= ?2";
  if (range.to) sql += " AND time <= ?3";
  return sql;
}

void BindRange(Statement& s, unsigned data_id, const TimeRange& range) {
  s.Bind(1, static_cast<std::int64_t>(data_id));
  if (range.from) s.Bind(2, FormatTime(*range.from));
  if (range.to) s.Bind(3, FormatTime(*range.to));
}

}  // namespace

std::unique_ptr<HistoryStore> HistoryStore::Open(const std::string& path) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw HistoryError(path + ": cannot open history database: " + message);
  }
  std::unique_ptr<HistoryStore> store(new HistoryStore(db, path));
  sqlite3_busy_timeout(db, 2000);
  try {
    store->Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    store->Exec(CreateHistorySql().c_str());
    store->Exec(kCreateAlarmsSql);
  } catch (const HistoryError& e) {
    throw HistoryError(path + ": " + e.what());
  }
  return store;
}

HistoryStore::HistoryStore(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

HistoryStore::~HistoryStore() { sqlite3_close(db_); }

void HistoryStore::Exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw HistoryError("history: " + message);
  }
}

void HistoryStore::AddRow(boost::posix_time::ptime time, const std::string& reason,
                          const std::vector<unsigned char>& raw) {
  const std::optional<BatteryRecord> record = DecodeRecord(raw);
  if (!record) throw HistoryError("history: a record must be 152 bytes");
  std::string marks;
  for (int i = 0; i < kHistoryCells + 7; ++i) marks += i ? ", ?" : "?";
  Statement s(db_, "INSERT INTO history(time, data_id, reason" + CellColumns(", ", "") +
                       ", group_voltage, group_current, temperature, record) VALUES(" + marks +
                       ")");
  int i = 1;
  s.Bind(i++, FormatTime(time));
  s.Bind(i++, static_cast<std::int64_t>(record->data_id));
  s.Bind(i++, reason);
  for (int k = 0; k < kHistoryCells; ++k) s.Bind(i++, static_cast<double>(record->cells[k]));
  s.Bind(i++, static_cast<double>(record->group_voltage));
  s.Bind(i++, static_cast<double>(record->group_current));
  s.Bind(i++, static_cast<double>(record->temperature));
  s.BindBlob(i, raw);
  s.Step();
}

void HistoryStore::AddAlarm(boost::posix_time::ptime time, unsigned data_id,
                            const std::string& device, const AlarmChange& change) {
  Statement s(db_,
              "INSERT INTO alarms(time, data_id, device, name, text, point, kind, event, value,"
              " limit_value) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  s.Bind(1, FormatTime(time));
  s.Bind(2, static_cast<std::int64_t>(data_id));
  s.Bind(3, device);
  s.Bind(4, change.name);
  s.Bind(5, change.text);
  s.Bind(6, static_cast<std::int64_t>(change.point));
  s.Bind(7, std::string(AlarmKindName(change.kind)));
  s.Bind(8, std::string(change.raised ? "raised" : "cleared"));
  s.Bind(9, static_cast<double>(change.value));
  s.Bind(10, static_cast<double>(change.limit));
  s.Step();
}

std::optional<std::vector<unsigned char>> HistoryStore::LastRecord(unsigned data_id) {
  Statement s(db_, "SELECT record FROM history WHERE data_id = ? ORDER BY id DESC LIMIT 1");
  s.Bind(1, static_cast<std::int64_t>(data_id));
  if (!s.Step()) return std::nullopt;
  return s.Blob(0);
}

std::size_t HistoryStore::ForEachRow(unsigned data_id, const TimeRange& range,
                                     const std::function<void(const HistoryRow&)>& visit) {
  Statement s(db_, "SELECT id, time, data_id, reason, record FROM history WHERE data_id = ?1" +
                       RangeSql(range) + " ORDER BY time, id");
  BindRange(s, data_id, range);
  std::size_t count = 0;
  while (s.Step()) {
    HistoryRow row;
    row.id = s.Int(0);
    row.time = s.Text(1);
    row.data_id = static_cast<unsigned>(s.Int(2));
    row.reason = s.Text(3);
    row.raw = s.Blob(4);
    if (auto record = DecodeRecord(row.raw)) row.record = *record;
    visit(row);
    ++count;
  }
  return count;
}

std::size_t HistoryStore::ForEachAlarm(unsigned data_id, const TimeRange& range,
                                       const std::function<void(const AlarmRow&)>& visit) {
  Statement s(db_,
              "SELECT time, data_id, device, name, text, point, kind, event, value, limit_value"
              " FROM alarms WHERE data_id = ?1" + RangeSql(range) + " ORDER BY time, id");
  BindRange(s, data_id, range);
  std::size_t count = 0;
  while (s.Step()) {
    AlarmRow row;
    row.time = s.Text(0);
    row.data_id = static_cast<unsigned>(s.Int(1));
    row.device = s.Text(2);
    row.change.name = s.Text(3);
    row.change.text = s.Text(4);
    row.change.point = static_cast<int>(s.Int(5));
    row.change.kind = s.Text(6) == "high" ? AlarmKind::kHigh : AlarmKind::kLow;
    row.change.raised = s.Text(7) == "raised";
    row.change.value = static_cast<float>(s.Real(8));
    row.change.limit = static_cast<float>(s.Real(9));
    visit(row);
    ++count;
  }
  return count;
}

std::size_t HistoryStore::CountRows(unsigned data_id, const TimeRange& range) {
  Statement s(db_, "SELECT count(*) FROM history WHERE data_id = ?1" + RangeSql(range));
  BindRange(s, data_id, range);
  s.Step();
  return static_cast<std::size_t>(s.Int(0));
}

std::string FormatTime(boost::posix_time::ptime time) {
  if (time.is_special()) return "";
  const auto d = time.date();
  const auto t = time.time_of_day();
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(d.year()),
                static_cast<int>(d.month()), static_cast<int>(d.day()),
                static_cast<int>(t.hours()), static_cast<int>(t.minutes()),
                static_cast<int>(t.seconds()));
  return text;
}

std::optional<boost::posix_time::ptime> ParseTime(const std::string& text) {
  int y, mo, d, h = 0, mi = 0, sec = 0;
  char sep = ' ';
  int used = 0;
  const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%n%c%2d:%2d:%2d%n", &y, &mo, &d, &used, &sep,
                            &h, &mi, &sec, &used);
  const bool date_only = n == 3 && used == static_cast<int>(text.size());
  const bool full = n == 7 && (sep == ' ' || sep == 'T') && used == static_cast<int>(text.size());
  if (!date_only && !full) return std::nullopt;
  if (h > 23 || mi > 59 || sec > 59) return std::nullopt;
  try {
    return boost::posix_time::ptime(boost::gregorian::date(y, mo, d),
                                    boost::posix_time::time_duration(h, mi, sec));
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
}

}  // namespace runner
