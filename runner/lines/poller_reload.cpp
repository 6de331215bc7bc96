// A new site while the host runs: the slots of removed and replaced devices
// taken out, new ones created, and the lines arranged for the new ports
// without disturbing a device that stays, down to its place in the turns.

#include <algorithm>
#include <map>

#include "runner/lines/bus_turns.h"
#include "runner/lines/device_controller.h"
#include "runner/lines/poller.h"
#include "runner/lines/serial_line.h"
#include "runner/lines/serial_port.h"
#include "runner/plugin_access/serial_settings.h"
#include "sim/port_server.h"

namespace runner {
namespace {

using std::chrono::milliseconds;
using Steady = std::chrono::steady_clock;

bool Has(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

SiteChanges Poller::ApplySite(Site next) {
  SiteChanges changes = DiffSites(site_, next);
  if (!changes.refused.empty()) {
    events_.Add("reload refused: " + next.origin + ": " + changes.refused);
    return changes;
  }
  for (const std::string& name : changes.removed) TakeOut(name);
  for (const std::string& name : changes.replaced) TakeOut(name);
  std::map<std::string, const DeviceSettings*> by_name;
  for (const DeviceSettings& d : next.devices) by_name[d.name] = &d;
  for (auto& slot : slots_) {
    slot->settings = *by_name.at(slot->settings.name);  // the same, but for its port's place
    if (Has(changes.limits, slot->settings.name)) controller_->SetLimits(*slot);
  }
  const milliseconds old_timeout(site_.reply_timeout_ms);
  Site before = std::move(site_);
  site_ = std::move(next);
  const std::set<const DeviceSlot*> fresh = CreateAdded(changes);
  ArrangeLines(before, changes, old_timeout, fresh);
  events_.Add(changes.Summary());
  return changes;
}

void Poller::TakeOut(const std::string& name) {
  skipped_.erase(std::remove_if(skipped_.begin(), skipped_.end(),
                                [&](const auto& s) { return s.first == name; }),
                 skipped_.end());
  const auto found = std::find_if(slots_.begin(), slots_.end(),
                                  [&](const auto& slot) { return slot->settings.name == name; });
  if (found == slots_.end()) return;
  controller_->Detach(**found);
  slots_.erase(found);  // the device object and its capture go with it
}

std::set<const DeviceSlot*> Poller::CreateAdded(const SiteChanges& changes) {
  // A reader of its own: the writer thread is at work.
  std::unique_ptr<HistoryStore> reader;
  if (history_ && (!changes.added.empty() || !changes.replaced.empty())) {
    try {
      reader = HistoryStore::OpenReadOnly(site_.history_db);
      reader->SetBusyTimeout(100);
    } catch (const HistoryError& e) {
      events_.Add("history: last records of the added devices unreadable: " +
                  std::string(e.what()));
    }
  }
  std::set<const DeviceSlot*> fresh;
  std::map<std::string, std::size_t> order;
  for (const DeviceSettings& d : site_.devices) {
    order[d.name] = order.size();
    if (!Has(changes.added, d.name) && !Has(changes.replaced, d.name)) continue;
    try {
      if (const DeviceSlot* slot = CreateDevice(d, reader.get())) fresh.insert(slot);
    } catch (const std::exception& e) {  // e.g. its capture cannot be opened
      events_.Add("device " + d.name + ": cannot be added: " + e.what());
      skipped_.emplace_back(d.name, e.what());
    }
  }
  std::stable_sort(slots_.begin(), slots_.end(), [&](const auto& a, const auto& b) {
    return order.at(a->settings.name) < order.at(b->settings.name);
  });
  return fresh;
}

// A port kept as it was keeps its line, open or in its retry, and the turns
// of the devices that stay on it; the others are closed before any new line
// opens, so that a reopened serial device is free again.
void Poller::ArrangeLines(const Site& before, const SiteChanges& changes, milliseconds old_timeout,
                          const std::set<const DeviceSlot*>& fresh) {
  std::vector<std::unique_ptr<Line>> old = std::move(lines_);
  std::vector<std::unique_ptr<sim::PortServer>> old_simulators = std::move(simulators_);
  lines_.clear();
  simulators_.clear();
  simulators_.resize(site_.ports.size());
  const LineTiming timing{milliseconds(site_.reply_timeout_ms), options_.retry_first,
                          options_.retry_most};
  for (std::size_t i = 0; i < site_.ports.size(); ++i) {
    const PortSettings& port = site_.ports[i];
    std::size_t was = 0;
    while (was < old.size() && before.ports[was].name != port.name) ++was;
    std::unique_ptr<Line> line;
    // A simulated port that had no devices has no simulator to keep.
    const bool keep = was < old.size() && old[was] && !Has(changes.ports_reopened, port.name) &&
                      !(port.sim && !old_simulators[was]);
    if (keep) {
      line = std::move(old[was]);
      simulators_[i] = std::move(old_simulators[was]);
    }
    if (!line) {
      std::string path = port.path;
      if (port.sim && AnySeatedOn(i)) {
        try {
          simulators_[i] = sim::PortServer::CreatePty(sim::Bus(*port.sim));
          simulators_[i]->Start();
          path = simulators_[i]->Path();
        } catch (const std::exception& e) {
          simulators_[i].reset();
          events_.Add("port " + port.name + ": simulator: " + e.what());
        }
      }
      line = std::make_unique<Line>(port.name, path, std::vector<DeviceSlot*>{}, timing, events_,
                                    OpenSerialPort, [] { return Steady::now(); });
    }
    Reseat(*line, i, old_timeout, fresh);
    lines_.push_back(std::move(line));
  }
  old.clear();  // closes the ports of the lines not kept before their simulators stop
  for (auto& simulator : old_simulators)
    if (simulator) simulator->Stop();
  for (std::size_t i = 0; i < lines_.size(); ++i) BringUp(*lines_[i], i);
}

bool Poller::AnySeatedOn(std::size_t port) const {
  return std::any_of(slots_.begin(), slots_.end(),
                     [port](const auto& slot) { return slot->settings.port == port; });
}

// The line's devices in site order. One that stays keeps its waiting tick
// and, while it holds the line, its exchange; a new one gets its tick in
// the round under way.
void Poller::Reseat(Line& line, std::size_t port, milliseconds old_timeout,
                    const std::set<const DeviceSlot*>& fresh) {
  std::vector<DeviceSlot*> seats;
  for (auto& slot : slots_)
    if (slot->settings.port == port) seats.push_back(slot.get());
  BusTurns turns(seats.size(), milliseconds(site_.reply_timeout_ms));
  const std::vector<DeviceSlot*>& before = line.devices();
  for (std::size_t seat = 0; seat < seats.size(); ++seat) {
    DeviceSlot* slot = seats[seat];
    const auto was = std::find(before.begin(), before.end(), slot);
    if (fresh.count(slot) || was == before.end()) {
      if (line.up() && round_open_) turns.MarkDue(seat);
    } else {
      const std::size_t old_seat = static_cast<std::size_t>(was - before.begin());
      if (line.turns().Due(old_seat)) turns.MarkDue(seat);
      if (line.turns().holder() == old_seat)
        turns.Sent(seat, *line.turns().deadline() - old_timeout);
    }
    slot->seat = seat;
  }
  line.Reseat(std::move(seats), turns);
}

// A line without devices is closed; a new one opened; a kept one reopened
// only when its devices now want another speed.
void Poller::BringUp(Line& line, std::size_t port) {
  if (line.devices().empty()) {
    line.Close();
    if (simulators_[port]) simulators_[port]->Stop();
    simulators_[port].reset();
    return;
  }
  const int baud = plugin_access::BaudRate(*line.devices().front()->device);
  if (line.baud() == baud) return;  // up, or retried at its time, at this speed
  line.Close();
  line.Open(baud);
}

}  // namespace runner
