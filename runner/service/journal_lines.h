#pragma once
// The host's events as the journal files them: one line each, led by its
// syslog priority ("<3>" error, "<4>" warning, "<6>" info), which journald
// reads from a service's standard output. Every event's weight is decided
// here, by what the event says.

#include <string>

namespace runner::service {

enum class Priority { kError = 3, kWarning = 4, kInfo = 6 };

// `text` is the event without its time stamp ("alarm raised: ...").
Priority EventPriority(const std::string& text);

// An event log line ("YYYY-MM-DD HH:MM:SS text") as "<N>text\n": the
// journal keeps its own time, so the stamp is dropped.
std::string JournalLine(const std::string& event_line);

}  // namespace runner::service
