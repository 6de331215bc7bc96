#pragma once
// The host's history database (SQLite): the rows the host decided to keep
// from the records devices hand over, and every alarm raised or cleared.
//
//   history(id, time, data_id, reason, cell_1 .. cell_30, group_voltage,
//           group_current, temperature, record)
//   alarms(id, time, data_id, device, name, text, point, kind, event, value,
//          limit_value)
//
// `time` is local time as "YYYY-MM-DD HH:MM:SS", so ranges compare as text;
// `record` holds the 152 bytes as handed over. Every insert commits on its
// own: a row decided is a row kept, whenever the host stops.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

#include "runner/alarm_book.h"
#include "runner/battery_record.h"

struct sqlite3;

namespace runner {

// Cells kept as columns; the record's spare slots stay in the raw bytes.
inline constexpr int kHistoryCells = 30;

class HistoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HistoryRow {
  std::int64_t id = 0;
  std::string time;
  unsigned data_id = 0;
  std::string reason;  // "first", "interval", "alarm"
  BatteryRecord record;
  std::vector<unsigned char> raw;
};

struct AlarmRow {
  std::string time;
  unsigned data_id = 0;
  std::string device;
  AlarmChange change;
};

// A closed time range; an unset end is open.
struct TimeRange {
  std::optional<boost::posix_time::ptime> from;
  std::optional<boost::posix_time::ptime> to;
};

class HistoryStore {
 public:
  // Opens or creates the database. Throws HistoryError naming the path.
  static std::unique_ptr<HistoryStore> Open(const std::string& path);
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  void AddRow(boost::posix_time::ptime time, const std::string& reason,
              const std::vector<unsigned char>& raw);
  void AddAlarm(boost::posix_time::ptime time, unsigned data_id, const std::string& device,
                const AlarmChange& change);

  // The newest row's record bytes for `data_id`, by insertion order.
  std::optional<std::vector<unsigned char>> LastRecord(unsigned data_id);

  // Rows of `data_id` within `range`, oldest first; returns the count.
  std::size_t ForEachRow(unsigned data_id, const TimeRange& range,
                         const std::function<void(const HistoryRow&)>& visit);
  std::size_t ForEachAlarm(unsigned data_id, const TimeRange& range,
                           const std::function<void(const AlarmRow&)>& visit);
  std::size_t CountRows(unsigned data_id, const TimeRange& range);

  const std::string& path() const { return path_; }

 private:
  HistoryStore(sqlite3* db, std::string path);
  void Exec(const char* sql);

  sqlite3* db_;
  std::string path_;
};

// "2026-12-07 14:03:09".
std::string FormatTime(boost::posix_time::ptime time);
// The inverse; also takes "2026-12-07" (midnight) and "2026-12-07T14:03:09".
std::optional<boost::posix_time::ptime> ParseTime(const std::string& text);

}  // namespace runner
