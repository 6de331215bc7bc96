#pragma once
// Device providers: what a plug-in's get_providers hands the host.
//
//   extern "C" std::vector<std::shared_ptr<Provider>> get_providers();
//
// The host keeps each provider in a std::shared_ptr as long as it needs it,
// picks the kinds it knows (QorvSPDeviceProvider for serial devices) and asks
// them to create devices. A created device belongs to the caller, who
// destroys it through QorvVDevice's virtual destructor before unloading the
// plug-in. Constructors and destructors are inline: every plug-in carries
// its own copies, so host and plug-ins must agree on this layout and on the
// slot order (destructors, then create).

#include <memory>
#include <vector>

#include "host/qorv_spdevice.h"
#include "host/visibility.h"

class QORV_API Provider {
 public:
  Provider() = default;
  virtual ~Provider() {}
};

class QORV_API QorvSPDeviceProvider : public Provider {
 public:
  QorvSPDeviceProvider() = default;
  ~QorvSPDeviceProvider() override {}
  // A new, unconfigured serial device, owned by the caller.
  virtual QorvSPDevice* create() const = 0;
};
