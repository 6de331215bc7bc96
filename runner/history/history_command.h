#pragma once
// `qorv-host history`: the rows and alarms a host kept, for one data id and
// a time range, printed as a table or exported as CSV.

#include <iosfwd>
#include <string>

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

}  // namespace runner
