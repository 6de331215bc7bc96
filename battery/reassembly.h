#pragma once
// Gathering received chunks into the reply buffer.
//
// The host hands over whatever the serial read returned: part of a reply, a
// whole one, or one with bytes around it. Into an empty buffer a reply must
// begin with the start byte, so bytes before the first 0xED are skipped;
// once bytes are held, every further chunk is appended unchanged (noise
// inside a reply then fails its checks). A chunk that would take the buffer
// past kReplyBufferLimit is dropped whole and the buffer emptied.

#include <cstdint>

namespace halvex::wire {

enum class Gathered {
  kKept,      // appended, or skipped for want of a start byte
  kOverflow,  // dropped whole; the buffer is now empty
};

// `buf` holds `held` bytes (at most kReplyBufferLimit) and has room for
// kReplyBufferLimit. A null `data` is an empty chunk.
Gathered GatherChunk(unsigned char* buf, std::uint32_t& held, const unsigned char* data,
                     unsigned len);

}  // namespace halvex::wire
