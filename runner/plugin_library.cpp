#include "runner/plugin_library.h"

#include <dlfcn.h>

namespace runner {

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  dlerror();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    throw PluginError("cannot load plug-in: " + std::string(why ? why : path));
  }
}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

std::shared_ptr<QorvSPDeviceProvider> PluginLibrary::SerialProvider() {
  dlerror();
  void* symbol = dlsym(handle_, kGetProvidersSymbol);
  if (symbol == nullptr) {
    const char* why = dlerror();
    throw PluginError(path_ + ": no " + kGetProvidersSymbol + ": " + (why ? why : "null symbol"));
  }
  const ProviderList providers = reinterpret_cast<GetProvidersFn>(symbol)();
  for (const std::shared_ptr<Provider>& provider : providers)
    if (auto serial = std::dynamic_pointer_cast<QorvSPDeviceProvider>(provider)) return serial;
  throw PluginError(path_ + ": get_providers offers no serial-device provider (" +
                    std::to_string(providers.size()) + " providers)");
}

std::shared_ptr<QorvSPDevice> CreateDevice(const QorvSPDeviceProvider& provider) {
  QorvSPDevice* device = provider.create();
  if (device == nullptr) throw PluginError("the provider created no device");
  return std::shared_ptr<QorvSPDevice>(device, [](QorvSPDevice* d) {
    delete static_cast<QorvVDevice*>(d);
  });
}

}  // namespace runner
