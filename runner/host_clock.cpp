#include "runner/host_clock.h"

namespace runner {

boost::posix_time::ptime WallClock::LocalTime() const {
  return boost::posix_time::second_clock::local_time();
}

ManualHostClock::ManualHostClock(boost::posix_time::ptime start) : device_clock_(start) {}

}  // namespace runner
