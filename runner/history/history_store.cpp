#include "runner/history/history_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <sqlite3.h>

#include "runner/plugin_access/device_cells.h"
#include "runner/time/time_text.h"

namespace runner {
namespace {

std::string CellColumns(const char* separator, const char* each) {
  std::string text;
  for (int k = 0; k < kHistoryCells; ++k)
    text += std::string(separator) + HistoryCellColumn(k) + each;
  return text;
}

std::string CreateHistorySql() {
  return "CREATE TABLE history("
         "id INTEGER PRIMARY KEY, time TEXT NOT NULL, utc INTEGER NOT NULL,"
         " utc_offset INTEGER NOT NULL, data_id INTEGER NOT NULL, reason TEXT NOT NULL" +
         CellColumns(", ", " REAL") +
         ", group_voltage REAL, group_current REAL, temperature REAL, record BLOB NOT NULL);";
}

constexpr const char* kCreateAlarmsSql =
    "CREATE TABLE alarms("
    "id INTEGER PRIMARY KEY, time TEXT NOT NULL, utc INTEGER NOT NULL,"
    " utc_offset INTEGER NOT NULL, data_id INTEGER NOT NULL, device TEXT,"
    "name TEXT, text TEXT, point INTEGER, kind TEXT, event TEXT, value REAL, limit_value REAL);";

constexpr const char* kCreateDevicesSql =
    "CREATE TABLE IF NOT EXISTS devices(data_id INTEGER PRIMARY KEY, name TEXT NOT NULL,"
    " cell_count INTEGER NOT NULL, first_cell INTEGER NOT NULL);";

// Added beside the layout's tables when the first message is kept: a
// database that never published, or of an earlier host, needs no change.
constexpr const char* kCreateOutboxSql =
    "CREATE TABLE IF NOT EXISTS mqtt_sequence(data_id INTEGER PRIMARY KEY,"
    " last_seq INTEGER NOT NULL, acked_seq INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS mqtt_outbox(data_id INTEGER NOT NULL, seq INTEGER NOT NULL,"
    " utc INTEGER NOT NULL, payload TEXT NOT NULL, PRIMARY KEY(data_id, seq)) WITHOUT ROWID;";

constexpr const char* kCreateIndexesSql =
    "CREATE INDEX IF NOT EXISTS history_by_id_utc ON history(data_id, utc);"
    "CREATE INDEX IF NOT EXISTS alarms_by_id_utc ON alarms(data_id, utc);";

// "QRHV": marks a SQLite file as a history database of this host, beside its
// layout in user_version.
constexpr std::int64_t kHistoryApplicationId = 0x51524856;

std::string MarkSql() {
  return "PRAGMA application_id = " + std::to_string(kHistoryApplicationId) + ";";
}

// The columns the first layout (user_version 0) is known by.
const std::vector<std::string> kFirstHistoryColumns = {"id", "time", "data_id", "reason", "record"};

bool Has(const std::vector<std::string>& columns, const std::string& name) {
  return std::find(columns.begin(), columns.end(), name) != columns.end();
}

// One prepared statement, finalized on scope exit.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) { Prepare(sql); }
  // Taken from `kept` when prepared before, and given back reset on scope exit.
  Statement(sqlite3* db, std::map<std::string, sqlite3_stmt*>& kept, const std::string& sql)
      : db_(db), kept_(&kept), sql_(sql) {
    const auto found = kept.find(sql);
    if (found == kept.end()) {
      Prepare(sql);
      return;
    }
    stmt_ = found->second;
    kept.erase(found);
  }
  ~Statement() {
    if (kept_ == nullptr || stmt_ == nullptr) {
      sqlite3_finalize(stmt_);
      return;
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    kept_->emplace(sql_, stmt_);
  }
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
    if (rc != SQLITE_DONE) throw HistoryError(sqlite3_errmsg(db_), rc & 0xff);
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
  void Prepare(const std::string& sql) {
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt_, nullptr);
    if (rc != SQLITE_OK) throw HistoryError(sqlite3_errmsg(db_), rc & 0xff);
  }

