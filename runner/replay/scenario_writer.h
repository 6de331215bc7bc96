#pragma once
// The scenario lines a capture writes, one action each with its line end;
// scenario.h reads them back.
//
//   clock 2026-12-07 12:00:00
//   create 1 1
//   configure {"appSetting":{"current_ratio":1}}
//   ioctl 100 01 00
//   cache 01 00 00 00 ...
//   peer 1 group_voltage 399
//   peer-throws 1 group_voltage
//   tick
//   recv ED 81 0F 96 26

#include <cstdint>
#include <optional>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>
#include <json/value.h>

#include "runner/replay/scenario_bytes.h"

namespace runner::replay {

std::string ClockLine(boost::posix_time::ptime local);
std::string CreateLine(std::uint32_t data_id, unsigned address);
// The whole object on one line, so that the reader takes it to the line end.
std::string ConfigureLine(const Json::Value& config);
std::string IoControlLine(int code, const Bytes& input);
std::string CacheLine(const Bytes& image);
std::string TickLine();
std::string ReceiveLine(const Bytes& chunk);
// A peer's answer (nothing: the look-up threw), written so that the reader
// gets the very same float back. Throws std::invalid_argument for a value
// name that is not one word.
std::string PeerLine(unsigned data_id, const std::string& name, std::optional<float> value);
// "# text"; line ends in `text` become blanks.
std::string CommentLine(std::string text);

}  // namespace runner::replay
