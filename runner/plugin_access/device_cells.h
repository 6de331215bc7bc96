#pragma once
// A device's cells as the host names, numbers and draws them, decided here
// for the whole host: the value names it asks a device for, the cells a
// configuration puts in use, the number cell 0 shows in the whole string,
// the history's cell columns, and the voltage window of a block.
//
//   cell k (from 0)   value name "battery_<k>_value", shown as number
//                     first + k, stored in history column "cell_<k+1>"

#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

namespace runner {

// Cell slots of the published record; a Halvex30 answers for 30 of them.
inline constexpr int kRecordCells = 32;

// Cells a device type answers for.
int CellCountOf(const std::string& device_type);

// "battery_<k>_value": the name a device answers its cell k under.
std::string CellValueName(int cell);
// The k of a cell's value name (at most four digits), or nullopt for any
// other name.
std::optional<int> CellOfValueName(const std::string& name);

// The cells a device's configuration puts in use, as the device itself
// reads it for its threshold checks: 0 .. "amount" - 1 with a valid
// "group_index", plus each "active_batteries" entry; every cell of the
// device when neither names one. Entries outside 0 .. `cells_answered` - 1
// are dropped. Sorted, without repeats.
std::vector<int> ConfiguredCells(const Json::Value& config, int cells_answered);

// The number the device gives its cell 0 in alarm texts: "battery_start"
// (or 17 for "group_index" 2) of its appSetting, plus one.
int FirstCellNumber(const Json::Value& config);
// The number cell k shows in views and tables.
inline int CellNumber(int first_cell_number, int cell) { return first_cell_number + cell; }

// The history column of cell k: "cell_1" for cell 0, whatever number the
// device gives it, so that every device's rows read alike.
std::string HistoryCellColumn(int cell);

// The voltages a block's reading is accepted in.
struct CellWindow {
  float low, high;
};
inline constexpr CellWindow kTwelveVoltWindow{9.0f, 15.0f};
inline constexpr CellWindow kSixVoltWindow{4.5f, 7.5f};
// The window of a string whose highest cell reads `highest_volts`: a 6 V
// block's below its top, else a 12 V block's (also when nothing is read).
CellWindow WindowOfString(std::optional<float> highest_volts);

}  // namespace runner
