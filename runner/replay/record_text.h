#pragma once
// Reads a battery string's 152-byte data record, as the device publishes it
// and hands it to history, into a transcript line.
//
//   offset   0   4  data id        uint32
//            4 128  cells          float[32], volts, cell 0 first
//          132   4  group voltage  float, volts
//          136   4  group current  float, amperes
//          140   1  status         uint8
//          141   4  temperature    float, degrees Celsius
//          145   7  time stamp     host form (host/ttime.h)
//
// Little-endian; the decoder reads bytes, so it does not depend on the
// machine the transcript is made on.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

namespace halvex::replay {

constexpr std::size_t kRecordSize = 152;
constexpr std::size_t kRecordCells = 32;

struct RecordFields {
  std::uint32_t data_id = 0;
  std::array<float, kRecordCells> cells{};
  float group_voltage = 0.0f;
  float group_current = 0.0f;
  std::uint8_t status = 0;
  float temperature = 0.0f;
  boost::posix_time::ptime time;  // not-a-date-time when the stamp holds none
};

// "2026-12-07 12:00:00"; "-" for a time that is not a date.
std::string TimeText(const boost::posix_time::ptime& t);

// The fields of a record image; nothing when it is not 152 bytes long.
std::optional<RecordFields> DecodeRecord(const std::vector<unsigned char>& image);

// "id=1 t=2026-12-07 12:00:00 cells=[13.3 ... 0 0] gv=399 gc=-5 status=0 temp=25"
// All 32 cell slots are shown, so a device that writes beyond its string shows.
std::string RecordText(const RecordFields& record);

}  // namespace halvex::replay