  sqlite3* db_;
  std::map<std::string, sqlite3_stmt*>* kept_ = nullptr;
  std::string sql_;
  sqlite3_stmt* stmt_ = nullptr;
};

// "AND utc >= ?2 AND utc <= ?3" for the ends that are set, bound from 2 on.
std::string RangeSql(const TimeRange& range) {
  std::string sql;
  if (range.from || range.from_utc) sql += " AND utc >= ?2";
  if (range.to || range.to_utc) sql += " AND utc <= ?3";
  return sql;
}

void BindRange(Statement& s, unsigned data_id, const TimeRange& range) {
  s.Bind(1, static_cast<std::int64_t>(data_id));
  if (range.from_utc)
    s.Bind(2, *range.from_utc);
  else if (range.from)
    s.Bind(2, InstantOfLocal(*range.from, false).utc);
  if (range.to_utc)
    s.Bind(3, *range.to_utc);
  else if (range.to)
    s.Bind(3, InstantOfLocal(*range.to, true).utc);
}

// `path` for a file: URI, with the characters a URI gives meaning escaped.
std::string UriPath(const std::string& path) {
  std::string out;
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

sqlite3* OpenConnection(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw HistoryError(path + ": cannot open history database: " + message, rc & 0xff);
  }
  return db;
}

}  // namespace

std::unique_ptr<HistoryStore> HistoryStore::Open(const std::string& path) {
  sqlite3* db = OpenConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  std::unique_ptr<HistoryStore> store(new HistoryStore(db, path));
  if (sqlite3_db_readonly(db, "main") == 1)
    throw HistoryError(path +
                           ": history database is read-only for this user; rows could not be"
                           " stored",
                       SQLITE_READONLY);
  sqlite3_busy_timeout(db, 2000);
  try {
    store->RefuseForeign();  // before WAL mode, which would change the file
    // The log is folded into the database every 100 pages (400 KiB) and cut
    // back after: at SQLite's default of 1000 pages it could outgrow a small
    // controller's whole filesystem and never be folded at all.
    store->Exec(
        "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=100;"
        " PRAGMA journal_size_limit=65536;");
    store->PrepareLayout(true);
  } catch (const HistoryError& e) {
    throw HistoryError(path + ": " + e.what(), e.code());
  }
  store->NoteFileIdentity();
  return store;
}

