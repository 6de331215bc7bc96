#pragma once
// A replay scenario: the host's actions on one or more devices, one action a
// line, in the text form below.
//
//   create 1 1              # data id 1, configured bus address 1
//   configure {"appSetting": {"battery_type": 0}}
//   tick
//   reply 81 1330*30 0*2    # the monitor's cell-voltage reply
//   query battery_0_value
//
// ParseScenario checks every line before anything runs and reports the first
// bad one as "FILE:LINE: problem".

#include <cstddef>
#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/value.h>

#include "runner/replay/scenario_bytes.h"

namespace runner::replay {

// A scenario line that cannot be read or cannot run. what() is
// "FILE:LINE: problem" (or "FILE: problem" when no line is involved).
class ScenarioError : public std::runtime_error {
 public:
  ScenarioError(const std::string& file, int line, const std::string& problem);
};

// A file that cannot be read as a scenario at all: missing, not a regular
// file, too large, a line too long. what() is "FILE: problem".
class ScenarioFileError : public ScenarioError {
 public:
  ScenarioFileError(const std::string& file, const std::string& problem)
      : ScenarioError(file, 0, problem) {}
};

// Bounds of what is read: a capture part is cut at 64 MiB by default.
constexpr std::size_t kMaxScenarioBytes = std::size_t{256} << 20;
constexpr std::size_t kMaxScenarioLineBytes = std::size_t{64} << 10;

struct Action {
  enum class Verb {
    kCreate,               // create <data_id> <address> [<name>]
    kUse,                  // use <name>
    kDestroy,              // destroy [<name>]
    kConfigure,            // configure <json> | configure-file <path>
    kTick,                 // tick [<n>]
    kReceive,              // recv <hex> | reply <address> <readings> [split ...] [bad-checksum]
    kQuery,                // query <name>
    kIoControl,            // ioctl <code> [<hex>]
    kCache,                // cache <hex>
    kCacheFromLastRecord,  // cache-from-last-record
    kPeerValue,            // peer <id> <name> <value>
    kPeerThrows,           // peer-throws <id> <name>
    kClock,                // clock +<s> | clock -<s> | clock <YYYY-MM-DD HH:MM:SS>
  };

  Verb verb = Verb::kTick;
  int line = 0;               // 1-based line in the scenario file
  std::string device;         // create, use, destroy: device name, "" for the unnamed one
  std::uint32_t id = 0;       // create: data id; peer lines: the peer's data id
  std::string name;           // query and peer lines: value name
  long number = 0;            // create: configured address; tick: count; ioctl: code
  float value = 0.0f;         // peer: the scripted answer
  Json::Value config;         // configure: the device configuration object
  std::vector<Bytes> chunks;  // recv, reply: chunks handed to process, in order
  Bytes bytes;                // ioctl input, cache image
  boost::posix_time::time_duration clock_step;  // clock +/-
  boost::posix_time::ptime clock_at;            // clock <date time>; not-a-date-time otherwise
};

// Reads a whole scenario. `file_name` names the scenario in errors and is the
// base for the relative paths of configure-file. Throws ScenarioError; a line
// that is not text is named with its first bad byte, escaped.
//
// With `torn` given, a last line that has no newline and does not read is
// taken for one cut short while it was written (power lost during a
// capture): it is left out, and `torn` says so with its file and line.
std::vector<Action> ParseScenario(std::istream& in, const std::string& file_name,
                                  std::string* torn = nullptr);

// Reads (a regular file, within the bounds above) and parses the scenario at
// `path`. Throws ScenarioFileError or ScenarioError.
std::vector<Action> LoadScenario(const std::string& path, std::string* torn = nullptr);

}  // namespace runner::replay
