#pragma once
// Cell value names: "battery_<n>_value", n the 0-based cell index in
// decimal. Hosts and peers may wrap the name in text of their own
// ("x_battery_5_value_y" names cell 5), so the first occurrence anywhere in
// the name counts, the way an ECMAScript search for battery_(\d+)_value
// finds it. Leading zeros are allowed; digits are ASCII 0-9 only.

#include <optional>
#include <string>
#include <string_view>

namespace halvex {

// The digit run of the first "battery_<digits>_value" in `name`, or nothing.
// The view points into `name`.
std::optional<std::string_view> FindCellDigits(const std::string& name);

// The cell named by `name` when its number lies in 0 .. cell_count - 1.
// Numbers of any length are compared exactly: a digit run too long for an
// int is out of range, never a wrapped index.
bool FindCellNumber(const std::string& name, int cell_count, int& cell);

// The value name of a cell: "battery_<cell>_value", no leading zeros.
std::string CellValueName(int cell);

}  // namespace halvex
