#pragma once
// Opening the two kinds of port the simulator serves. Both throw
// std::system_error naming the path.

#include <string>

namespace sim::internal {

struct PtyPair {
  int master = -1;  // the simulator's side
  int slave = -1;   // held open so the line stays raw between device sessions
  std::string path;
};

PtyPair OpenRawPty();

// Opens `path` non-blocking and sets raw 8N1 at 19200 bit/s, no flow control.
int OpenSerialDevice(const std::string& path);

}  // namespace sim::internal
