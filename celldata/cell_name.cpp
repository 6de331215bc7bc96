#include "celldata/cell_name.h"

#include <cstdint>

namespace halvex {
namespace {

constexpr std::string_view kCellPrefix = "battery_";
constexpr std::string_view kCellSuffix = "_value";

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<std::string_view> FindCellDigits(const std::string& name) {
  const std::string_view text(name);
  // A digit run ends at the first non-digit, so at a given start there is at
  // most one candidate: the whole run, which must be followed by the suffix.
  for (auto start = text.find(kCellPrefix); start != std::string_view::npos;
       start = text.find(kCellPrefix, start + 1)) {
    const std::size_t first = start + kCellPrefix.size();
    std::size_t end = first;
    while (end < text.size() && IsAsciiDigit(text[end])) ++end;
    if (end > first && text.substr(end, kCellSuffix.size()) == kCellSuffix)
      return text.substr(first, end - first);
  }
  return std::nullopt;
}

bool FindCellNumber(const std::string& name, int cell_count, int& cell) {
  const auto digits = FindCellDigits(name);
  if (!digits || cell_count <= 0) return false;
  // Stops as soon as the number reaches the cell count, so it stays below
  // 10 * INT_MAX and never wraps, however many digits follow.
  std::int64_t value = 0;
  for (char digit : *digits) {
    value = value * 10 + (digit - '0');
    if (value >= cell_count) return false;
  }
  cell = static_cast<int>(value);
  return true;
}

std::string CellValueName(int cell) {
  std::string name(kCellPrefix);
  name += std::to_string(cell);
  name += kCellSuffix;
  return name;
}

}  // namespace halvex
