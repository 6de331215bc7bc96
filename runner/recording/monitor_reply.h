#pragma once
// Reply frames as a battery monitor sends them, built on the host side from
// readings, for replay scenarios, fuzz programs and benchmarks; one builder,
// written apart from the plug-in's codec so that the plug-in is fed frames it
// did not make.
//
//   > ED addr [reading high byte, low byte]... cs    cs over addr and readings

#include <cstddef>
#include <cstdint>
#include <vector>

namespace runner::recording {

using FrameBytes = std::vector<unsigned char>;

// The monitor's checksum: the 8-bit sum of the bytes, modulo 254.
unsigned char ReplyChecksum(const unsigned char* data, std::size_t len);

// A reply frame: start byte, address, readings high byte first, checksum
// over the address and the readings. `bad_checksum` puts checksum + 1 in its
// place, so the frame is refused by that check alone.
FrameBytes BuildReply(unsigned char address, const std::vector<std::uint16_t>& readings,
                      bool bad_checksum = false);

// Cuts `frame` into chunks of the given sizes, in order; the bytes left over
// form the last chunk. Throws std::invalid_argument when a size is 0 or the
// sizes add up to more than the frame.
std::vector<FrameBytes> SplitFrame(const FrameBytes& frame, const std::vector<std::size_t>& sizes);

}  // namespace runner::recording
