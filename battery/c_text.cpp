#include "battery/c_text.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace halvex {
namespace {

constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();

double TextToDouble(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

}  // namespace

std::int32_t TextToInt(const std::string& text) {
  // strtoll saturates at the 64-bit limits, which lie beyond the int32 ones.
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > kIntMax) return kIntMax;
  if (value < kIntMin) return kIntMin;
  return static_cast<std::int32_t>(value);
}

float TextToFloat(const std::string& text) {
  const double value = TextToDouble(text);
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

std::int32_t TextToTruncatedInt(const std::string& text) {
  const double value = std::trunc(TextToDouble(text));
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(kIntMax)) return kIntMax;
  if (value <= static_cast<double>(kIntMin)) return kIntMin;
  return static_cast<std::int32_t>(value);
}

}  // namespace halvex
