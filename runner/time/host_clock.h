#pragma once
// The host's local clock: the time history rows and alarms are stamped
// with. Tests move a ManualHostClock instead of sleeping: a minute of
// silence or a save interval passes in one call, for the host and, through
// the device clock it holds, for the devices too.

#include <cstdint>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "runner/plugin_access/device_clock.h"

namespace runner {

// One moment as the host stamps it: the local date-time people read, and
// the instant it names (seconds since 1970 UTC) with the offset in force,
// so a repeated hour after a clock change still sorts in order.
struct HostInstant {
  boost::posix_time::ptime local;
  std::int64_t utc = 0;
  int utc_offset_s = 0;  // local minus UTC
};

// The instant a local date-time names in the process's time zone. In an
// hour that repeats when clocks go back, `latest` picks the second
// occurrence, else the first; a time skipped when clocks go forward counts
// from the offset before the change.
HostInstant InstantOfLocal(boost::posix_time::ptime local, bool latest = false);

class HostClock {
 public:
  virtual ~HostClock() = default;
  // Local date-time, one-second resolution.
  virtual boost::posix_time::ptime LocalTime() const = 0;
  // The current moment with its instant; by default the local time read
  // through the time zone.
  virtual HostInstant Now() const { return InstantOfLocal(LocalTime()); }
};

// The wall clock in the local time zone.
class WallClock : public HostClock {
 public:
  boost::posix_time::ptime LocalTime() const override;
  HostInstant Now() const override;
};

// A clock that stands still until told to move. It holds the devices'
// clock at the same time while it exists.
class ManualHostClock : public HostClock {
 public:
  explicit ManualHostClock(boost::posix_time::ptime start);
  boost::posix_time::ptime LocalTime() const override { return device_clock_.Get(); }
  void Advance(long seconds) { Set(LocalTime() + boost::posix_time::seconds(seconds)); }
  void Set(boost::posix_time::ptime now) { device_clock_.Set(now); }

 private:
  plugin_access::DeviceClockHold device_clock_;
};

}  // namespace runner
