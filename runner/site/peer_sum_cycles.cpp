#include "runner/site/peer_sum_cycles.h"

#include <algorithm>
#include <map>

namespace runner {
namespace {

enum class Mark { kNew, kOnPath, kDone };

struct Search {
  const std::vector<DeviceSettings>& devices;
  std::map<unsigned, std::size_t> by_id;
  std::vector<Mark> marks;
  std::vector<std::size_t> path;

  // Depth-first from `at`; the cycle when one closes, else empty.
  std::vector<std::size_t> Visit(std::size_t at) {
    marks[at] = Mark::kOnPath;
    path.push_back(at);
    for (unsigned id : devices[at].peer_ids) {
      auto peer = by_id.find(id);
      if (peer == by_id.end()) continue;
      const std::size_t next = peer->second;
      if (marks[next] == Mark::kOnPath) {
        std::vector<std::size_t> cycle(std::find(path.begin(), path.end(), next), path.end());
        cycle.push_back(next);
        return cycle;
      }
      if (marks[next] == Mark::kNew) {
        std::vector<std::size_t> cycle = Visit(next);
        if (!cycle.empty()) return cycle;
      }
    }
    path.pop_back();
    marks[at] = Mark::kDone;
    return {};
  }
};

std::string Name(const DeviceSettings& d) {
  return "'" + d.name + "' (data id " + std::to_string(d.data_id) + ")";
}

}  // namespace

std::vector<std::size_t> FindPeerCycle(const std::vector<DeviceSettings>& devices) {
  Search search{devices, {}, std::vector<Mark>(devices.size(), Mark::kNew), {}};
  for (std::size_t i = 0; i < devices.size(); ++i) search.by_id[devices[i].data_id] = i;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (search.marks[i] != Mark::kNew) continue;
    std::vector<std::size_t> cycle = search.Visit(i);
    if (!cycle.empty()) return cycle;
  }
  return {};
}

std::string DescribePeerCycle(const std::vector<DeviceSettings>& devices,
                              const std::vector<std::size_t>& cycle) {
  if (cycle.size() == 2) return Name(devices[cycle[0]]) + " adds its own group voltage";
  std::string text = Name(devices[cycle[0]]);
  for (std::size_t i = 1; i < cycle.size(); ++i)
    text += (i == 1 ? " adds " : ", which adds ") + Name(devices[cycle[i]]);
  return text;
}

}  // namespace runner
