#pragma once
// What every libFuzzer entry point of the plug-in shares: the device's
// diagnostic lines are dropped (they cost more than the step that writes
// them), and a broken invariant ends the run with its name.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "runner/recording/output_capture.h"

namespace halvex::fuzz {

inline void SilenceDeviceLog() { static runner::recording::QuietCout quiet; }

inline void AbortOnViolation(const char* target, const std::string& violation) {
  if (violation.empty()) return;
  std::fprintf(stderr, "%s: invariant violated: %s\n", target, violation.c_str());
  std::abort();
}

}  // namespace halvex::fuzz
