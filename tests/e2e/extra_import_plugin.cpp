// A plug-in that imports one host function the framework interface does not
// declare: the device clock accessor an earlier host layer had. Loading it
// must fail with the loader's error, never bind lazily and die in a round.
#include <memory>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

#include "host/provider.h"

// QorvVDevice::LocalTime() const, named by its mangled symbol.
__attribute__((visibility("default"))) boost::posix_time::ptime MissingHostClock(
    const QorvVDevice* device) __asm__("_ZNK11QorvVDevice9LocalTimeEv");

extern "C" __attribute__((visibility("default"))) std::vector<std::shared_ptr<Provider>>
get_providers() {
  if (MissingHostClock(nullptr).is_special()) return {};
  return {std::make_shared<Provider>()};
}
