#include "runner/lines/poller.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "host/device_contract.h"
#include "runner/lines/bus_turns.h"
#include "runner/lines/device_call.h"
#include "runner/lines/device_controller.h"
#include "runner/lines/serial_line.h"
#include "runner/lines/serial_port.h"
#include "runner/plugin_access/plugin_library.h"
#include "runner/plugin_access/serial_settings.h"
#include "sim/port_server.h"

namespace runner {
namespace {

using std::chrono::milliseconds;
using Steady = std::chrono::steady_clock;

constexpr int kHistoryIoControl = qorv::kHistoryIntervalControl;

}  // namespace

Poller::Poller(Site site, PollerOptions options)
    : site_(std::move(site)),
      options_(std::move(options)),
      own_clock_(options_.clock ? nullptr : std::make_unique<WallClock>()),
      clock_(options_.clock ? *options_.clock : *own_clock_),
      events_(clock_, options_.event_sink) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
    throw PollerError(std::string("cannot make the wake-up pipe: ") + std::strerror(errno));
}

Poller::~Poller() {
  Stop();
  ::close(wake_[0]);
  ::close(wake_[1]);
}
void Poller::Start() {
  if (started_) return;
  Configure();
  StartSimulators();
  BuildLines();
  OpenLines();
  started_ = true;
  next_round_at_ = Steady::now();
}

void Poller::Configure() {
  if (configured_) return;
  if (options_.keep_history && !site_.history_db.empty())
    history_ =
        std::make_unique<HistoryWriter>(HistoryStore::Open(site_.history_db), options_.history);
  controller_ = std::make_shared<DeviceController>(
      clock_, events_, history_.get(),
      [this](DeviceSlot& slot, const unsigned char* data, unsigned len) {
        const std::size_t port = slot.settings.port;
        return port < lines_.size() ? lines_[port]->Write(slot.seat, data, len) : -1;
      });
  controller_->OnRound(options_.on_round_result);
  LoadPlugin();
  CreateDevices();
  configured_ = true;
}

std::string Poller::PluginPath() const {
  return site_.plugin.empty() ? options_.default_plugin : site_.plugin;
}

void Poller::LoadPlugin() { plugin_ = std::make_unique<qorv::PluginLibrary>(PluginPath()); }

void Poller::CreateDevices() {
  HistoryStore* store = history_ ? history_->store() : nullptr;  // the writer is idle yet
  for (const DeviceSettings& settings : site_.devices) CreateDevice(settings, store);
  if (slots_.empty()) throw PollerError(site_.origin + ": no device could be configured");
}

DeviceSlot* Poller::CreateDevice(const DeviceSettings& settings, HistoryStore* restore_from) {
  auto slot = std::make_unique<DeviceSlot>();
  slot->settings = settings;
  slot->alarms = AlarmBook(settings.limits);
  slot->health_alarms = HealthAlarms(settings.health);
  slot->cells.first_number = FirstCellNumber(settings.config);
  if (options_.capture) slot->recorder = options_.capture->Open(settings);
  slot->device = plugin_->CreateDevice();
  Json::Value host_setting(Json::objectValue);
  host_setting["address"] = settings.address;
  {
    DeviceCall call(*slot, *controller_, events_);
    slot->device->Init(controller_, settings.data_id, host_setting);
    call.Record([&](DeviceRecorder& r) { r.Create(settings.data_id, settings.address); });
  }
  std::optional<std::string> refused;
  {
    DeviceCall call(*slot, *controller_, events_);
    try {
      slot->device->InitSetting(settings.config);
    } catch (const std::exception& e) {
      refused = e.what();
    }
    call.Record([&](DeviceRecorder& r) { r.Configure(settings.config); });
  }
  if (refused) {
    events_.Add("device " + settings.name + " (data id " + std::to_string(settings.data_id) +
                "): configuration refused, device skipped: " + *refused);
    skipped_.emplace_back(settings.name, "configuration refused: " + *refused);
    return nullptr;
  }
  slot->cells.active = ConfiguredCells(settings.config, CellCountOf(slot->device->DeviceType()));
  slot->cells.count = slot->cells.active.empty() ? 0 : slot->cells.active.back() + 1;
  slot->alarms.SetCells(slot->cells.active);
  const auto minutes = static_cast<qorv::HistoryIntervalMinutes>(settings.save_interval_minutes);
  {
    DeviceCall call(*slot, *controller_, events_);
    int out_size = 0;
    slot->device->DeviceIoControl(kHistoryIoControl, &minutes, sizeof minutes, nullptr, 0,
                                  out_size);
    const auto* in = reinterpret_cast<const unsigned char*>(&minutes);
    call.Record([&](DeviceRecorder& r) {
      r.IoControl(kHistoryIoControl, {in, in + sizeof minutes});
    });
  }
  controller_->Attach(*slot);
  if (history_) {
    if (restore_from) Restore(*slot, *restore_from);
    HistoryJob job;  // what history and its CSV export know of the device
    job.kind = HistoryJob::Kind::kDevice;
    job.info = {settings.data_id, settings.name, slot->cells.count, slot->cells.first_number};
    history_->Add(std::move(job));
  }
  slots_.push_back(std::move(slot));
  return slots_.back().get();
}