std::unique_ptr<HistoryStore> HistoryStore::OpenReadOnly(const std::string& path) {
  sqlite3* db = OpenConnection(path, SQLITE_OPEN_READONLY);
  std::unique_ptr<HistoryStore> store(new HistoryStore(db, path));
  sqlite3_busy_timeout(db, 2000);
  try {
    try {
      store->UserVersion();
    } catch (const HistoryError& e) {
      // A database in WAL mode wants a shared-memory file beside it. On
      // read-only media, or in a folder of another user, none can be made;
      // with no write-ahead log left behind, the file alone is the whole
      // database and can be read as unchanging.
      const bool beside = e.code() == SQLITE_READONLY || e.code() == SQLITE_CANTOPEN;
      if (!beside || ::access((path + "-wal").c_str(), F_OK) == 0) throw;
      sqlite3_close(store->db_);
      store->db_ = OpenConnection("file:" + UriPath(path) + "?immutable=1",
                                  SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    }
    if (store->UserVersion() == 0 && Has(store->Columns("history"), "time") &&
        !Has(store->Columns("history"), "utc")) {
      // The first layout: read a copy brought up to date in memory.
      sqlite3* copy = OpenConnection(":memory:", SQLITE_OPEN_READWRITE);
      sqlite3_backup* backup = sqlite3_backup_init(copy, "main", db, "main");
      int rc = backup ? sqlite3_backup_step(backup, -1) : sqlite3_errcode(copy);
      if (backup) sqlite3_backup_finish(backup);
      if (rc != SQLITE_DONE) {
        const std::string message = sqlite3_errmsg(copy);
        sqlite3_close(copy);
        throw HistoryError(message, rc & 0xff);
      }
      sqlite3_close(store->db_);
      store->db_ = copy;
      store->PrepareLayout(true);
    } else {
      store->PrepareLayout(false);
    }
  } catch (const HistoryError& e) {
    throw HistoryError(path + ": " + e.what(), e.code());
  }
  return store;
}

HistoryStore::HistoryStore(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

HistoryStore::~HistoryStore() {
  for (auto& [sql, stmt] : prepared_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

void HistoryStore::Exec(const std::string& sql) {
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    const std::string message = error ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    throw HistoryError(message, rc & 0xff);
  }
}

int HistoryStore::UserVersion() {
  Statement s(db_, "PRAGMA user_version");
  s.Step();
  return static_cast<int>(s.Int(0));
}

std::vector<std::string> HistoryStore::Columns(const char* table) {
  Statement s(db_, std::string("PRAGMA table_info(") + table + ")");
  std::vector<std::string> names;
  while (s.Step()) names.push_back(s.Text(1));
  return names;
}

// Ours: marked with our application id, or (written before the mark) with
// no id and no table but ours. Anything else belongs to another program and
// is left exactly as it is.
std::int64_t HistoryStore::ApplicationId() {
  Statement id(db_, "PRAGMA application_id");
  id.Step();
  return id.Int(0);
}

void HistoryStore::RefuseForeign() {
  const std::int64_t app = ApplicationId();
  if (app == kHistoryApplicationId) return;
  if (app != 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08llX",
                  static_cast<unsigned long long>(app) & 0xFFFFFFFFull);
    throw HistoryError(std::string("not a history database: it belongs to another program"
                                   " (application id ") +
                       hex + "); left unchanged");
  }
  Statement tables(db_,
                   "SELECT name FROM sqlite_master WHERE type = 'table'"
                   " AND name NOT LIKE 'sqlite_%' ORDER BY name");
  std::string foreign;
  while (tables.Step()) {
    const std::string name = tables.Text(0);
    if (name != "history" && name != "alarms" && name != "devices" && name != "mqtt_sequence" &&
        name != "mqtt_outbox")
      foreign += (foreign.empty() ? "" : ", ") + name;
  }
  if (!foreign.empty())
    throw HistoryError("not a history database: it holds another program's tables (" + foreign +
                       "); left unchanged");
}

void HistoryStore::PrepareLayout(bool may_create) {
  const int version = UserVersion();
  if (version > kHistorySchemaVersion)
    throw HistoryError("history database of layout version " + std::to_string(version) +
                       ", newer than this host reads (" + std::to_string(kHistorySchemaVersion) +
                       ")");
  const std::vector<std::string> history = Columns("history");
  const std::vector<std::string> alarms = Columns("alarms");
  const bool current = Has(history, "utc") && Has(history, "utc_offset") && Has(alarms, "utc");
  if (version == kHistorySchemaVersion) {
    if (!current)
      throw HistoryError(
          "history database of an unknown layout: its tables lack"
          " the utc columns of version 2");
  } else if (version != 0) {
    throw HistoryError("history database of an unknown layout (version " + std::to_string(version) +
                       ")");
  } else if (history.empty() && alarms.empty()) {
    if (!may_create) throw HistoryError("not a history database: it has no history table");
    Exec("BEGIN IMMEDIATE;" + CreateHistorySql() + kCreateAlarmsSql + kCreateDevicesSql +
         kCreateIndexesSql + "PRAGMA user_version = 2;" + MarkSql() + "COMMIT;");
    return;
  } else {
    for (const std::string& name : kFirstHistoryColumns)
      if (!Has(history, name))
        throw HistoryError(
            "history database of an unknown layout: table history has no"
            " column " +
            name);
    if (!may_create) throw HistoryError("history database of the first layout");
    Migrate();
    return;
  }
  have_devices_ = !Columns("devices").empty();
  if (!have_devices_ && may_create) {
    Exec(kCreateDevicesSql);
    have_devices_ = true;
  }
  if (may_create && ApplicationId() != kHistoryApplicationId)
    Exec(MarkSql());  // a database of ours from before the mark
}

// First layout to version 2: the instant of each stored local time is
// taken in the process's time zone; in an hour that repeats when clocks go
// back, the earlier reading.
void HistoryStore::Migrate() {
  Exec("BEGIN IMMEDIATE");
  try {
    Exec(
        "ALTER TABLE history ADD COLUMN utc INTEGER;"
        "ALTER TABLE history ADD COLUMN utc_offset INTEGER;");
    if (Columns("alarms").empty()) {
      Exec(kCreateAlarmsSql);
    } else {
      Exec(
          "ALTER TABLE alarms ADD COLUMN utc INTEGER;"
          "ALTER TABLE alarms ADD COLUMN utc_offset INTEGER;");
    }
    std::set<std::string> times;
    for (const char* table : {"history", "alarms"}) {
      Statement s(db_, std::string("SELECT DISTINCT time FROM ") + table + " WHERE utc IS NULL");
      while (s.Step()) times.insert(s.Text(0));
    }
    for (const std::string& text : times) {
      const std::optional<boost::posix_time::ptime> local = ParseTime(text);
      if (!local) throw HistoryError("history row with an unreadable time \"" + text + "\"");
      const HostInstant at = InstantOfLocal(*local);
      for (const char* table : {"history", "alarms"}) {
        Statement s(db_, std::string("UPDATE ") + table +
                             " SET utc = ?1, utc_offset = ?2 WHERE time = ?3 AND utc IS NULL");
        s.Bind(1, at.utc);
        s.Bind(2, static_cast<std::int64_t>(at.utc_offset_s));
        s.Bind(3, text);
        s.Step();
      }
    }
    Exec(std::string("DROP INDEX IF EXISTS history_by_id_time;"
                     "DROP INDEX IF EXISTS alarms_by_id_time;") +
         kCreateDevicesSql + kCreateIndexesSql + "PRAGMA user_version = 2;" + MarkSql() +
         "COMMIT;");
  } catch (...) {
    Rollback();
    throw;
  }
  have_devices_ = true;
}

void HistoryStore::NoteFileIdentity() {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return;
  file_dev_ = static_cast<unsigned long long>(st.st_dev);
  file_ino_ = static_cast<unsigned long long>(st.st_ino);
}

bool HistoryStore::PathStillNamesFile() const {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == file_dev_ &&
         static_cast<unsigned long long>(st.st_ino) == file_ino_;
}

void HistoryStore::Begin() { Exec("BEGIN IMMEDIATE"); }
void HistoryStore::Commit() { Exec("COMMIT"); }
void HistoryStore::Rollback() noexcept {
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}
void HistoryStore::SetBusyTimeout(int ms) { sqlite3_busy_timeout(db_, ms); }

bool HistoryStore::FoldLog() {
  return sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) ==
         SQLITE_OK;
}

void HistoryStore::AddRow(const HostInstant& at, const std::string& reason,
                          const std::vector<unsigned char>& raw) {
  const std::optional<BatteryRecord> record = DecodeRecord(raw);
  if (!record) throw HistoryError("a record must be 152 bytes");
  AddRow(at, reason, *record, raw);
}

void HistoryStore::AddRow(const HostInstant& at, const std::string& reason,
                          const BatteryRecord& record, const std::vector<unsigned char>& raw) {
  std::string marks;
  for (int i = 0; i < kHistoryCells + 9; ++i) marks += i ? ", ?" : "?";
  Statement s(db_,
              "INSERT INTO history(time, utc, utc_offset, data_id, reason" + CellColumns(", ", "") +
                  ", group_voltage, group_current, temperature, record) VALUES(" + marks + ")");
  int i = 1;
  s.Bind(i++, FormatTime(at.local));
  s.Bind(i++, at.utc);
  s.Bind(i++, static_cast<std::int64_t>(at.utc_offset_s));
  s.Bind(i++, static_cast<std::int64_t>(record.data_id));
  s.Bind(i++, reason);
  for (int k = 0; k < kHistoryCells; ++k) s.Bind(i++, static_cast<double>(record.cells[k]));
  s.Bind(i++, static_cast<double>(record.group_voltage));
  s.Bind(i++, static_cast<double>(record.group_current));
  s.Bind(i++, static_cast<double>(record.temperature));
  s.BindBlob(i, raw);
  s.Step();
}

void HistoryStore::AddAlarm(const HostInstant& at, unsigned data_id, const std::string& device,
                            const AlarmChange& change) {
  Statement s(db_,
              "INSERT INTO alarms(time, utc, utc_offset, data_id, device, name, text, point, kind,"
              " event, value, limit_value) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  s.Bind(1, FormatTime(at.local));
  s.Bind(2, at.utc);
  s.Bind(3, static_cast<std::int64_t>(at.utc_offset_s));
  s.Bind(4, static_cast<std::int64_t>(data_id));
  s.Bind(5, device);
  s.Bind(6, change.name);
  s.Bind(7, change.text);
  s.Bind(8, static_cast<std::int64_t>(change.point));
  s.Bind(9, std::string(AlarmKindName(change.kind)));
  s.Bind(10, std::string(change.raised ? "raised" : "cleared"));
  s.Bind(11, static_cast<double>(change.value));
  s.Bind(12, static_cast<double>(change.limit));
  s.Step();
}

void HistoryStore::PutDevice(const DeviceInfo& info) {
  Statement s(db_,
              "INSERT OR REPLACE INTO devices(data_id, name, cell_count, first_cell)"
              " VALUES(?, ?, ?, ?)");
  s.Bind(1, static_cast<std::int64_t>(info.data_id));
  s.Bind(2, info.name);
  s.Bind(3, static_cast<std::int64_t>(info.cell_count));
  s.Bind(4, static_cast<std::int64_t>(info.first_cell));
  s.Step();
}

bool HistoryStore::HasOutbox() {
  if (!have_outbox_) have_outbox_ = !Columns("mqtt_outbox").empty();
  return have_outbox_;
}

void HistoryStore::AddOutbox(const OutboxMessage& m) {
  if (!HasOutbox()) {
    Exec(kCreateOutboxSql);
    have_outbox_ = true;
  }
  Statement s(db_, prepared_,
              "INSERT OR REPLACE INTO mqtt_outbox(data_id, seq, utc, payload) VALUES(?, ?, ?, ?)");
  s.Bind(1, static_cast<std::int64_t>(m.data_id));
  s.Bind(2, static_cast<std::int64_t>(m.seq));
  s.Bind(3, m.utc);
  s.Bind(4, m.payload);
  s.Step();
  Statement seq(db_, prepared_,
                "INSERT INTO mqtt_sequence(data_id, last_seq) VALUES(?1, ?2) ON CONFLICT(data_id)"
                " DO UPDATE SET last_seq = max(last_seq, ?2)");
  seq.Bind(1, static_cast<std::int64_t>(m.data_id));
  seq.Bind(2, static_cast<std::int64_t>(m.seq));
  seq.Step();
}

void HistoryStore::Acknowledge(unsigned data_id, std::uint64_t seq, bool by_broker) {
  if (!HasOutbox()) return;
  Statement s(db_, prepared_, "DELETE FROM mqtt_outbox WHERE data_id = ? AND seq = ?");
  s.Bind(1, static_cast<std::int64_t>(data_id));
  s.Bind(2, static_cast<std::int64_t>(seq));
  s.Step();
  if (!by_broker) return;
  Statement acked(db_, prepared_,
                  "UPDATE mqtt_sequence SET acked_seq = max(acked_seq, ?2) WHERE data_id = ?1");
  acked.Bind(1, static_cast<std::int64_t>(data_id));
  acked.Bind(2, static_cast<std::int64_t>(seq));
  acked.Step();
}

std::map<unsigned, OutboxSequence> HistoryStore::Sequences() {
  std::map<unsigned, OutboxSequence> out;
  if (!HasOutbox()) return out;
  Statement s(db_, "SELECT data_id, last_seq, acked_seq FROM mqtt_sequence");
  while (s.Step())
    out[static_cast<unsigned>(s.Int(0))] = {static_cast<std::uint64_t>(s.Int(1)),
                                            static_cast<std::uint64_t>(s.Int(2))};
  return out;
}

std::vector<OutboxMessage> HistoryStore::ReadOutbox(unsigned data_id, std::uint64_t after,
                                                    std::uint64_t before, std::size_t limit) {
  std::vector<OutboxMessage> out;
  if (!HasOutbox()) return out;
  Statement s(db_,
              "SELECT seq, utc, payload FROM mqtt_outbox WHERE data_id = ? AND seq > ? AND seq < ?"
              " ORDER BY seq LIMIT ?");
  s.Bind(1, static_cast<std::int64_t>(data_id));
  s.Bind(2, static_cast<std::int64_t>(after));
  s.Bind(3, static_cast<std::int64_t>(before));
  s.Bind(4, static_cast<std::int64_t>(limit));
  while (s.Step())
    out.push_back({data_id, static_cast<std::uint64_t>(s.Int(0)), s.Int(1), s.Text(2)});
  return out;
}

std::uint64_t HistoryStore::OutboxCount() {
  if (!HasOutbox()) return 0;
  Statement s(db_, "SELECT count(*) FROM mqtt_outbox");
  s.Step();
  return static_cast<std::uint64_t>(s.Int(0));
}

std::optional<std::vector<unsigned char>> HistoryStore::LastRecord(unsigned data_id) {
  Statement s(db_, "SELECT record FROM history WHERE data_id = ? ORDER BY id DESC LIMIT 1");
  s.Bind(1, static_cast<std::int64_t>(data_id));
  if (!s.Step()) return std::nullopt;
  return s.Blob(0);
}

std::optional<DeviceInfo> HistoryStore::Device(unsigned data_id) {
  if (!have_devices_) return std::nullopt;
  Statement s(db_, "SELECT name, cell_count, first_cell FROM devices WHERE data_id = ?");
  s.Bind(1, static_cast<std::int64_t>(data_id));
  if (!s.Step()) return std::nullopt;
  DeviceInfo info;
  info.data_id = data_id;
  info.name = s.Text(0);
  info.cell_count = static_cast<int>(s.Int(1));
  info.first_cell = static_cast<int>(s.Int(2));
  return info;
}

std::vector<DataIdContents> HistoryStore::Contents() {
  const std::string device =
      have_devices_ ? "(SELECT name FROM devices d WHERE d.data_id = ids.data_id),"
                      " (SELECT cell_count FROM devices d WHERE d.data_id = ids.data_id),"
                    : "NULL, NULL,";
  Statement s(db_, "SELECT ids.data_id, " + device +
                       " (SELECT COUNT(*) FROM history h WHERE h.data_id = ids.data_id),"
                       " (SELECT time FROM history h WHERE h.data_id = ids.data_id"
                       "  ORDER BY utc, id LIMIT 1),"
                       " (SELECT time FROM history h WHERE h.data_id = ids.data_id"
                       "  ORDER BY utc DESC, id DESC LIMIT 1),"
                       " (SELECT COUNT(*) FROM alarms a WHERE a.data_id = ids.data_id)"
                       " FROM (SELECT data_id FROM history UNION SELECT data_id FROM alarms) ids"
                       " ORDER BY ids.data_id");
  std::vector<DataIdContents> contents;
  while (s.Step()) {
    DataIdContents c;
    c.data_id = static_cast<unsigned>(s.Int(0));
    c.name = s.Text(1);
    c.cell_count = static_cast<int>(s.Int(2));
    c.rows = static_cast<std::uint64_t>(s.Int(3));
    c.first = s.Text(4);
    c.last = s.Text(5);
    c.alarm_events = static_cast<std::uint64_t>(s.Int(6));
    contents.push_back(std::move(c));
  }
  return contents;
}

std::size_t HistoryStore::ForEachRow(unsigned data_id, const TimeRange& range,
                                     const std::function<void(const HistoryRow&)>& visit) {
  Statement s(db_,
              "SELECT id, time, utc, utc_offset, data_id, reason, record FROM history"
              " WHERE data_id = ?1" +
                  RangeSql(range) + " ORDER BY utc, id");
  BindRange(s, data_id, range);
  std::size_t count = 0;
  while (s.Step()) {
    HistoryRow row;
    row.id = s.Int(0);
    row.time = s.Text(1);
    row.utc = s.Int(2);
    row.utc_offset_s = static_cast<int>(s.Int(3));
    row.data_id = static_cast<unsigned>(s.Int(4));
    row.reason = s.Text(5);
    row.raw = s.Blob(6);
    if (auto record = DecodeRecord(row.raw)) row.record = *record;
    visit(row);
    ++count;
  }
  return count;
}

std::size_t HistoryStore::ForEachAlarm(unsigned data_id, const TimeRange& range,
                                       const std::function<void(const AlarmRow&)>& visit) {
  Statement s(db_,
              "SELECT time, utc, utc_offset, data_id, device, name, text, point, kind, event,"
              " value, limit_value FROM alarms WHERE data_id = ?1" +
                  RangeSql(range) + " ORDER BY utc, id");
  BindRange(s, data_id, range);
  std::size_t count = 0;
  while (s.Step()) {
    AlarmRow row;
    row.time = s.Text(0);
    row.utc = s.Int(1);
    row.utc_offset_s = static_cast<int>(s.Int(2));
    row.data_id = static_cast<unsigned>(s.Int(3));
    row.device = s.Text(4);
    row.change.name = s.Text(5);
    row.change.text = s.Text(6);
    row.change.point = static_cast<int>(s.Int(7));
    row.change.kind = AlarmKindNamed(s.Text(8));
    row.change.raised = s.Text(9) == "raised";
    row.change.value = static_cast<float>(s.Real(10));
    row.change.limit = static_cast<float>(s.Real(11));
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

CellNumbering NumberingOf(const std::optional<DeviceInfo>& device) {
  CellNumbering cells;
  if (device && device->cell_count >= 1 && device->cell_count <= kHistoryCells) {
    cells.count = device->cell_count;
    cells.first = device->first_cell;
  }
  return cells;
}

}  // namespace runner
