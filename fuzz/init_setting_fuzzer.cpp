// libFuzzer target: InitSetting with arbitrary JSON, then a short session of
// rounds, queries and a cache image on whatever the device took from it.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_entry.h"
#include "fuzz/init_setting_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  halvex::fuzz::SilenceDeviceLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  halvex::fuzz::AbortOnViolation("init_setting", halvex::fuzz::CheckInitSetting(data, size));
  return 0;
}
