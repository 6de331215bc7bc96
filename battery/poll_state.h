#pragma once
// The poll cycle's states: which reply the device awaits. Held in the
// device's `call_state_` (int32, part of its layout), so they are plain
// numbers rather than an enum type.
//
//   kIdle -> A1 sent: kAwaitCells -> A2: kAwaitGroupVoltage
//         -> A3: kAwaitCurrent -> A4: kAwaitTemperature -> kIdle (round done)
//
// A refused reply returns the device to kIdle; the next tick starts a new cycle.

#include <cstdint>

namespace halvex::poll {

constexpr std::int32_t kIdle = 0;
constexpr std::int32_t kAwaitCells = 1;
constexpr std::int32_t kAwaitGroupVoltage = 2;
constexpr std::int32_t kAwaitCurrent = 3;
constexpr std::int32_t kAwaitTemperature = 4;

}  // namespace halvex::poll
