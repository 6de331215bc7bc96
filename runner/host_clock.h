#pragma once
// The host's local clock: the one time source devices read (through the
// controller's LocalTime) and the time history rows and alarms are stamped
// with. Tests move a ManualHostClock instead of sleeping: a minute of
// silence or a save interval passes in one call.

#include <boost/date_time/posix_time/posix_time_types.hpp>

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

// A clock that stands still until told to move.
class ManualHostClock : public HostClock {
 public:
  explicit ManualHostClock(boost::posix_time::ptime start);
  boost::posix_time::ptime LocalTime() const override { return now_; }
  void Advance(long seconds) { now_ += boost::posix_time::seconds(seconds); }
  void Set(boost::posix_time::ptime now) { now_ = now; }

 private:
  boost::posix_time::ptime now_;
};

}  // namespace runner
