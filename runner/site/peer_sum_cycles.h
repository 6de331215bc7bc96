#pragma once
// Peer sums: a device may add other devices' "group_voltage" to its own
// (appSetting.group_voltage lists their data ids), so one long string can
// be watched by several monitors. A sum must never feed back: if A adds B
// and B adds A, each round adds the other's previous total and the string
// voltage grows without bound. A site whose peer lists form a cycle is
// refused.

#include <cstddef>
#include <string>
#include <vector>

#include "runner/site/site.h"

namespace runner {

// Device indices around one cycle, the first repeated at the end
// ([0, 1, 0] for two devices adding each other, [2, 2] for a device that
// adds itself); empty when the peer lists hold no cycle. Ids that name no
// device are skipped.
std::vector<std::size_t> FindPeerCycle(const std::vector<DeviceSettings>& devices);

// "'A' (data id 1) adds 'B' (data id 2), which adds 'A' (data id 1)".
std::string DescribePeerCycle(const std::vector<DeviceSettings>& devices,
                              const std::vector<std::size_t>& cycle);

}  // namespace runner
