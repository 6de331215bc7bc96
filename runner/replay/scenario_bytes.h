#pragma once
// How a scenario writes bytes: hex tokens with repetition, and monitor reply
// frames built from readings the way the monitor builds them.
//
//   ED 81 0532*30          hex; a token may hold several bytes; *n repeats it
//   reply 81 1330*30 0 0   > ED 81 05 32 ... 00 00 cs   (readings high byte first)

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace runner::replay {

using Bytes = std::vector<unsigned char>;

// Bytes from hex tokens such as "ED", "0532", "00*152". Throws
// std::invalid_argument naming the first bad token.
Bytes ParseHex(const std::vector<std::string>& tokens);

// Readings from decimal tokens such as "1330" or "1330*30" (0 to 65535).
// Throws std::invalid_argument naming the first bad token.
std::vector<std::uint16_t> ParseReadings(const std::vector<std::string>& tokens);

// The monitor's checksum: the 8-bit sum of the bytes, modulo 254.
unsigned char ReplyChecksum(const unsigned char* data, std::size_t len);

// A reply frame: start byte, address, readings high byte first, checksum
// over the address and the readings. `bad_checksum` puts checksum + 1 in its
// place, so the frame is refused by that check alone.
Bytes BuildReply(unsigned char address, const std::vector<std::uint16_t>& readings,
                 bool bad_checksum);

// Cuts `frame` into chunks of the given sizes, in order; the bytes left over
// form the last chunk. Throws std::invalid_argument when a size is 0 or the
// sizes add up to more than the frame.
std::vector<Bytes> SplitFrame(const Bytes& frame, const std::vector<std::size_t>& sizes);

}  // namespace runner::replay
