#pragma once
// The baseline for value queries: the straightforward reading of the cell
// query, which compiles std::regex("battery_(\\d+)_value") on every call
// and searches the name with it. Everything else is the plug-in's device,
// so the ratio of the two query times isolates the name matching.
//
// Kept here only; the plug-in carries no std::regex.

#include <string>

#include "celldata/halvex30.h"

namespace halvex::bench {

class RegexQueryHalvex30 : public Halvex30 {
 public:
  // Readiness and the 60-second age test, then the regex search; names it
  // does not take go to the string values, as in the plug-in.
  float Get_Value(unsigned index, const std::string& name) const override;
};

}  // namespace halvex::bench
