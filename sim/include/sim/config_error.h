#pragma once
// Bad simulator settings. The message names the setting, e.g.
// "monitors[1].faults.drop: rate must lie in 0..1, got 1.5".

#include <stdexcept>
#include <string>

namespace sim {

class ConfigError : public std::runtime_error {
 public:
  ConfigError(const std::string& where, const std::string& problem)
      : std::runtime_error(where + ": " + problem) {}
};

// The dotted name of `key` inside `where`; `where` may be empty.
inline std::string Field(const std::string& where, const std::string& key) {
  return where.empty() ? key : where + "." + key;
}

}  // namespace sim
