#pragma once
// The 152-byte record a battery-string device publishes every round, as the
// host reads it. Little-endian whatever the host's byte order:
//
//   offset   0  data_id        u32
//            4  cells[32]      f32 each, volts, cell 0 first
//          132  group_voltage  f32, volts
//          136  group_current  f32, amperes
//          140  status         u8
//          141  temperature    f32, degrees Celsius (unaligned)
//          145  ttime          7-byte stamp (host/ttime.h)

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

#include "host/device_contract.h"
#include "host/ttime.h"
#include "runner/plugin_access/device_cells.h"
#include "runner/plugin_access/ttime_decode.h"

namespace runner {

inline constexpr std::size_t kRecordSize = qorv::kBatteryRecordSize;
inline constexpr std::size_t kRecordCellSlots = kRecordCells;

struct BatteryRecord {
  std::uint32_t data_id = 0;
  std::array<float, kRecordCellSlots> cells{};
  float group_voltage = 0.0f;
  float group_current = 0.0f;
  std::uint8_t status = 0;
  float temperature = 0.0f;
  TTime ttime{};

  // The stamp as a date-time; not-a-date-time when the stamp is not one.
  boost::posix_time::ptime Time() const { return TTimeToPtime(ttime); }
};

// Empty unless `len` is exactly the record size.
std::optional<BatteryRecord> DecodeRecord(const unsigned char* data, std::size_t len);
std::optional<BatteryRecord> DecodeRecord(const std::vector<unsigned char>& bytes);

// The 152 bytes of `record`, the inverse of DecodeRecord.
std::vector<unsigned char> EncodeRecord(const BatteryRecord& record);

}  // namespace runner
