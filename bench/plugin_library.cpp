#include "bench/plugin_library.h"

#include <dlfcn.h>

#include <stdexcept>

namespace halvex::bench {
namespace {

std::string DlError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown dlerror";
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw std::runtime_error("dlopen " + path + ": " + DlError());
  auto get_providers = reinterpret_cast<GetProvidersFn>(dlsym(handle_, kGetProvidersSymbol));
  if (get_providers == nullptr) {
    const std::string error = DlError();
    dlclose(handle_);
    throw std::runtime_error(path + ": " + error);
  }
  for (const auto& provider : get_providers()) {
    provider_ = std::dynamic_pointer_cast<QorvSPDeviceProvider>(provider);
    if (provider_) break;
  }
  if (!provider_) {
    dlclose(handle_);
    throw std::runtime_error(path + ": no serial-device provider");
  }
}

PluginLibrary::~PluginLibrary() {
  provider_.reset();  // its code lives in the library
  dlclose(handle_);
}

}  // namespace halvex::bench
