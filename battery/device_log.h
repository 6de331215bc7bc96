#pragma once
// The device's fixed lines on standard output ("rvSize is ", "InitSetting ",
// "mobile:", "Battery32 <id> checksum failed", ...). Tools on the controller
// read these lines from the host's output, so their text, spacing and order
// must not change, however odd they look; every one is written here.

#include <iostream>

namespace halvex {

// Writes `parts` as one line, each as the stream formats it, and flushes.
template <typename... Parts>
void DeviceLogLine(const Parts&... parts) {
  (std::cout << ... << parts) << std::endl;
}

}  // namespace halvex
