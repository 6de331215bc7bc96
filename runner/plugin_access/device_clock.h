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

#include <ctime>

#include <boost/date_time/posix_time/ptime.hpp>

namespace plugin_access {

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

// Holds the device clock at the current second for the length of one call
// into a device, so the host knows the exact local time the device reads
// during the call, even when the wall clock ticks on meanwhile. Under a
// DeviceClockHold the clock stands still anyway and this only reads it.
// Pauses nest; the outermost one decides.
class DeviceClockPause {
 public:
  DeviceClockPause();
  ~DeviceClockPause();
  DeviceClockPause(const DeviceClockPause&) = delete;
  DeviceClockPause& operator=(const DeviceClockPause&) = delete;

  // The local date-time devices read while the pause lasts.
  boost::posix_time::ptime Local() const { return local_; }

 private:
  boost::posix_time::ptime local_;
};

}  // namespace plugin_access
