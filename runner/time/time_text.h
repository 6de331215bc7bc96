#pragma once
// The host's one way to write and read a local date-time: history rows,
// the event log, the live view, the JSON lines and replay scenarios all use
// "YYYY-MM-DD HH:MM:SS".

#include <cstdint>
#include <optional>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>

namespace runner {

// "2026-12-07 14:03:09".
std::string FormatTime(boost::posix_time::ptime time);

// An instant as ISO 8601 with the local offset it was taken at:
// "2026-12-07T14:03:09+01:00" (UTC itself: "+00:00"). The store keeps the
// same instant as seconds since 1970 and the offset.
std::string FormatInstant(std::int64_t utc, int utc_offset_s);
// The inverse, strictly: "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DDTHH:MM:SS" or
// "YYYY-MM-DD" (midnight), with every digit given.
std::optional<boost::posix_time::ptime> ParseTime(const std::string& text);

}  // namespace runner
