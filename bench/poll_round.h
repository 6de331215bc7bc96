#pragma once
// One poll round as the host drives it, with the replies of a healthy
// monitor, and the devices and configurations the measurements use.
//
//   tick    > FE FE 81 A1 22      < ED 81 [32 readings] ss   (67 bytes, in chunks)
//           > FE FE 81 A2 23      < ED 81 hh ll ss
//           > FE FE 81 A3 24      < ED 81 hh ll ss
//           > FE FE 81 A4 25      < ED 81 hh ll ss          RoundDone: record, 33 checks, history
//
// 102 bytes cross the line in a round; at 19200 bit/s with 10 bits a byte
// that is 53.1 ms, the pace every measurement is compared with.

#include <memory>
#include <vector>

#include <json/value.h>

#include "battery/wire.h"
#include "host/provider.h"
#include "host/qorv_controller.h"
#include "host/qorv_spdevice.h"

namespace halvex::bench {

// Bytes on the line in one round: four requests and four replies.
constexpr unsigned kRoundBytes =
    4 * wire::kRequestLength + wire::kCellReplyLength + 3 * wire::kScalarReplyLength;
constexpr double kLineBitsPerSecond = 19200.0;
constexpr double kBitsPerByte = 10.0;  // start, 8 data, stop
constexpr double kRoundWireNanoseconds = kRoundBytes * kBitsPerByte / kLineBitsPerSecond * 1e9;

constexpr unsigned kDataId = 7;
constexpr unsigned kConfiguredAddress = 1;  // 0x81 on the wire once configured
constexpr unsigned char kWireAddress = 0x81;

// Checks a 30-cell string makes every round: string voltage, current,
// temperature and one per cell.
constexpr long kChecksPerRound = 3 + 30;

// What a healthy monitor at `address` answers in one round: 12 V blocks
// near 13.2 V, a 400 V string, 5 A, 26 °C. The readings repeat every round,
// so change detection compares every cell each time.
struct MonitorReplies {
  explicit MonitorReplies(unsigned char address);

  std::vector<unsigned char> cells;
  std::vector<unsigned char> group_voltage;
  std::vector<unsigned char> current;
  std::vector<unsigned char> temperature;
};

// One complete round: a poll tick, then the four replies; the cell reply is
// handed over in chunks of at most `chunk` bytes, as serial reads split it.
// False when the device stopped awaiting replies before the last one.
bool RunPollRound(QorvSPDevice& device, MonitorReplies& replies,
                  unsigned chunk = wire::kCellReplyLength);

// A string as most sites configure it: 12 V blocks, mode 1 (no threshold
// table), scaling and trims given, no peers.
Json::Value TypicalConfig();
// The same string in mode 3 with a threshold table entry for each of its
// 33 values.
Json::Value ThresholdTableConfig();

// A device destroyed through the host's virtual destructor.
using DevicePtr = std::unique_ptr<QorvSPDevice>;

// Binds a device to its host as the host does: Init with the data id and
// the bus address, then InitSetting with `config`.
void SetUpDevice(QorvSPDevice& device, const std::shared_ptr<QorvController>& host,
                 const Json::Value& config, unsigned data_id = kDataId);

// The provider of the plug-in compiled into this program.
const QorvSPDeviceProvider& LinkedProvider();

// A 152-byte record image, as the host's cache hands it back.
std::vector<unsigned char> CachedRecord(unsigned data_id = kDataId);

}  // namespace halvex::bench
