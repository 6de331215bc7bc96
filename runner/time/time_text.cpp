#include "runner/time/time_text.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace runner {

std::string FormatTime(boost::posix_time::ptime time) {
  if (time.is_special()) return "";
  const auto d = time.date();
  const auto t = time.time_of_day();
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(d.year()),
                static_cast<int>(d.month()), static_cast<int>(d.day()), static_cast<int>(t.hours()),
                static_cast<int>(t.minutes()), static_cast<int>(t.seconds()));
  return text;
}

std::string FormatInstant(std::int64_t utc, int utc_offset_s) {
  const boost::posix_time::ptime local =
      boost::posix_time::from_time_t(0) + boost::posix_time::seconds(utc + utc_offset_s);
  std::string text = FormatTime(local);
  text[10] = 'T';
  const int minutes = (utc_offset_s < 0 ? -utc_offset_s : utc_offset_s) / 60;
  char offset[16];
  std::snprintf(offset, sizeof offset, "%c%02d:%02d", utc_offset_s < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text + offset;
}

std::optional<boost::posix_time::ptime> ParseTime(const std::string& text) {
  // Every digit where the form has one, every separator where it has one.
  static const std::string kForm = "dddd-dd-dd dd:dd:dd";
  if (text.size() != 10 && text.size() != kForm.size()) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool ok = kForm[i] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0
                                    : (c == kForm[i] || (i == 10 && c == 'T'));
    if (!ok) return std::nullopt;
  }
  const auto number = [&](std::size_t at, std::size_t n) { return std::stoi(text.substr(at, n)); };
  const int h = text.size() > 10 ? number(11, 2) : 0;
  const int mi = text.size() > 10 ? number(14, 2) : 0;
  const int sec = text.size() > 10 ? number(17, 2) : 0;
  if (h > 23 || mi > 59 || sec > 59) return std::nullopt;
  try {
    return boost::posix_time::ptime(
        boost::gregorian::date(static_cast<unsigned short>(number(0, 4)),
                               static_cast<unsigned short>(number(5, 2)),
                               static_cast<unsigned short>(number(8, 2))),
        boost::posix_time::time_duration(h, mi, sec));
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
}

}  // namespace runner
