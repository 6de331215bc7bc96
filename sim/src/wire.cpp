#include "sim/wire.h"

namespace sim {
namespace {

constexpr size_t kAddressOffset = 2;  // of a request
constexpr size_t kCodeOffset = 3;

void PutBigEndian(Bytes& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value & 0xFF));
}

// Appends the checksum of everything after the start byte.
void Seal(Bytes& frame) { frame.push_back(Checksum(frame.data() + 1, frame.size() - 1)); }

}  // namespace

bool IsKnownCommand(uint8_t code) {
  return code >= static_cast<uint8_t>(Command::kCellVoltages) &&
         code <= static_cast<uint8_t>(Command::kTemperature);
}

uint8_t Checksum(const uint8_t* bytes, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum % kChecksumModulus;
}

uint8_t Checksum(const Bytes& bytes) { return Checksum(bytes.data(), bytes.size()); }

Bytes EncodeRequest(uint8_t address, uint8_t code) {
  const uint8_t body[] = {address, code};
  return {kPreamble, kPreamble, address, code, Checksum(body, sizeof body)};
}

Bytes EncodeRequest(uint8_t address, Command command) {
  return EncodeRequest(address, static_cast<uint8_t>(command));
}

std::optional<Request> DecodeRequest(const Bytes& frame) {
  if (frame.size() != kRequestLength || frame[0] != kPreamble || frame[1] != kPreamble) {
    return std::nullopt;
  }
  if (Checksum(frame.data() + kAddressOffset, 2) != frame[4]) return std::nullopt;
  return Request{frame[kAddressOffset], frame[kCodeOffset]};
}

Bytes EncodeScalarReply(uint8_t address, uint16_t reading) {
  Bytes frame{kReplyStart, address};
  PutBigEndian(frame, reading);
  Seal(frame);
  return frame;
}

Bytes EncodeCellReply(uint8_t address, const std::array<uint16_t, kCellReadings>& readings) {
  Bytes frame{kReplyStart, address};
  frame.reserve(kCellReplyLength);
  for (uint16_t reading : readings) PutBigEndian(frame, reading);
  Seal(frame);
  return frame;
}

void ResealReply(Bytes& frame) {
  if (frame.size() < kScalarReplyLength) return;
  frame.back() = Checksum(frame.data() + 1, frame.size() - 2);
}

}  // namespace sim
