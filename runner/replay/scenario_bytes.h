#pragma once
// How a scenario writes bytes: hex tokens with repetition, and readings for
// the monitor reply frames of runner/recording/monitor_reply.h.
//
//   ED 81 0532*30          hex; a token may hold several bytes; *n repeats it
//   reply 81 1330*30 0 0   > ED 81 05 32 ... 00 00 cs   (readings high byte first)

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

}  // namespace runner::replay
