#pragma once
// The host's history database (SQLite): the rows the host decided to keep
// from the records devices hand over, every alarm raised or cleared, and
// what the host knew of each device when it last started it.
//
//   history(id, time, utc, utc_offset, data_id, reason, cell_1 .. cell_30,
//           group_voltage, group_current, temperature, record)
//   alarms(id, time, utc, utc_offset, data_id, device, name, text, point,
//          kind, event, value, limit_value)
//   devices(data_id, name, cell_count, first_cell)
//
// `time` is the local time the host stamped, "YYYY-MM-DD HH:MM:SS", for
// people; `utc` is the instant (seconds since 1970 UTC) and `utc_offset`
// the offset in force (seconds), so rows sort and select by the instant
// even across a clock change. `record` holds the 152 bytes as handed over.
// The layout's version is the database's user_version (2); a database of
// the first layout (no utc columns, user_version 0) is brought up to date
// when opened for writing, and read through a migrated copy in memory when
// opened read-only.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

#include "runner/alarms/alarm_book.h"
#include "runner/round/battery_record.h"
#include "runner/time/host_clock.h"

struct sqlite3;
struct sqlite3_stmt;

namespace runner {

// Cells kept as columns; the record's spare slots stay in the raw bytes.
inline constexpr int kHistoryCells = 30;
// The layout this host writes.
inline constexpr int kHistorySchemaVersion = 2;

class HistoryError : public std::runtime_error {
 public:
  explicit HistoryError(const std::string& what, int code = 0)
      : std::runtime_error(what), code_(code) {}
  // SQLite's primary result code, or 0 when the fault is not the database's.
  int code() const { return code_; }

 private:
  int code_;
};

struct HistoryRow {
  std::int64_t id = 0;
  std::string time;  // local, as stamped
  std::int64_t utc = 0;
  int utc_offset_s = 0;
  unsigned data_id = 0;
  std::string reason;  // "first", "interval", "alarm"
  BatteryRecord record;
  std::vector<unsigned char> raw;
};

struct AlarmRow {
  std::string time;
  std::int64_t utc = 0;
  int utc_offset_s = 0;
  unsigned data_id = 0;
  std::string device;
  AlarmChange change;
};

// What the host knew of a device when it started it.
struct DeviceInfo {
  unsigned data_id = 0;
  std::string name;
  int cell_count = kHistoryCells;  // cells the device answers for
  int first_cell = 1;              // number of its cell 0 in the whole string
};

// The cells of a device as the string numbers them: what the export, the
// table and the plot of a device's rows all go by.
struct CellNumbering {
  int count = kHistoryCells;
  int first = 1;  // number of the device's cell 0

