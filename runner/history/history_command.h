#pragma once
// `qorv-host history`: the rows and alarms a host kept, for one data id and
// a time range, printed as a table or exported as CSV; without a data id,
// what the database holds.

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "runner/history/history_store.h"

namespace runner {

struct HistoryOptions {
  std::string db;
  std::optional<unsigned> data_id;  // none: list the data ids the database holds
  std::string from;                 // "YYYY-MM-DD[ HH:MM:SS]"; empty: from the first row
  std::string to;                   // likewise; empty: to the last row
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
// False once `err` was told that `store` holds nothing of `data_id`, and
// which data ids it holds.
bool HoldsDataId(HistoryStore& store, unsigned data_id, std::ostream& err);

}  // namespace runner
