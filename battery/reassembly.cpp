#include "battery/reassembly.h"

#include <cstring>

#include "battery/wire.h"

namespace halvex::wire {

Gathered GatherChunk(unsigned char* buf, std::uint32_t& held, const unsigned char* data,
                     unsigned len) {
  if (data == nullptr) len = 0;
  // Written so that no sum can wrap, whatever len the host passes.
  if (held > kReplyBufferLimit || len > kReplyBufferLimit - held) {
    held = 0;
    return Gathered::kOverflow;
  }
  if (len == 0) return Gathered::kKept;
  if (held > 0) {
    std::memcpy(buf + held, data, len);
    held += len;
    return Gathered::kKept;
  }
  const void* start = std::memchr(data, kReplyStart, len);
  if (start == nullptr) return Gathered::kKept;
  const unsigned skip = static_cast<unsigned>(static_cast<const unsigned char*>(start) - data);
  std::memcpy(buf, data + skip, len - skip);
  held = len - skip;
  return Gathered::kKept;
}

}  // namespace halvex::wire
