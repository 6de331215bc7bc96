#pragma once
// The provider the plug-in hands the host: it creates 30-cell battery
// strings ("halvex_30"). Holds no state.

#include "host/provider.h"

class Halvex30Provider : public QorvSPDeviceProvider {
 public:
  // A new, unconfigured Halvex30, owned by the caller and destroyed through
  // QorvVDevice's virtual destructor. The host still runs Init and
  // InitSetting before polling it.
  QorvSPDevice* create() const override;
};
