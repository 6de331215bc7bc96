#pragma once
// The plug-in loaded the way the host loads it: dlopen, get_providers, the
// serial-device provider out of the list. Devices made by Provider() must
// be destroyed before this object, which closes the library.

#include <memory>
#include <string>

#include "host/provider.h"

namespace halvex::bench {

class PluginLibrary {
 public:
  // Throws std::runtime_error with dlerror()'s text, or when the library
  // hands out no serial-device provider.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const QorvSPDeviceProvider& Provider() const { return *provider_; }

 private:
  void* handle_ = nullptr;
  std::shared_ptr<QorvSPDeviceProvider> provider_;
};

}  // namespace halvex::bench
