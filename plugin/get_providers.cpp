// The plug-in's one entry point. Loading the library creates nothing; each
// call builds a fresh provider that the host owns through the shared_ptr.

#include <memory>

#include "host/provider.h"
#include "plugin/halvex30_provider.h"

extern "C" __attribute__((visibility("default"))) ProviderList get_providers() {
  ProviderList providers;
  providers.push_back(std::make_shared<Halvex30Provider>());
  return providers;
}
