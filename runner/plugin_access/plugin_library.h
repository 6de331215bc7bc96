#pragma once
// A device plug-in loaded into a host process, the way the host loads it:
//
//   qorv::PluginLibrary plugin("halvex_30.so");   // throws qorv::PluginError
//   std::unique_ptr<QorvSPDevice> device = plugin.CreateDevice();
//
// The plug-in finds the host framework's symbols in this process (which
// links qorv_host), so it is opened with local symbols and resolved at once:
// a missing host symbol is reported here, not in the middle of a round.
// Every device it made must be destroyed before the PluginLibrary, whose
// destructor releases the providers and unloads the library: their code and
// vtables live in it.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/provider.h"
#include "host/qorv_spdevice.h"

namespace qorv {

// What a plug-in's one exported symbol returns, and its signature.
using ProviderList = std::vector<std::shared_ptr<Provider>>;
using GetProvidersFn = ProviderList (*)();
constexpr const char* kGetProvidersSymbol = "get_providers";

// The plug-in could not be loaded or offers no serial-device provider.
class PluginError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PluginLibrary {
 public:
  // dlopen()s `path`, calls get_providers and keeps the serial-device
  // provider. Throws PluginError naming the path and dlerror()'s text.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const std::string& path() const { return path_; }
  const QorvSPDeviceProvider& SerialProvider() const { return *serial_provider_; }
  // A new, unconfigured device owned by the caller; destroyed through
  // QorvVDevice's virtual destructor. Throws PluginError if none is made.
  std::unique_ptr<QorvSPDevice> CreateDevice() const;

 private:
  std::string path_;
  void* handle_ = nullptr;
  ProviderList providers_;
  std::shared_ptr<QorvSPDeviceProvider> serial_provider_;
};

}  // namespace qorv
