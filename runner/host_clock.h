#pragma once
// The host's local clock: the time history rows and alarms are stamped
// with. Tests move a ManualHostClock instead of sleeping: a minute of
// silence or a save interval passes in one call, for the host and, through
// the device clock it holds, for the devices too.

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "runner/hosting/device_clock.h"

namespace runner {

class HostClock {
 public:
  virtual ~HostClock() = default;
  // Local date-time, one-second resolution.
  virtual boost::posix_time::ptime LocalTime() const = 0;
};

// The wall clock in the local time zone.
class WallClock : public HostClock {
 public:
  boost::posix_time::ptime LocalTime() const override;
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
  hosting::DeviceClockHold device_clock_;
};

}  // namespace runner
