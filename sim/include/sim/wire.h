#pragma once
// Frames of the monitor's serial protocol, built from the bytes up.
//
//   > FE FE 81 A1 22            request: preamble, address, command, checksum
//   < ED 81 [64 bytes] F3        cell reply: start, address, 32 big-endian readings, checksum
//   < ED 81 01 F4 76             scalar reply: start, address, one big-endian reading, checksum
//
// The address is the byte that travels on the wire: a device configured with
// address N sends N + 0x80 (mod 256), so configured address 1 is 0x81.
// Both checksums are the 8-bit wrapping sum of every byte after the start
// bytes (address and payload), taken modulo 254, so 0xFE and 0xFF never
// appear as a checksum.
//
// This codec is written apart from the plug-in's on purpose and shares no
// code with battery/: it is the oracle the plug-in is checked against (the
// agreement rig and the soak compare every published value with what this
// side encoded), so a mistake copied into both would go unseen.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kPreamble = 0xFE;    // twice at the start of a request
inline constexpr uint8_t kReplyStart = 0xED;  // first byte of every reply
inline constexpr size_t kRequestLength = 5;
inline constexpr size_t kScalarReplyLength = 5;
inline constexpr size_t kCellReplyLength = 67;
inline constexpr size_t kCellReadings = 32;  // readings in a cell reply, used or not
inline constexpr uint8_t kChecksumModulus = 254;

// The four questions a device asks, in the order of one poll round.
enum class Command : uint8_t {
  kCellVoltages = 0xA1,
  kGroupVoltage = 0xA2,
  kCurrent = 0xA3,
  kTemperature = 0xA4,
};

// True for the four command bytes a monitor answers.
bool IsKnownCommand(uint8_t code);

// The 8-bit wrapping sum of `bytes`, modulo 254. Zero for no bytes.
uint8_t Checksum(const uint8_t* bytes, size_t count);
uint8_t Checksum(const Bytes& bytes);

// A request as it appears on the line: one wire address, one command code.
struct Request {
  uint8_t address = 0;
  uint8_t code = 0;
};

// FE FE address code checksum.
Bytes EncodeRequest(uint8_t address, uint8_t code);
Bytes EncodeRequest(uint8_t address, Command command);

// Reads exactly one 5-byte request. Empty when the length, the preamble or
// the checksum is wrong; the command code is not judged here.
std::optional<Request> DecodeRequest(const Bytes& frame);

// ED address high low checksum.
Bytes EncodeScalarReply(uint8_t address, uint16_t reading);

// ED address, 32 readings high byte first, checksum over bytes 1..65.
Bytes EncodeCellReply(uint8_t address, const std::array<uint16_t, kCellReadings>& readings);

// Recomputes the checksum of a reply frame after its address or payload
// changed; frames shorter than a scalar reply are left alone.
void ResealReply(Bytes& frame);

}  // namespace sim
