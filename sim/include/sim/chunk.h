#pragma once
// A piece of what a monitor puts on the line, with its timing.

#include <chrono>
#include <vector>

#include "sim/wire.h"

namespace sim {

// 19200 bit/s with start, 8 data and stop bits: 10 bits a byte, 520.8 us,
// rounded to the microsecond.
inline constexpr std::chrono::microseconds kByteTime{521};

struct Chunk {
  Bytes bytes;
  // Idle line before the first byte: from the end of the request for a
  // reply's first chunk, from the end of the previous chunk otherwise.
  std::chrono::microseconds delay_before{0};
  // Spacing of the bytes within the chunk when paced at line speed (each
  // byte is complete kByteTime after the one before); 0 sends them at once.
  std::chrono::microseconds byte_time{0};

  // Line time the chunk takes, its leading delay included.
  std::chrono::microseconds Duration() const {
    return delay_before + byte_time * static_cast<long>(bytes.size());
  }
};

// The chunks' bytes joined, as a receiver that waits long enough sees them.
Bytes Join(const std::vector<Chunk>& chunks);

}  // namespace sim
