#include "plugin/halvex30_provider.h"

#include "celldata/halvex30.h"

QorvSPDevice* Halvex30Provider::create() const { return new Halvex30(); }
