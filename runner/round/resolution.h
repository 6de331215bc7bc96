#pragma once
// Values at the resolution they have, without the noise of their single
// precision: 13.28, not 13.279999; a deviation of -25.0, not -25.0003. The
// JSON lines and the published messages write every value so.

#include <cmath>

namespace runner {

inline constexpr int kVoltDecimals = 3;       // readings in whole millivolts
inline constexpr int kMeanVoltDecimals = 4;   // the mean, to 0.1 mV
inline constexpr int kMillivoltDecimals = 1;  // deviations, σ and spread, to 0.1 mV
inline constexpr int kCentDecimals = 2;       // current and temperature in hundredths

inline double Rounded(double v, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(v * scale) / scale;
}

}  // namespace runner
