// libFuzzer target: a Halvex30 driven by a byte program of chunks, replies,
// ticks, queries, io-control calls, cache images and clock moves
// (device_program.h), with the invariants of device_harness.h checked after
// every step.
#include <cstddef>
#include <cstdint>

#include "fuzz/device_program.h"
#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  halvex::fuzz::SilenceDeviceLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  halvex::fuzz::AbortOnViolation("device_program", halvex::fuzz::RunDeviceProgram(data, size));
  return 0;
}
