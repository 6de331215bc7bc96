#include "runner/plugin_access/plugin_library.h"

#include <dlfcn.h>

namespace qorv {
namespace {

std::string DlError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown dynamic loader error";
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw PluginError("cannot load plug-in: " + DlError());  // names the path
  auto get_providers = reinterpret_cast<GetProvidersFn>(dlsym(handle_, kGetProvidersSymbol));
  if (get_providers == nullptr) {
    const std::string why = DlError();
    dlclose(handle_);
    throw PluginError("plug-in " + path + " has no " + kGetProvidersSymbol + ": " + why);
  }
  providers_ = get_providers();
  for (const auto& provider : providers_) {
    serial_provider_ = std::dynamic_pointer_cast<QorvSPDeviceProvider>(provider);
    if (serial_provider_) return;
  }
  const std::size_t offered = providers_.size();
  providers_.clear();
  dlclose(handle_);
  throw PluginError("plug-in " + path + " offers no serial-device provider (" +
                    std::to_string(offered) + " providers)");
}

PluginLibrary::~PluginLibrary() {
  serial_provider_.reset();
  providers_.clear();
  dlclose(handle_);
}

std::unique_ptr<QorvSPDevice> PluginLibrary::CreateDevice() const {
  std::unique_ptr<QorvSPDevice> device(serial_provider_->create());
  if (!device) throw PluginError("plug-in " + path_ + ": the provider created no device");
  return device;
}

}  // namespace qorv
