#include "runner/replay/plugin_library.h"

#include <dlfcn.h>

namespace halvex::replay {
namespace {

std::string DlError() {
  const char* text = dlerror();
  return text ? text : "unknown dlopen error";
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) {
  // RTLD_NOW: a missing host symbol is reported here, not in the middle of
  // a round. The host layer's symbols come from this process.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw PluginError("cannot load plug-in: " + DlError());
  auto get_providers = reinterpret_cast<GetProvidersFn>(dlsym(handle_, kGetProvidersSymbol));
  if (!get_providers) {
    const std::string problem = DlError();
    dlclose(handle_);
    throw PluginError("plug-in " + path + " has no " + kGetProvidersSymbol + ": " + problem);
  }
  providers_ = get_providers();
  for (const auto& provider : providers_)
    if (auto serial = std::dynamic_pointer_cast<QorvSPDeviceProvider>(provider)) {
      serial_provider_ = serial;
      return;
    }
  providers_.clear();
  dlclose(handle_);
  throw PluginError("plug-in " + path + " offers no serial-device provider");
}

PluginLibrary::~PluginLibrary() {
  serial_provider_.reset();
  providers_.clear();
  dlclose(handle_);
}

std::unique_ptr<QorvSPDevice> PluginLibrary::CreateDevice() const {
  return std::unique_ptr<QorvSPDevice>(serial_provider_->create());
}

}  // namespace halvex::replay
