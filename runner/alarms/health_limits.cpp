#include "runner/alarms/health_limits.h"

namespace runner {
namespace {

// A settled 12 V block on float sits within about ±50 mV of its string's
// mean (σ 15 to 25 mV), and the monitors read it in 10 mV steps. 80 mV
// below the mean is one of its six cells starting to lose float voltage;
// 150 mV is a cell that no longer holds it. A 6 V block has three cells:
// half of each. The hysteresis is above the reading step and the noise of
// a healthy block, so a block on the edge does not flap.
constexpr HealthLevels kTwelveVoltDeviation{80.0f, 150.0f, 15.0f};
constexpr HealthLevels kSixVoltDeviation{40.0f, 75.0f, 8.0f};
// Two healthy blocks at opposite ends of the band are 100 to 150 mV apart.
constexpr HealthLevels kTwelveVoltSpread{200.0f, 300.0f, 20.0f};
constexpr HealthLevels kSixVoltSpread{100.0f, 150.0f, 10.0f};

constexpr int kSixVoltBlock = 6;

}  // namespace

HealthLevels DefaultDeviation(int block_volts) {
  return block_volts == kSixVoltBlock ? kSixVoltDeviation : kTwelveVoltDeviation;
}

HealthLevels DefaultSpread(int block_volts) {
  return block_volts == kSixVoltBlock ? kSixVoltSpread : kTwelveVoltSpread;
}

}  // namespace runner
