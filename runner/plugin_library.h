#pragma once
// A device plug-in loaded into the host process.
//
//   runner::PluginLibrary lib("halvex_30.so");             // throws PluginError
//   auto provider = lib.SerialProvider();
//   std::shared_ptr<QorvSPDevice> device = runner::CreateDevice(*provider);
//
// The plug-in finds the host framework's symbols in this process (the
// executable links qorv_host), so it is opened with local symbols. Every
// device it made must be destroyed, and every provider released, before the
// library is closed: their code and vtables live in it.

#include <memory>
#include <stdexcept>
#include <string>

#include "host/provider.h"
#include "host/qorv_spdevice.h"

namespace runner {

class PluginError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PluginLibrary {
 public:
  // dlopen()s `path`; on failure the message holds dlerror().
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();  // dlclose()
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Calls get_providers and keeps the serial-device provider out of the
  // list. Throws PluginError when the symbol or such a provider is missing.
  std::shared_ptr<QorvSPDeviceProvider> SerialProvider();

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
};

// A new device from `provider`, owned by the returned pointer and destroyed
// through QorvVDevice's virtual destructor.
std::shared_ptr<QorvSPDevice> CreateDevice(const QorvSPDeviceProvider& provider);

}  // namespace runner
