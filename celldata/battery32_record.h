#pragma once
// Battery32_Data_t: the data record of a battery string, published to the
// host, handed to its history store and restored from its cache.
//
//   offset   0   4  data_id        uint32
//            4 128  battery_value  float[32], volts, cell 0 first
//          132   4  group_voltage  float, volts
//          136   4  group_current  float, amperes
//          140   1  status         uint8, always 0
//          141   4  temperature    float, degrees Celsius   (unaligned)
//          145   7  ttime          host time stamp           (unaligned)
//
// 152 bytes, packed, integers and floats little-endian. The host stores and
// compares these bytes as they are, so the layout is fixed by this table,
// not by the compiler. Never take a pointer or reference to a field: on the
// controller's MIPS processor an unaligned word access traps. Read and write
// temperature and ttime with the helpers below, which copy bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "host/device_contract.h"
#include "host/ttime.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "Battery32_Data_t is little-endian on the wire and in history; "
              "a big-endian target would need byte swapping");
static_assert(std::numeric_limits<float>::is_iec559, "record floats are IEEE-754 single");

// Data type code under which the record is published.
constexpr int kBattery32DataTypeCode = qorv::kBatteryRecordTypeCode;
// Cell slots in the record, whatever the string's length.
constexpr int kRecordCells = 32;

#pragma pack(push, 1)
struct Battery32_Data_t {
  std::uint32_t data_id;
  float battery_value[kRecordCells];
  float group_voltage;
  float group_current;
  std::uint8_t status;
  float temperature;
  TTime ttime;
};
#pragma pack(pop)

static_assert(sizeof(Battery32_Data_t) == qorv::kBatteryRecordSize, "record size");
static_assert(offsetof(Battery32_Data_t, data_id) == 0, "data_id offset");
static_assert(offsetof(Battery32_Data_t, battery_value) == 4, "battery_value offset");
static_assert(offsetof(Battery32_Data_t, group_voltage) == 132, "group_voltage offset");
static_assert(offsetof(Battery32_Data_t, group_current) == 136, "group_current offset");
static_assert(offsetof(Battery32_Data_t, status) == 140, "status offset");
static_assert(offsetof(Battery32_Data_t, temperature) == 141, "temperature offset");
static_assert(offsetof(Battery32_Data_t, ttime) == 145, "ttime offset");

namespace halvex {

inline float RecordTemperature(const Battery32_Data_t& record) {
  float value;
  std::memcpy(
      &value,
      reinterpret_cast<const unsigned char*>(&record) + offsetof(Battery32_Data_t, temperature),
      sizeof value);
  return value;
}

inline void SetRecordTemperature(Battery32_Data_t& record, float value) {
  std::memcpy(reinterpret_cast<unsigned char*>(&record) + offsetof(Battery32_Data_t, temperature),
              &value, sizeof value);
}

}  // namespace halvex
