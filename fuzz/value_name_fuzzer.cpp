// libFuzzer target: Get_Value's cell-name matching against std::regex_search
// with battery_(\d+)_value, byte for byte (value_name_check.h).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_entry.h"
#include "fuzz/value_name_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  halvex::fuzz::SilenceDeviceLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  halvex::fuzz::AbortOnViolation("value_name", halvex::fuzz::CheckValueName(name));
  return 0;
}
