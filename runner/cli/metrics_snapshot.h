#pragma once
// The metrics endpoint's copy of what the host knows: the site view of one
// round, as the JSON line of that round says it.

#include "runner/lines/site_view.h"
#include "runner/metrics/site_metrics.h"

namespace runner {

metrics::SiteMetrics MetricsSnapshot(const SiteView& view);

}  // namespace runner
