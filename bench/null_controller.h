#pragma once
// Hosts for measuring the plug-in alone.
//
// NullController does nothing: frames go nowhere, every peer value is 0 and
// every check passes silently. It only counts the checks and history
// hand-overs, so a benchmark can tell that a round really ran to its end.
// Its clock is the host's default, the wall clock in local time, which the
// device reads on every request, every received chunk and every query.
//
// FrozenClockController holds the device clock still, in UTC, which takes
// the reading of the real clock and the time-zone rules out of the
// measurement: what remains is the plug-in's own work.

#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "host/qorv_controller.h"
#include "runner/plugin_access/device_clock.h"

namespace halvex::bench {

class NullController : public QorvController {
 public:
  int SendData(QorvSPDevice&, const unsigned char*, unsigned len) override {
    return static_cast<int>(len);
  }
  float Get_SP_Value(unsigned, const std::string&) override { return 0.0f; }
  void CheckThreshold(QorvVDevice&, const std::string&, const std::string&, const float&,
                      int) override {
    ++threshold_checks;
  }
  void SaveDeviceHistory(QorvVDevice&, const unsigned char*, unsigned) override {
    ++history_records;
  }

  long threshold_checks = 0;
  long history_records = 0;
};

class FrozenClockController : public NullController {
 private:
  plugin_access::DeviceClockHold clock_{
      boost::posix_time::ptime(boost::gregorian::date(2026, 1, 15), boost::posix_time::hours(12))};
};

}  // namespace halvex::bench
