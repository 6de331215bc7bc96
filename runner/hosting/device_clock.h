#pragma once
// The clock devices read, held still by the host process so that tests,
// replays, fuzzing and the soak move time without sleeping.
//
// A device reads the local time itself (boost's second_clock, that is the
// C library's time() and localtime_r()). A host process that links this
// library defines time() and exports it, so the plug-in's call lands here:
// while a hold is active time() answers the held instant and the process
// runs in UTC, which makes the local time a device reads exactly the held
// one; with no hold it answers the real time. The plug-in gains no import
// or export by this.

#include <boost/date_time/posix_time/ptime.hpp>

namespace hosting {

// One holder of the device clock. Several may be alive at once (each test
// controller, a manual host clock); whichever set its time last is what
// devices read. The clock runs freely again, in the local time zone the
// process had, when the last holder is gone.
class DeviceClockHold {
 public:
  explicit DeviceClockHold(boost::posix_time::ptime local);
  ~DeviceClockHold();
  DeviceClockHold(const DeviceClockHold&) = delete;
  DeviceClockHold& operator=(const DeviceClockHold&) = delete;

  // Moves the device clock to `local` (a local date-time, whole seconds).
  void Set(boost::posix_time::ptime local);
  boost::posix_time::ptime Get() const { return local_; }

 private:
  boost::posix_time::ptime local_;
};

}  // namespace hosting
