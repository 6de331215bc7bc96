#pragma once
// InitSetting with whatever JSON a site ships. The device may refuse a
// configuration only by the JSON library's own exception (a value with no
// text form, a table given as an array); anything else that leaves
// InitSetting, and any invariant of device_harness.h broken in the session
// that follows on what it did take, is a fault.

#include <cstddef>
#include <cstdint>
#include <string>

namespace halvex::fuzz {

// Parses `text` as JSON (inputs that are not JSON pass), configures a fresh
// device with it and runs a fixed session: two rounds with cells across the
// validity windows, every value name, the data ageing past a minute, the
// history interval and a cache image. Returns the fault, or empty.
std::string CheckInitSetting(const std::uint8_t* text, std::size_t size);

}  // namespace halvex::fuzz
