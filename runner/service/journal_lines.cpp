#include "runner/service/journal_lines.h"

#include <cctype>
#include <cstring>

namespace runner::service {
namespace {

struct Rule {
  const char* starts;    // the event begins with this ("" for any)
  const char* contains;  // and holds this ("" for anything)
  Priority priority;
};

// The first rule that fits decides; the order matters where an event of one
// source can be good or bad news.
constexpr Rule kRules[] = {
    {"alarm raised: ", "", Priority::kWarning},
    {"alarm cleared: ", "", Priority::kInfo},
    {"port ", " is back; online again", Priority::kInfo},
    {"port ", "; offline: ", Priority::kError},
    {"port ", " bit/s; the line runs at ", Priority::kWarning},
    {"device ", ": fresh data again", Priority::kInfo},
    {"device ", ": data stale: ", Priority::kWarning},
    {"device ", ": data refused: ", Priority::kWarning},
    {"device ", ": configuration refused, device skipped", Priority::kError},
    {"device ", ": poll tick failed", Priority::kError},
    {"device ", ": reply handling failed", Priority::kError},
    {"device ", ": capture stopped", Priority::kWarning},
    {"device ", ": last record from history refused", Priority::kWarning},
    {"device ", ": last record from history unreadable", Priority::kWarning},
    {"device ", ": cannot be added: ", Priority::kError},
    {"reload refused: ", "", Priority::kError},
    {"reload failed: ", "", Priority::kError},
    {"history: writing again", "", Priority::kInfo},
    {"history: rows lost", "", Priority::kError},
    {"history: ", " rows pending, retrying", Priority::kError},
    {"history: ", "", Priority::kWarning},
    {"MQTT: connected to ", "", Priority::kInfo},
    {"MQTT: connection to ", " lost", Priority::kWarning},
    {"MQTT: ", " refused ", Priority::kError},
    {"MQTT: the backlog cannot be read", "", Priority::kError},
    {"MQTT: ", "", Priority::kWarning},
    {"", ": cannot rotate the log", Priority::kError},
    {"", ": cannot reopen the log", Priority::kError},
    {"", ": cannot empty the log", Priority::kError},
};

bool StartsWith(const std::string& text, const char* head) {
  return text.compare(0, std::strlen(head), head) == 0;
}

// "YYYY-MM-DD HH:MM:SS " at the start of `line`.
bool HasStamp(const std::string& line) {
  constexpr const char* kShape = "dddd-dd-dd dd:dd:dd ";
  const std::size_t n = std::strlen(kShape);
  if (line.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return false;
  }
  return true;
}

}  // namespace

Priority EventPriority(const std::string& text) {
  for (const Rule& rule : kRules)
    if (StartsWith(text, rule.starts) && text.find(rule.contains) != std::string::npos)
      return rule.priority;
  return Priority::kInfo;
}

std::string JournalLine(const std::string& event_line) {
  std::string text = HasStamp(event_line) ? event_line.substr(20) : event_line;
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';  // one event, one journal entry
  return "<" + std::to_string(static_cast<int>(EventPriority(text))) + ">" + text + "\n";
}

}  // namespace runner::service
