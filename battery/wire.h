#pragma once
// The monitor's serial protocol: framing constants and the checksum.
//
// > FE FE aa cc ss                 request: preamble, address, command, checksum
// < ED aa hh ll ss                 scalar reply: start, address, big-endian value, checksum
// < ED aa [32 x hh ll] ss          cell reply: 67 bytes, 32 big-endian readings
//
// The checksum covers the address and the command (request), or the address
// and the payload (reply): an 8-bit wrapping sum, modulo 254, so 0xFE and
// 0xFF never appear as a checksum.

#include <cstddef>
#include <cstdint>

namespace halvex::wire {

constexpr unsigned char kRequestPreamble = 0xFE;
constexpr unsigned char kReplyStart = 0xED;

// Command codes; the reply carries none, so the poll state says which
// reply is awaited.
constexpr unsigned char kCellVoltages = 0xA1;
constexpr unsigned char kGroupVoltage = 0xA2;
constexpr unsigned char kCurrent = 0xA3;
constexpr unsigned char kTemperature = 0xA4;

constexpr unsigned kRequestLength = 5;
constexpr unsigned kScalarReplyLength = 5;
constexpr unsigned kCellReadings = 32;
constexpr unsigned kCellReplyLength = 2 + 2 * kCellReadings + 1;  // 67
// Most bytes gathered while waiting for one reply: a cell reply with room
// for a little trailing noise. A chunk that would pass it is dropped whole.
constexpr unsigned kReplyBufferLimit = 80;

// 8-bit wrapping sum of `len` bytes, modulo 254.
unsigned char Checksum(const unsigned char* data, std::size_t len);

// Whether `held` gathered bytes hold a whole reply of `reply_length` bytes.
// Bytes beyond it do not make the reply any less complete.
constexpr bool ReplyComplete(std::uint32_t held, unsigned reply_length) {
  return held >= reply_length;
}

// Why a complete reply was taken or refused.
enum class ReplyCheck {
  kGood,
  kBadStart,      // first byte is not 0xED
  kWrongAddress,  // another monitor's reply, or a corrupted address
  kBadChecksum,   // last byte is not the sum of the address and the payload
};

// Checks a reply of `length` bytes (5 or 67) at `reply` from the monitor at
// `address`: start byte, address, then the checksum over the address and
// the payload.
ReplyCheck CheckReply(const unsigned char* reply, unsigned length, unsigned char address);

// Unaligned big-endian 16-bit reading.
inline std::uint16_t ReadBigEndian16(const unsigned char* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

}  // namespace halvex::wire
