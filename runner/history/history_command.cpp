#include "runner/history/history_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <tuple>

#include <boost/date_time/posix_time/conversion.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "runner/alarms/alarm_text.h"
#include "runner/alarms/string_health.h"
#include "runner/history/history_store.h"
#include "runner/plugin_access/device_cells.h"
#include "runner/time/time_text.h"

namespace runner {
namespace {

constexpr std::size_t kProgressEvery = 5000;

std::string Num(double v, const char* format = "%.3f") {
  char text[32];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

std::string CsvText(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// The string's health, from the row's cells as the device has them.
std::optional<StringHealth> HealthOf(const HistoryRow& row, const CellNumbering& span) {
  return HealthOfCells(row.record.cells.data(), span.count, span.first);
}

std::string RowCsvHeader(const CellNumbering& span) {
  std::string header = "time,data_id,reason";
  // Columns keep the database's names, cell_1 for the device's cell 0, so
  // that scripts read every device's export alike.
  for (int k = 0; k < span.count; ++k) header += ",cell_" + std::to_string(k + 1);
  // The instant comes last, so that scripts reading columns by position
  // before it read them as they did.
  return header +
         ",group_voltage,group_current,temperature,mean,sigma_mv,spread_mv,worst_cell,"
         "worst_deviation_mv,utc";
}

// Empty fields when no cell has a reading. The worst cell is numbered as
// in the whole string.
std::string HealthCsv(const std::optional<StringHealth>& h) {
  if (!h) return ",,,,,";
  return "," + Num(h->mean_v, "%.4f") + "," + Num(h->sigma_mv, "%.1f") + "," +
         Num(h->spread_mv, "%.0f") + "," + std::to_string(h->Worst().number) + "," +
         Num(h->Worst().deviation_mv, "%.1f");
}

std::string RowCsv(const HistoryRow& row, const CellNumbering& span) {
  std::string line = row.time + "," + std::to_string(row.data_id) + "," + row.reason;
  for (int k = 0; k < span.count; ++k)
    line += "," + Num(static_cast<double>(row.record.cells[static_cast<std::size_t>(k)]));
  return line + "," + Num(static_cast<double>(row.record.group_voltage)) + "," +
         Num(static_cast<double>(row.record.group_current)) + "," +
         Num(static_cast<double>(row.record.temperature)) + HealthCsv(HealthOf(row, span)) + "," +
         FormatInstant(row.utc, row.utc_offset_s);
}

std::string RowTable(const HistoryRow& row, const CellNumbering& span) {
  const auto volts = [&](int k) { return row.record.cells[static_cast<std::size_t>(k)]; };
  int lo = 0, hi = 0;
  for (int k = 1; k < span.count; ++k) {
    if (volts(k) < volts(lo)) lo = k;
    if (volts(k) > volts(hi)) hi = k;
  }
  const auto cell = [&](int k) {
    return Num(static_cast<double>(volts(k))) + " #" + std::to_string(CellNumber(span.first, k));
  };
  const std::optional<StringHealth> h = HealthOf(row, span);
  const std::string health = h ? Num(h->sigma_mv, "%4.0f") + "  #" +
                                     std::to_string(h->Worst().number) + " " +
                                     SignedMillivolts(h->Worst().deviation_mv)
                               : std::string("  --  --");
  char text[200];
  std::snprintf(text, sizeof text, "%-19s  %-8s  %9.2f  %8.2f  %6.2f  %-12s  %-12s  %s",
                row.time.c_str(), row.reason.c_str(), static_cast<double>(row.record.group_voltage),
                static_cast<double>(row.record.group_current),
                static_cast<double>(row.record.temperature), cell(lo).c_str(), cell(hi).c_str(),
                health.c_str());
  return text;
}

std::string AlarmCsv(const AlarmRow& a) {
  return a.time + "," + std::to_string(a.data_id) + "," + CsvText(a.device) + "," + a.change.name +
         "," + CsvText(a.change.text) + "," + std::to_string(a.change.point) + "," +
         AlarmKindName(a.change.kind) + "," + (a.change.raised ? "raised" : "cleared") + "," +
         Num(static_cast<double>(a.change.value)) + "," + Num(static_cast<double>(a.change.limit)) +
         "," + FormatInstant(a.utc, a.utc_offset_s);
}

std::string AlarmTable(const AlarmRow& a) {
  return a.time + "  " + (a.change.raised ? "raised " : "cleared") + "  " + a.device + " " +
         AlarmText(a.change);
}

// One end of a range as a person types it: a local time, or an instant.
struct TimeEnd {
  std::optional<boost::posix_time::ptime> local;
  std::optional<std::int64_t> utc;
};

// "-30m", "-2h", "-7d": back from `now`.
std::optional<std::int64_t> BackFromNow(const std::string& text, std::int64_t now) {
  if (text.size() < 3 || text.size() > 8 || text[0] != '-') return std::nullopt;
  const std::string digits = text.substr(1, text.size() - 2);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const std::int64_t unit = text.back() == 'm'   ? 60
                            : text.back() == 'h' ? 3600
                            : text.back() == 'd' ? 86400
                                                 : 0;
  if (unit == 0) return std::nullopt;
  return now - std::stoll(digits) * unit;
}

// "2026-12-08T22:00:00+01:00", "2026-12-08T21:00Z": the instant it names.
std::optional<std::int64_t> InstantWithOffset(const std::string& text) {
  std::string local = text, offset;
  if (!local.empty() && local.back() == 'Z') {
    local.pop_back();
    offset = "+00:00";
  } else if (local.size() > 6 &&
             (local[local.size() - 6] == '+' || local[local.size() - 6] == '-')) {
    offset = local.substr(local.size() - 6);
    local.resize(local.size() - 6);
  } else {
    return std::nullopt;
  }
  if (local.size() == 16) local += ":00";
  const std::optional<boost::posix_time::ptime> at = ParseTime(local);
  if (!at || local.size() != 19 || offset[3] != ':' ||
      offset.find_first_not_of("0123456789", 1) != 3)
    return std::nullopt;
  const int hours = std::stoi(offset.substr(1, 2)), minutes = std::stoi(offset.substr(4, 2));
  if (hours > 14 || minutes > 59) return std::nullopt;
  const std::int64_t seconds = (*at - boost::posix_time::from_time_t(0)).total_seconds() -
                               (offset[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  return seconds;
}

std::optional<TimeEnd> ParseTimeEnd(const std::string& text, std::int64_t now) {
  if (const auto back = BackFromNow(text, now)) return TimeEnd{std::nullopt, back};
  if (const auto instant = InstantWithOffset(text)) return TimeEnd{std::nullopt, instant};
  const bool minutes_only = text.size() == 16 && (text[10] == ' ' || text[10] == 'T');
  if (const auto local = ParseTime(minutes_only ? text + ":00" : text))
    return TimeEnd{local, std::nullopt};
  return std::nullopt;
}

// Where an export goes: a temporary file beside the target, renamed over it
// once whole, so a failed export leaves no partial file under the target's
// name. A target that is no regular file (/dev/full, a FIFO) is written
// directly.
struct ExportTarget {
  std::string name;     // as the person gave it
  std::string written;  // what is opened
};

ExportTarget ExportTargetFor(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return {name, name};
  return {name, name + ".part-" + std::to_string(::getpid())};
}

void Abandon(std::ofstream& file, const ExportTarget& target) {
  file.close();
  if (target.written != target.name) std::remove(target.written.c_str());
}

// "" once the export stands under its name; otherwise why not.
std::string Finish(std::ofstream& file, const ExportTarget& target) {
  file.flush();
  const bool written = file.good();
  const int write_errno = errno;
  file.close();
  std::string why;
  if (!written || file.fail())
    why = std::string("cannot write: ") + std::strerror(write_errno ? write_errno : EIO);
  else if (target.written != target.name &&
           std::rename(target.written.c_str(), target.name.c_str()) != 0)
    why = std::string("cannot be put in place: ") + std::strerror(errno);
  if (!why.empty() && target.written != target.name) std::remove(target.written.c_str());
  return why;
}

}  // namespace

bool ReadHistoryRange(const HistoryOptions& o, TimeRange& range, std::ostream& err) {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  for (auto [option, text, local, instant] :
       {std::tuple{"--from", &o.from, &range.from, &range.from_utc},
        std::tuple{"--to", &o.to, &range.to, &range.to_utc}}) {
    if (text->empty()) continue;
    const std::optional<TimeEnd> end = ParseTimeEnd(*text, now);
    if (!end) {
      err << "qorv-host history: " << option << ": \"" << *text
          << "\" is not a time; expected YYYY-MM-DD, \"YYYY-MM-DD HH:MM[:SS]\", ISO 8601 with an"
             " offset (2026-12-08T22:00:00+01:00, ...Z) or a time back from now (-30m, -2h, -7d)\n";
      return false;
    }
    *local = end->local;
    *instant = end->utc;
  }
  // A date alone as --to covers its day, also when --from starts inside it.
  if (range.to && o.to.size() == 10)
    *range.to += boost::posix_time::hours(24) - boost::posix_time::seconds(1);
  const auto utc_of = [](const std::optional<boost::posix_time::ptime>& local,
                         const std::optional<std::int64_t>& utc,
                         bool later) { return utc ? *utc : InstantOfLocal(*local, later).utc; };
  if ((range.from || range.from_utc) && (range.to || range.to_utc) &&
      utc_of(range.to, range.to_utc, true) < utc_of(range.from, range.from_utc, false)) {
    err << "qorv-host history: --to lies before --from\n";
    return false;
  }
  return true;
}

std::unique_ptr<HistoryStore> OpenHistoryToRead(const std::string& db, std::ostream& err) {
  struct stat st {};
  if (::stat(db.c_str(), &st) != 0) {
    // A file that is not there is told plainly; a folder the user may not
    // enter, or a path through a file, is told as the system says it.
    if (errno == ENOENT)
      err << "qorv-host history: " << db << ": no such history database\n";
    else
      err << "qorv-host history: " << db << ": cannot be opened: " << std::strerror(errno) << "\n";
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    err << "qorv-host history: " << db << ": not a regular file\n";
    return nullptr;
  }
  try {
    return HistoryStore::OpenReadOnly(db);
  } catch (const HistoryError& e) {
    err << "qorv-host history: " << e.what() << "\n";
    return nullptr;
  }
}

void PrintContents(const std::string& db, const std::vector<DataIdContents>& contents,
                   std::ostream& out) {
  if (contents.empty()) {
    out << db << " holds no rows and no alarm events\n";
    return;
  }
  out << db << " holds (ask with --data-id):\n"
      << "data id  device                cells      rows  first                last"
         "                 alarm events\n";
  for (const DataIdContents& c : contents) {
    char line[256];
    std::snprintf(line, sizeof line, "%7u  %-20s  %5s  %8llu  %-19s  %-19s  %12llu", c.data_id,
                  c.name.empty() ? "?" : c.name.c_str(),
                  c.cell_count > 0 ? std::to_string(c.cell_count).c_str() : "?",
                  static_cast<unsigned long long>(c.rows), c.first.empty() ? "-" : c.first.c_str(),
                  c.last.empty() ? "-" : c.last.c_str(),
                  static_cast<unsigned long long>(c.alarm_events));
    out << line << "\n";
  }
}

// The data ids the database holds, for a message: "1, 2 and 7".
std::string IdList(const std::vector<DataIdContents>& contents) {
  if (contents.empty()) return "none";
  std::string list;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    if (i > 0) list += i + 1 == contents.size() ? " and " : ", ";
    list += std::to_string(contents[i].data_id);
  }
  return list;
}

bool HoldsDataId(HistoryStore& store, unsigned data_id, std::ostream& err) {
  const std::vector<DataIdContents> contents = store.Contents();
  for (const DataIdContents& c : contents)
    if (c.data_id == data_id) return true;
  err << "qorv-host history: " << store.path() << " holds no data id " << data_id << "; it holds "
      << IdList(contents) << "\n";
  return false;
}

int RunHistory(const HistoryOptions& o, std::ostream& out, std::ostream& err) {
  TimeRange range;
  if (!ReadHistoryRange(o, range, err)) return 2;
  std::unique_ptr<HistoryStore> store = OpenHistoryToRead(o.db, err);
  if (!store) return 1;
  std::optional<DeviceInfo> device;
  try {
    if (!o.data_id) {
      PrintContents(o.db, store->Contents(), out);
      return 0;
    }
    if (!HoldsDataId(*store, *o.data_id, err)) return 1;
    device = store->Device(*o.data_id);
  } catch (const HistoryError& e) {  // a damaged page: every store error names the file
    err << "qorv-host history: " << o.db << ": " << e.what() << "\n";
    return 1;
  }
  std::ofstream file;
  std::ostream* sink = &out;
  ExportTarget target;
  if (!o.csv.empty() && o.csv != "-") {
    target = ExportTargetFor(o.csv);
    file.open(target.written);
    if (!file) {
      err << "qorv-host history: " << o.csv << ": cannot write: " << std::strerror(errno) << "\n";
      return 1;
    }
    sink = &file;
  }
  const bool csv = !o.csv.empty();
  const bool progress = csv && sink != &out && isatty(STDERR_FILENO);
  std::size_t count = 0;
  auto tick = [&] {
    if (progress && ++count % kProgressEvery == 0)
      err << "\rexported " << count << " rows" << std::flush;
  };
  std::size_t rows = 0;
  try {
    if (o.alarms) {
      if (csv) *sink << "time,data_id,device,name,text,point,kind,event,value,limit,utc\n";
      rows = store->ForEachAlarm(*o.data_id, range, [&](const AlarmRow& a) {
        *sink << (csv ? AlarmCsv(a) : AlarmTable(a)) << "\n";
        tick();
      });
    } else {
      const CellNumbering span = NumberingOf(device);
      *sink << (csv ? RowCsvHeader(span)
                    : "time                 reason    group (V)  current   temp   min cell      "
                      "max cell      σ mV  worst")
            << "\n";
      rows = store->ForEachRow(*o.data_id, range, [&](const HistoryRow& row) {
        *sink << (csv ? RowCsv(row, span) : RowTable(row, span)) << "\n";
        tick();
      });
    }
  } catch (const HistoryError& e) {  // a file damaged past its first pages
    err << "qorv-host history: " << o.db << ": " << e.what() << "\n";
    if (file.is_open()) Abandon(file, target);
    return 1;
  }
  if (progress && count >= kProgressEvery) err << "\n";
  if (file.is_open()) {
    if (const std::string why = Finish(file, target); !why.empty()) {
      err << "qorv-host history: " << o.csv << ": " << why << "; nothing exported\n";
      return 1;
    }
  } else if (csv && !(out << std::flush)) {
    err << "qorv-host history: standard output: cannot write the export\n";
    return 1;
  }
  if (sink != &out || !csv)
    err << rows << (o.alarms ? " alarm events" : " rows") << " for data id " << *o.data_id << "\n";
  return 0;
}

}  // namespace runner
