#include "runner/round/battery_record.h"

#include <cstring>

namespace runner {
namespace {

constexpr std::size_t kDataIdAt = 0;
constexpr std::size_t kCellsAt = 4;
constexpr std::size_t kGroupVoltageAt = 132;
constexpr std::size_t kGroupCurrentAt = 136;
constexpr std::size_t kStatusAt = 140;
constexpr std::size_t kTemperatureAt = 141;
constexpr std::size_t kTTimeAt = 145;
static_assert(kTTimeAt + sizeof(TTime) == kRecordSize, "the stamp ends the record");

std::uint32_t ReadU32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void WriteU32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

float ReadF32(const unsigned char* p) {
  const std::uint32_t bits = ReadU32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

void WriteF32(unsigned char* p, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  WriteU32(p, bits);
}

}  // namespace

std::optional<BatteryRecord> DecodeRecord(const unsigned char* data, std::size_t len) {
  if (data == nullptr || len != kRecordSize) return std::nullopt;
  BatteryRecord r;
  r.data_id = ReadU32(data + kDataIdAt);
  for (std::size_t k = 0; k < kRecordCellSlots; ++k) r.cells[k] = ReadF32(data + kCellsAt + 4 * k);
  r.group_voltage = ReadF32(data + kGroupVoltageAt);
  r.group_current = ReadF32(data + kGroupCurrentAt);
  r.status = data[kStatusAt];
  r.temperature = ReadF32(data + kTemperatureAt);
  std::memcpy(r.ttime.bytes, data + kTTimeAt, sizeof r.ttime.bytes);
  return r;
}

std::optional<BatteryRecord> DecodeRecord(const std::vector<unsigned char>& bytes) {
  return DecodeRecord(bytes.data(), bytes.size());
}

std::vector<unsigned char> EncodeRecord(const BatteryRecord& record) {
  std::vector<unsigned char> out(kRecordSize, 0);
  WriteU32(out.data() + kDataIdAt, record.data_id);
  for (std::size_t k = 0; k < kRecordCellSlots; ++k)
    WriteF32(out.data() + kCellsAt + 4 * k, record.cells[k]);
  WriteF32(out.data() + kGroupVoltageAt, record.group_voltage);
  WriteF32(out.data() + kGroupCurrentAt, record.group_current);
  out[kStatusAt] = record.status;
  WriteF32(out.data() + kTemperatureAt, record.temperature);
  std::memcpy(out.data() + kTTimeAt, record.ttime.bytes, sizeof record.ttime.bytes);
  return out;
}

}  // namespace runner
