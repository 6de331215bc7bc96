#include "runner/replay/record_text.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "host/ttime.h"

namespace halvex::replay {
namespace {

constexpr std::size_t kDataIdAt = 0;
constexpr std::size_t kCellsAt = 4;
constexpr std::size_t kGroupVoltageAt = 132;
constexpr std::size_t kGroupCurrentAt = 136;
constexpr std::size_t kStatusAt = 140;
constexpr std::size_t kTemperatureAt = 141;
constexpr std::size_t kTimeAt = 145;

std::uint32_t Word(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

float Float(const unsigned char* p) {
  const std::uint32_t bits = Word(p);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

std::string TimeText(const boost::posix_time::ptime& t) {
  if (t.is_special()) return "-";
  const auto d = t.date();
  const auto tod = t.time_of_day();
  char buf[64];  // room for any int the compiler can imagine
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(d.year()),
                static_cast<int>(d.month()), static_cast<int>(d.day()),
                static_cast<int>(tod.hours()), static_cast<int>(tod.minutes()),
                static_cast<int>(tod.seconds()));
  return buf;
}

std::optional<RecordFields> DecodeRecord(const std::vector<unsigned char>& image) {
  if (image.size() != kRecordSize) return std::nullopt;
  const unsigned char* p = image.data();
  RecordFields r;
  r.data_id = Word(p + kDataIdAt);
  for (std::size_t k = 0; k < kRecordCells; ++k) r.cells[k] = Float(p + kCellsAt + 4 * k);
  r.group_voltage = Float(p + kGroupVoltageAt);
  r.group_current = Float(p + kGroupCurrentAt);
  r.status = p[kStatusAt];
  r.temperature = Float(p + kTemperatureAt);
  TTime stamp;
  std::memcpy(stamp.bytes, p + kTimeAt, sizeof stamp.bytes);
  r.time = TTimeToPtime(stamp);
  return r;
}

std::string RecordText(const RecordFields& r) {
  std::ostringstream out;
  out << "id=" << r.data_id << " t=" << TimeText(r.time) << " cells=[";
  for (std::size_t k = 0; k < kRecordCells; ++k) out << (k ? " " : "") << r.cells[k];
  out << "] gv=" << r.group_voltage << " gc=" << r.group_current
      << " status=" << static_cast<unsigned>(r.status) << " temp=" << r.temperature;
  return out.str();
}

}  // namespace halvex::replay