void Poller::Restore(DeviceSlot& slot, HistoryStore& store) {
  const DeviceSettings& settings = slot.settings;
  std::optional<std::vector<unsigned char>> image;
  try {
    image = store.LastRecord(settings.data_id);
  } catch (const HistoryError& e) {
    events_.Add("device " + settings.name + ": last record from history unreadable: " + e.what());
  }
  if (!image) return;
  DeviceCall call(slot, *controller_, events_);
  const bool taken = slot.device->LoadFromCache(image->data(), static_cast<int>(image->size()));
  call.Record([&](DeviceRecorder& r) { r.Cache(*image); });
  events_.Add("device " + settings.name + ": last record from history " +
              (taken ? "restored" : "refused"));
}

// A simulated port's pseudo-terminal is made first, so that every line is
// then built and opened alike, from a path.
void Poller::StartSimulators() {
  simulators_.clear();
  simulators_.resize(site_.ports.size());
  for (std::size_t i = 0; i < site_.ports.size(); ++i) {
    const bool used = std::any_of(slots_.begin(), slots_.end(),
                                  [i](const auto& slot) { return slot->settings.port == i; });
    if (!site_.ports[i].sim || !used) continue;
    try {
      simulators_[i] = sim::PortServer::CreatePty(sim::Bus(*site_.ports[i].sim));
      simulators_[i]->Start();
    } catch (const std::exception& e) {
      throw PollerError("port " + site_.ports[i].name + ": simulator: " + e.what());
    }
  }
}

void Poller::BuildLines() {
  lines_.clear();
  const LineTiming timing{milliseconds(site_.reply_timeout_ms), options_.retry_first,
                          options_.retry_most};
  for (std::size_t i = 0; i < site_.ports.size(); ++i) {
    std::vector<DeviceSlot*> devices;
    for (auto& slot : slots_)
      if (slot->settings.port == i) {
        slot->seat = devices.size();
        devices.push_back(slot.get());
      }
    const std::string path = simulators_[i] ? simulators_[i]->Path() : site_.ports[i].path;
    lines_.push_back(std::make_unique<SerialLine>(site_.ports[i].name, path, std::move(devices),
                                                  timing, events_, OpenSerialPort,
                                                  [] { return Steady::now(); }));
  }
}

// A line runs at the speed of its first device; one that wants another
// speed is told of.
void Poller::OpenLines() {
  for (auto& line : lines_) {
    if (line->devices().empty()) continue;
    const int baud = plugin_access::BaudRate(*line->devices().front()->device);
    for (const DeviceSlot* slot : line->devices())
      if (plugin_access::BaudRate(*slot->device) != baud)
        events_.Add("port " + line->name() + ": " + slot->settings.name + " wants " +
                    std::to_string(plugin_access::BaudRate(*slot->device)) +
                    " bit/s; the line runs at " + std::to_string(baud));
    line->Open(baud);
  }
}

void Poller::Stop() {
  if (!configured_) return;
  configured_ = started_ = false;
  if (controller_) controller_->DetachAll();
  slots_.clear();
  plugin_.reset();
  if (history_) {
    history_->Stop();
    final_store_ = history_->State();
    history_.reset();
  }
  lines_.clear();  // closes the ports before their simulators stop
  for (auto& simulator : simulators_)
    if (simulator) simulator->Stop();
  simulators_.clear();
}

void Poller::RequestStop() {
  stop_requested_.store(true);
  Wake();
}

void Poller::Wake() {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
}

DeviceSlot* Poller::FindDevice(const std::string& name) const {
  for (const auto& slot : slots_)
    if (slot->settings.name == name) return slot.get();
  return nullptr;
}

std::string Poller::PortPath(std::size_t port) const {
  return port < lines_.size() ? lines_[port]->path() : std::string();
}

std::string Poller::PortTrouble(std::size_t port) const {
  return port < lines_.size() ? lines_[port]->down_why() : std::string();
}

bool Poller::PortOnline(std::size_t port) const {
  return port < lines_.size() && lines_[port]->up();
}

SiteView Poller::View() const {
  SiteView view;
  view.time = clock_.LocalTime();
  view.round = round_;
  for (const auto& line : lines_) view.ports.push_back({line->name(), line->path(), line->up()});
  for (const auto& slot : slots_) {
    const Line& line = *lines_.at(slot->settings.port);
    view.devices.push_back(Observe(*slot, line.name(), line.up(), view.time));
  }
  view.store = Store();
  view.events = events_.Recent(6);
  return view;
}

// --- the loop ---

HistoryStore* Poller::history() {
  if (!history_) return nullptr;
  history_->WaitIdle(std::chrono::seconds(5));
  return history_->store();
}

std::optional<StoreState> Poller::Store() const {
  return history_ ? std::optional<StoreState>(history_->State()) : final_store_;
}

bool Poller::QueueHistory(HistoryJob job) { return history_ && history_->Add(std::move(job)); }

// Logs each new store error once, once that writing works again, and each
// round in which rows were lost.

}  // namespace runner
