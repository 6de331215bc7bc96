#include "runner/replay/scenario_writer.h"

#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <json/writer.h>

#include "runner/recording/recording_controller.h"
#include "runner/time/time_text.h"

namespace runner::replay {

std::string ClockLine(boost::posix_time::ptime local) {
  return "clock " + runner::FormatTime(local) + "\n";
}

std::string CreateLine(std::uint32_t data_id, unsigned address) {
  return "create " + std::to_string(data_id) + " " + std::to_string(address) + "\n";
}

std::string ConfigureLine(const Json::Value& config) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return "configure " + Json::writeString(builder, config) + "\n";
}

std::string IoControlLine(int code, const Bytes& input) {
  return "ioctl " + std::to_string(code) + (input.empty() ? "" : " " + recording::Hex(input)) +
         "\n";
}

std::string CacheLine(const Bytes& image) { return "cache " + recording::Hex(image) + "\n"; }

std::string TickLine() { return "tick\n"; }

std::string ReceiveLine(const Bytes& chunk) { return "recv " + recording::Hex(chunk) + "\n"; }

std::string PeerLine(unsigned data_id, const std::string& name, std::optional<float> value) {
  if (name.empty() || name[0] == '#' || name.find_first_of(" \t\r\n") != std::string::npos)
    throw std::invalid_argument("peer value name '" + name + "' is not one word");
  const std::string head = std::to_string(data_id) + " " + name;
  if (!value) return "peer-throws " + head + "\n";
  char text[32];  // nine significant digits give every float back exactly
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(*value));
  return "peer " + head + " " + text + "\n";
}

std::string CommentLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return "# " + text + "\n";
}

}  // namespace runner::replay