  // "cell <n>": cell k as the string numbers it.
  std::string Name(int k) const { return "cell " + std::to_string(CellNumber(first, k)); }
};

// The cells `device` describes; a database that does not describe the
// device gives all the columns, numbered from 1.
CellNumbering NumberingOf(const std::optional<DeviceInfo>& device);

// What the database holds for one data id, for a person choosing what to
// ask for.
struct DataIdContents {
  unsigned data_id = 0;
  std::string name;    // empty: the database does not describe the device
  int cell_count = 0;  // 0: likewise
  std::uint64_t rows = 0;
  std::string first;  // local times of the first and last row; empty: none
  std::string last;
  std::uint64_t alarm_events = 0;
};

// A state message for the broker, kept until the broker acknowledged it:
// sent again from here after an outage or a restart.
struct OutboxMessage {
  unsigned data_id = 0;
  std::uint64_t seq = 0;  // the device's round number, counted on across restarts
  std::int64_t utc = 0;   // when the round was taken
  std::string payload;
};

// Where a device's messages stand: the last sequence number given and the
// last the broker acknowledged.
struct OutboxSequence {
  std::uint64_t last = 0;
  std::uint64_t acknowledged = 0;
};

// A closed range of local times as a person types them; an unset end is
// open. Each end selects by the instant it names (the earlier reading of
// `from`, the later of `to` in a repeated hour).
struct TimeRange {
  std::optional<boost::posix_time::ptime> from;
  std::optional<boost::posix_time::ptime> to;
  // Ends given as instants (a time with its offset, or relative to now), in
  // seconds since 1970 UTC; they stand in for the local ends.
  std::optional<std::int64_t> from_utc;
  std::optional<std::int64_t> to_utc;
};

class HistoryStore {
 public:
  // Opens or creates the database for writing and brings an older layout
  // up to date. Throws HistoryError naming the path: also when the file
  // can only be read, is not a database, or has a layout this host does
  // not know.
  static std::unique_ptr<HistoryStore> Open(const std::string& path);
  // Opens an existing database for reading only: never creates a file or
  // a table, works on read-only media and as another user.
  static std::unique_ptr<HistoryStore> OpenReadOnly(const std::string& path);
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // A row of `record`, whose bytes are `raw`.
  void AddRow(const HostInstant& at, const std::string& reason, const BatteryRecord& record,
              const std::vector<unsigned char>& raw);
  // The same from the bytes alone: for tools and tests that have no round.
  void AddRow(const HostInstant& at, const std::string& reason,
              const std::vector<unsigned char>& raw);
  void AddAlarm(const HostInstant& at, unsigned data_id, const std::string& device,
                const AlarmChange& change);
  void PutDevice(const DeviceInfo& info);
  // Keeps a message until Acknowledge(); the device's last sequence number
  // goes with it.
  void AddOutbox(const OutboxMessage& message);
  // Lets the message go: the broker has it, or it is too old to send.
  void Acknowledge(unsigned data_id, std::uint64_t seq, bool by_broker);

  // Groups the writes up to Commit into one transaction.
  void Begin();
  void Commit();
  void Rollback() noexcept;
  // How long a write waits for another connection's lock.
  void SetBusyTimeout(int ms);
  // Folds the write-ahead log into the database and cuts it to nothing,
  // giving its space back; false when that cannot be done now.
  bool FoldLog();
  // False once the path names another file, or none: the database was
  // deleted or replaced while open.
  bool PathStillNamesFile() const;

  // The newest row's record bytes for `data_id`, by insertion order.
  std::optional<std::vector<unsigned char>> LastRecord(unsigned data_id);
  std::optional<DeviceInfo> Device(unsigned data_id);
  // Every data id with rows or alarm events, in order.
  std::vector<DataIdContents> Contents();

  // Rows of `data_id` within `range`, in order of their instants; returns
  // the count.
  std::size_t ForEachRow(unsigned data_id, const TimeRange& range,
                         const std::function<void(const HistoryRow&)>& visit);
  std::size_t ForEachAlarm(unsigned data_id, const TimeRange& range,
                           const std::function<void(const AlarmRow&)>& visit);
  std::size_t CountRows(unsigned data_id, const TimeRange& range);

  // Every device's sequence numbers, by data id; empty for a database that
  // never kept a message.
  std::map<unsigned, OutboxSequence> Sequences();
  // Up to `limit` kept messages of `data_id` with after < seq < before,
  // oldest first.
  std::vector<OutboxMessage> ReadOutbox(unsigned data_id, std::uint64_t after, std::uint64_t before,
                                        std::size_t limit);
  std::uint64_t OutboxCount();

  const std::string& path() const { return path_; }

 private:
  HistoryStore(sqlite3* db, std::string path);
  void Exec(const std::string& sql);
  int UserVersion();
  std::vector<std::string> Columns(const char* table);
  // Creates, checks or migrates the layout (creating or migrating only
  // when `may_create`); throws when the layout cannot be read.
  void PrepareLayout(bool may_create);
  // Throws for a database that another program keeps.
  void RefuseForeign();
  std::int64_t ApplicationId();
  void Migrate();
  void NoteFileIdentity();
  bool HasOutbox();

  sqlite3* db_;
  // The outbox's statements, run for every message a busy site publishes,
  // kept prepared by their text.
  std::map<std::string, sqlite3_stmt*> prepared_;
  std::string path_;
  bool have_devices_ = true;
  bool have_outbox_ = false;  // its tables are made when the first message is kept
  unsigned long long file_dev_ = 0;
  unsigned long long file_ino_ = 0;
};

}  // namespace runner
