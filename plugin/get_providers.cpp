// The plug-in's one entry point. Loading the library creates nothing; each
// call builds a fresh provider that the host owns through the shared_ptr.

#include <memory>
#include <vector>

#include "host/provider.h"
#include "plugin/halvex30_provider.h"

extern "C" __attribute__((visibility("default"))) std::vector<std::shared_ptr<Provider>>
get_providers() {
  std::vector<std::shared_ptr<Provider>> providers;
  providers.push_back(std::make_shared<Halvex30Provider>());
  return providers;
}
