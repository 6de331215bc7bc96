#pragma once
// Values a host and a battery-string device agree on beyond the class
// declarations: what a failed value query says, the one io-control code
// the host sends, the record the device publishes, and how a configured bus
// address becomes the byte on the wire. Both sides take them from here.

#include <cstdint>

namespace qorv {

// Texts of the std::out_of_range a value query (Get_Value) throws. Hosts
// show them and tell the reasons apart by them; peers test for them.
constexpr const char* kDataNotReadyText = "数据未就绪";  // no round completed yet
constexpr const char* kDataTimedOutText = "数据已超时";  // the last round is too old
constexpr const char* kNotSupportedText = "不支持变量";  // no value of that name

// DeviceIoControl code by which the host sets the history interval. The
// input is the host's own 16-bit unsigned number of minutes (2 bytes, host
// byte order, any alignment); 0 asks for the device's default.
constexpr int kHistoryIntervalControl = 100;
using HistoryIntervalMinutes = std::uint16_t;

// The battery-string record: published with SendSP under this data type
// code, handed to the history and restored from the cache at this size.
constexpr int kBatteryRecordTypeCode = 5013;
constexpr unsigned kBatteryRecordSize = 152;

// A device configured with bus address N sends and expects N + 0x80 on the
// wire, modulo 256.
constexpr unsigned char kBusAddressOffset = 0x80;

}  // namespace qorv
