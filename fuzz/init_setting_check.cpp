#include "fuzz/init_setting_check.h"

#include <memory>
#include <vector>

#include <json/reader.h>
#include <json/value.h>

#include "fuzz/device_harness.h"
#include "fuzz/device_program.h"

namespace halvex::fuzz {
namespace {

bool ParseJson(const std::uint8_t* text, std::size_t size, Json::Value& out) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  const char* begin = reinterpret_cast<const char*>(text);
  try {
    return reader->parse(begin, begin + size, &out, nullptr);
  } catch (const Json::Exception&) {
    return false;  // nested past the reader's depth limit
  }
}

// Readings that land on both sides of both windows, whatever the block type
// and trims: 0, 6 V block ends, 12 V block ends, the top of the scale.
std::vector<std::uint16_t> WindowReadings() {
  std::vector<std::uint16_t> readings;
  for (std::uint16_t r : {0, 449, 450, 4500, 7500, 7501, 899, 900, 1330, 1500, 1501, 65535})
    readings.push_back(r);
  while (readings.size() < 32)
    readings.push_back(static_cast<std::uint16_t>(1200 + readings.size()));
  return readings;
}

std::vector<std::uint8_t> Session() {
  ProgramWriter session;
  session.Tick().CellReply(WindowReadings()).ScalarReply(500).ScalarReply(123).ScalarReply(2600);
  for (int cell = 0; cell <= 32; ++cell) session.QueryCell(static_cast<std::uint8_t>(cell));
  session.QueryScalar(0).QueryScalar(1).QueryScalar(2).SaveInterval(30);
  session.Tick().CellReply(1330).ScalarReply(5000).ScalarReply(0).ScalarReply(10001);
  session.QueryCell(0).Clock(61).QueryCell(29).QueryScalar(0);
  session.Cache(std::vector<std::uint8_t>(152, 0x41)).QueryCell(7);
  return session.bytes();
}

}  // namespace

std::string CheckInitSetting(const std::uint8_t* text, std::size_t size) {
  Json::Value config;
  if (!ParseJson(text, size, config)) return "";
  DeviceHarness harness;
  try {
    harness.Configure(config);
  } catch (const Json::Exception&) {
    // Refused by the JSON library; what was taken before it still counts.
  } catch (const std::exception& e) {
    return std::string("InitSetting threw ") + e.what();
  } catch (...) {
    return "InitSetting threw an exception of unknown type";
  }
  static const std::vector<std::uint8_t> session = Session();
  RunOps(harness, session.data(), session.size());
  return harness.violation();
}

}  // namespace halvex::fuzz
