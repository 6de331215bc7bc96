#include "runner/history_command.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <iostream>

#include "runner/history_store.h"

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

std::string RowCsvHeader() {
  std::string header = "time,data_id,reason";
  for (int k = 1; k <= kHistoryCells; ++k) header += ",cell_" + std::to_string(k);
  return header + ",group_voltage,group_current,temperature";
}

std::string RowCsv(const HistoryRow& row) {
  std::string line = row.time + "," + std::to_string(row.data_id) + "," + row.reason;
  for (int k = 0; k < kHistoryCells; ++k)
    line += "," + Num(static_cast<double>(row.record.cells[static_cast<std::size_t>(k)]));
  return line + "," + Num(static_cast<double>(row.record.group_voltage)) + "," +
         Num(static_cast<double>(row.record.group_current)) + "," +
         Num(static_cast<double>(row.record.temperature));
}

std::string RowTable(const HistoryRow& row) {
  int lo = 0, hi = 0;
  for (int k = 1; k < kHistoryCells; ++k) {
    if (row.record.cells[static_cast<std::size_t>(k)] < row.record.cells[static_cast<std::size_t>(lo)]) lo = k;
    if (row.record.cells[static_cast<std::size_t>(k)] > row.record.cells[static_cast<std::size_t>(hi)]) hi = k;
  }
  const auto cell = [&](int k) {
    return Num(static_cast<double>(row.record.cells[static_cast<std::size_t>(k)])) + " #" +
           std::to_string(k + 1);
  };
  char text[160];
  std::snprintf(text, sizeof text, "%-19s  %-8s  %9.2f  %8.2f  %6.2f  %-12s  %-12s",
                row.time.c_str(), row.reason.c_str(), static_cast<double>(row.record.group_voltage),
                static_cast<double>(row.record.group_current),
                static_cast<double>(row.record.temperature), cell(lo).c_str(), cell(hi).c_str());
  return text;
}

std::string AlarmCsv(const AlarmRow& a) {
  return a.time + "," + std::to_string(a.data_id) + "," + CsvText(a.device) + "," + a.change.name +
         "," + CsvText(a.change.text) + "," + std::to_string(a.change.point) + "," +
         AlarmKindName(a.change.kind) + "," + (a.change.raised ? "raised" : "cleared") + "," +
         Num(static_cast<double>(a.change.value)) + "," + Num(static_cast<double>(a.change.limit));
}

std::string AlarmTable(const AlarmRow& a) {
  return a.time + "  " + (a.change.raised ? "raised " : "cleared") + "  " + a.device + " " +
         a.change.text + " (" + a.change.name + ", point " + std::to_string(a.change.point) +
         ") " + AlarmKindName(a.change.kind) + " " + Num(static_cast<double>(a.change.value)) +
         " limit " + Num(static_cast<double>(a.change.limit));
}

bool ReadRange(const HistoryOptions& o, TimeRange& range, std::ostream& err) {
  for (auto [text, end] : {std::pair{&o.from, &range.from}, std::pair{&o.to, &range.to}}) {
    if (text->empty()) continue;
    *end = ParseTime(*text);
    if (!*end) {
      err << "qorv-host history: \"" << *text << "\" is not a time (YYYY-MM-DD[ HH:MM:SS])\n";
      return false;
    }
  }
  if (range.from && range.to && *range.to < *range.from) {
    err << "qorv-host history: --to lies before --from\n";
    return false;
  }
  if (range.to && o.to.size() == 10) *range.to += boost::posix_time::hours(24) - boost::posix_time::seconds(1);
  return true;
}

}  // namespace

int RunHistory(const HistoryOptions& o, std::ostream& out, std::ostream& err) {
  TimeRange range;
  if (!ReadRange(o, range, err)) return 2;
  if (::access(o.db.c_str(), R_OK) != 0) {
    err << "qorv-host history: " << o.db << ": no such history database\n";
    return 1;
  }
  std::unique_ptr<HistoryStore> store;
  try {
    store = HistoryStore::Open(o.db);
  } catch (const HistoryError& e) {
    err << "qorv-host history: " << e.what() << "\n";
    return 1;
  }
  std::ofstream file;
  std::ostream* sink = &out;
  if (!o.csv.empty() && o.csv != "-") {
    file.open(o.csv);
    if (!file) {
      err << "qorv-host history: " << o.csv << ": cannot write\n";
      return 1;
    }
    sink = &file;
  }
  const bool csv = !o.csv.empty();
  const bool progress = csv && sink != &out && isatty(STDERR_FILENO);
  std::size_t count = 0;
  auto tick = [&] {
    if (progress && ++count % kProgressEvery == 0) err << "\rexported " << count << " rows" << std::flush;
  };
  std::size_t rows = 0;
  if (o.alarms) {
    if (csv) *sink << "time,data_id,device,name,text,point,kind,event,value,limit\n";
    rows = store->ForEachAlarm(o.data_id, range, [&](const AlarmRow& a) {
      *sink << (csv ? AlarmCsv(a) : AlarmTable(a)) << "\n";
      tick();
    });
  } else {
    *sink << (csv ? RowCsvHeader()
                  : "time                 reason    group (V)  current   temp   min cell      max cell")
          << "\n";
    rows = store->ForEachRow(o.data_id, range, [&](const HistoryRow& row) {
      *sink << (csv ? RowCsv(row) : RowTable(row)) << "\n";
      tick();
    });
  }
  if (progress && count >= kProgressEvery) err << "\n";
  if (sink != &out || !csv) err << rows << (o.alarms ? " alarm events" : " rows") << " for data id " << o.data_id << "\n";
  return 0;
}

}  // namespace runner
