#include "runner/publish/mqtt_topics.h"

namespace runner::publish {

std::string TopicLevel(const std::string& name) {
  std::string level;
  for (const char c : name) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
    level += kept ? c : '_';
  }
  return level.empty() ? "_" : level;
}

}  // namespace runner::publish
