#pragma once
// `qorv-host history`: the rows and alarms a host kept, for one data id and
// a time range, printed as a table or exported as CSV.

#include <iosfwd>
#include <memory>
#include <string>

#include "runner/history/history_store.h"

namespace runner {

struct HistoryOptions {
  std::string db;
  unsigned data_id = 0;
  std::string from;     // "YYYY-MM-DD[ HH:MM:SS]"; empty: from the first row
  std::string to;       // likewise; empty: to the last row
  std::string csv;      // export to this file ("-": standard output); empty: print a table
  bool alarms = false;  // the alarm log instead of the rows
};

// Returns the exit status; problems go to `err`.
int RunHistory(const HistoryOptions& options, std::ostream& out, std::ostream& err);

// The range that --from and --to name; false once `err` was told what is
// wrong with them.
bool ReadHistoryRange(const HistoryOptions& options, TimeRange& range, std::ostream& err);
// The database at `db`, read-only; null once `err` was told why not.
std::unique_ptr<HistoryStore> OpenHistoryToRead(const std::string& db, std::ostream& err);

}  // namespace runner
