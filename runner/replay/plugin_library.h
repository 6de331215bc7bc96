#pragma once
// The plug-in, loaded the way the host loads it: dlopen, get_providers, and
// the serial-device provider out of the list.
//
// Lifetime: every device made by CreateDevice must be destroyed before the
// PluginLibrary, whose destructor releases the providers and unloads the
// library (their code lives in it).

#include <memory>
#include <stdexcept>
#include <string>

#include "host/provider.h"
#include "host/qorv_spdevice.h"

namespace halvex::replay {

// The plug-in could not be loaded or offers no serial-device provider.
class PluginError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PluginLibrary {
 public:
  // Loads the library at `path`. Throws PluginError with dlerror()'s text.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // A new, unconfigured device from the serial-device provider.
  std::unique_ptr<QorvSPDevice> CreateDevice() const;

 private:
  void* handle_ = nullptr;
  ProviderList providers_;
  std::shared_ptr<QorvSPDeviceProvider> serial_provider_;
};

}  // namespace halvex::replay
