#include "runner/lines/host.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "host/device_contract.h"
#include "runner/lines/bus_turns.h"
#include "runner/lines/device_controller.h"
#include "runner/hosting/plugin_library.h"
#include "runner/hosting/serial_settings.h"
#include "runner/lines/serial_port.h"
#include "sim/port_server.h"

namespace runner {
namespace {

using std::chrono::milliseconds;
using Steady = std::chrono::steady_clock;

constexpr int kHistoryIoControl = qorv::kHistoryIntervalControl;

}  // namespace

// One serial line and the devices on it.
struct Host::Line {
  std::size_t index = 0;
  std::string path;                          // opened from; a simulator's pseudo-terminal
  std::unique_ptr<sim::PortServer> server;   // a simulated line's monitors
  std::unique_ptr<SerialPort> port;          // open while the line is up
  std::vector<DeviceSlot*> devices;          // in site order; seat = index here
  BusTurns turns{0, milliseconds(0)};
  int baud = 0;
  Steady::time_point retry_at{};
  milliseconds backoff{0};
  bool down_reported = false;
  std::string lost;                          // set by a failed write, handled after the call
  std::uint64_t stray_bytes = 0;             // bytes heard while nobody held the line

  bool up() const { return port && port->is_open(); }
};


Host::Host(Site site, HostOptions options)
    : site_(std::move(site)),
      options_(std::move(options)),
      own_clock_(options_.clock ? nullptr : std::make_unique<WallClock>()),
      clock_(options_.clock ? *options_.clock : *own_clock_),
      events_(clock_, options_.event_sink) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
    throw HostError(std::string("cannot make the wake-up pipe: ") + std::strerror(errno));
}

Host::~Host() {
  Stop();
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void Host::Start() {
  if (started_) return;
  if (options_.keep_history)
    history_ = std::make_unique<HistoryWriter>(HistoryStore::Open(site_.history_db),
                                               options_.history);
  controller_ = std::make_shared<DeviceController>(
      clock_, events_, history_.get(),
      [this](DeviceSlot& slot, const unsigned char* data, unsigned len) {
        return WriteLine(slot, data, len);
      });
  LoadPlugin();
  CreateDevices();
  StartSimulators();
  OpenLines();
  started_ = true;
  next_round_at_ = Steady::now();
}

void Host::LoadPlugin() {
  const std::string path = site_.plugin.empty() ? options_.default_plugin : site_.plugin;
  plugin_ = std::make_unique<qorv::PluginLibrary>(path);
}

void Host::CreateDevices() {
  for (const DeviceSettings& settings : site_.devices) CreateDevice(settings);
  if (slots_.empty()) throw HostError(site_.origin + ": no device could be configured");
}

void Host::CreateDevice(const DeviceSettings& settings) {
  auto slot = std::make_unique<DeviceSlot>();
  slot->settings = settings;
  slot->alarms = AlarmBook(settings.limits);
  slot->first_cell_number = FirstCellNumber(settings.config);
  slot->device = plugin_->CreateDevice();
  Json::Value host_setting(Json::objectValue);
  host_setting["address"] = settings.address;
  slot->device->Init(controller_, settings.data_id, host_setting);
  try {
    slot->device->InitSetting(settings.config);
  } catch (const std::exception& e) {
    events_.Add("device " + settings.name + " (data id " + std::to_string(settings.data_id) +
                "): configuration refused, device skipped: " + e.what());
    return;
  }
  slot->active_cells = ConfiguredCells(settings.config, CellCountOf(slot->device->DeviceType()));
  slot->cell_count = slot->active_cells.empty() ? 0 : slot->active_cells.back() + 1;
  slot->alarms.SetCells(slot->active_cells);
  const auto minutes = static_cast<qorv::HistoryIntervalMinutes>(settings.save_interval_minutes);
  int out_size = 0;
  slot->device->DeviceIoControl(kHistoryIoControl, &minutes, sizeof minutes, nullptr, 0, out_size);
  controller_->Attach(*slot);
  if (history_) {
    HistoryStore* store = history_->store();
    if (auto image = store ? store->LastRecord(settings.data_id) : std::nullopt) {
      const bool taken = slot->device->LoadFromCache(image->data(), static_cast<int>(image->size()));
      events_.Add("device " + settings.name + ": last record from history " +
                  (taken ? "restored" : "refused"));
    }
    HistoryJob job;  // what history and its CSV export know of the device
    job.kind = HistoryJob::Kind::kDevice;
    job.info = {settings.data_id, settings.name, slot->cell_count, slot->first_cell_number};
    history_->Add(std::move(job));
  }
  slots_.push_back(std::move(slot));
}

void Host::StartSimulators() {
  lines_.clear();
  for (std::size_t i = 0; i < site_.ports.size(); ++i) {
    auto line = std::make_unique<Line>();
    line->index = i;
    line->path = site_.ports[i].path;
    for (auto& slot : slots_)
      if (slot->settings.port == i) {
        slot->seat = line->devices.size();
        line->devices.push_back(slot.get());
      }
    line->turns = BusTurns(line->devices.size(), milliseconds(site_.reply_timeout_ms));
    if (site_.ports[i].sim && !line->devices.empty()) {
      try {
        line->server = sim::PortServer::CreatePty(sim::Bus(*site_.ports[i].sim));
        line->server->Start();
        line->path = line->server->Path();
      } catch (const std::exception& e) {
        throw HostError("port " + site_.ports[i].name + ": simulator: " + e.what());
      }
    }
    lines_.push_back(std::move(line));
  }
}

void Host::OpenLines() {
  const Steady::time_point now = Steady::now();
  for (auto& line : lines_) {
    if (line->devices.empty()) continue;
    line->baud = hosting::BaudRate(*line->devices.front()->device);
    for (const DeviceSlot* slot : line->devices)
      if (hosting::BaudRate(*slot->device) != line->baud)
        events_.Add("port " + site_.ports[line->index].name + ": " + slot->settings.name +
                    " wants " + std::to_string(hosting::BaudRate(*slot->device)) +
                    " bit/s; the line runs at " + std::to_string(line->baud));
    line->backoff = options_.retry_first;
    TryOpen(*line, now);
  }
}

std::string Host::DeviceNames(const Line& line) const {
  std::string names;
  for (const DeviceSlot* slot : line.devices) names += (names.empty() ? "" : ", ") + slot->settings.name;
  return names;
}

void Host::TryOpen(Line& line, Steady::time_point now) {
  auto port = std::make_unique<SerialPort>(line.path, line.baud);
  if (!port->is_open()) {
    LineLost(line, port->error(), now);
    return;
  }
  line.port = std::move(port);
  line.backoff = options_.retry_first;
  line.turns.Reset();
  if (round_open_) line.turns.MarkAllDue();
  if (line.down_reported)
    events_.Add("port " + site_.ports[line.index].name + ": " + line.path +
                " is back; online again: " + DeviceNames(line));
  line.down_reported = false;
}

// `why` is taken by value: callers pass `line.lost`, which is cleared here.
void Host::LineLost(Line& line, std::string why, Steady::time_point now) {
  line.port.reset();
  line.turns.Reset();
  line.lost.clear();
  line.retry_at = now + line.backoff;
  line.backoff = std::min(line.backoff * 2, options_.retry_most);
  if (line.down_reported) return;
  line.down_reported = true;
  events_.Add("port " + site_.ports[line.index].name + ": " + why + "; offline: " +
              DeviceNames(line) + "; retrying");
}

void Host::CheckLostLines(Steady::time_point now) {
  for (auto& line : lines_)
    if (!line->lost.empty()) LineLost(*line, line->lost, now);
}

int Host::WriteLine(DeviceSlot& slot, const unsigned char* data, unsigned len) {
  if (slot.settings.port >= lines_.size()) return -1;  // no line is open yet
  Line& line = *lines_[slot.settings.port];
  if (!line.up() || !line.lost.empty()) return -1;
  if (!line.port->Write(data, len)) {
    line.lost = line.port->error();
    return -1;
  }
  line.turns.Sent(slot.seat, Steady::now());
  return static_cast<int>(len);
}

void Host::Stop() {
  if (!started_) return;
  started_ = false;
  if (controller_) controller_->DetachAll();
  slots_.clear();
  plugin_.reset();
  if (history_) {
    history_->Stop();
    final_store_ = history_->State();
    history_.reset();
  }
  for (auto& line : lines_) {
    line->port.reset();
    if (line->server) line->server->Stop();
  }
  lines_.clear();
}

void Host::RequestStop() {
  stop_requested_.store(true);
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
}

DeviceSlot* Host::FindDevice(const std::string& name) const {
  for (const auto& slot : slots_)
    if (slot->settings.name == name) return slot.get();
  return nullptr;
}

std::string Host::PortPath(std::size_t port) const {
  return port < lines_.size() ? lines_[port]->path : std::string();
}

bool Host::PortOnline(std::size_t port) const {
  return port < lines_.size() && lines_[port]->up();
}

HostView Host::View() const {
  HostView view;
  view.time = clock_.LocalTime();
  view.round = round_;
  for (const auto& line : lines_)
    view.ports.push_back({site_.ports[line->index].name, line->path, line->up()});
  for (const auto& slot : slots_) {
    const Line& line = *lines_.at(slot->settings.port);
    view.devices.push_back(
        Observe(*slot, site_.ports[line.index].name, line.up(), view.time));
  }
  view.store = Store();
  view.events = events_.Recent(6);
  return view;
}

// --- the loop ---

void Host::Run(unsigned rounds, const std::function<void(const RoundReport&)>& on_round) {
  on_round_ = on_round;
  const unsigned goal = rounds_reported_ + rounds;
  while (RunOnce(milliseconds(500)))
    if (rounds != 0 && rounds_reported_ >= goal) break;
  on_round_ = nullptr;
}

bool Host::RunOnce(milliseconds max_wait) {
  if (!started_ || stop_requested_.load()) return false;
  Steady::time_point now = Steady::now();
  BeginRoundIfDue(now);
  ExpireTurns(now);
  RunTicks(now);
  EndRoundIfIdle();

  std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
  std::vector<Line*> polled;
  for (auto& line : lines_)
    if (line->up()) {
      fds.push_back({line->port->fd(), POLLIN, 0});
      polled.push_back(line.get());
    }
  const int ready = ::poll(fds.data(), fds.size(), WaitMs(now, max_wait));
  if (ready < 0 && errno != EINTR) throw HostError(std::string("poll: ") + std::strerror(errno));
  now = Steady::now();
  if (ready > 0) {
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (::read(wake_[0], drain, sizeof drain) > 0) {
      }
    }
    for (std::size_t i = 0; i < polled.size(); ++i)
      if (fds[i + 1].revents) Receive(*polled[i], fds[i + 1].revents, now);
  }
  CheckLostLines(now);
  RunTicks(now);
  EndRoundIfIdle();
  return !stop_requested_.load();
}

void Host::BeginRoundIfDue(Steady::time_point now) {
  for (auto& line : lines_)
    if (!line->up() && !line->devices.empty() && now >= line->retry_at) TryOpen(*line, now);
  if (now < next_round_at_) return;
  if (round_open_) ReportRound();
  ++round_;
  round_open_ = true;
  const auto period = std::chrono::duration_cast<Steady::duration>(
      std::chrono::duration<double>(site_.poll_period_s));
  next_round_at_ += period;
  if (next_round_at_ <= now) next_round_at_ = now + period;  // fell behind: no burst of ticks
  for (auto& line : lines_)
    if (line->up()) line->turns.MarkAllDue();
}

void Host::EndRoundIfIdle() {
  if (!round_open_) return;
  for (const auto& line : lines_)
    if (line->up() && !line->turns.Idle()) return;
  ReportRound();
}

// Tells once when a device's data goes stale or is refused, and once when
// it is fresh again; a device that never had data is no news.
void Host::NoteDataStates() {
  for (auto& slot : slots_) {
    std::string text;
    const DataState state = ProbeData(*slot->device, text);
    if (state == DataState::kNotReady) continue;
    const bool fresh = state == DataState::kFresh;
    const bool news = slot->data_fresh ? *slot->data_fresh != fresh : !fresh;
    slot->data_fresh = fresh;
    if (!news) continue;
    events_.Add("device " + slot->settings.name + ": " +
                (fresh ? std::string("fresh data again")
                       : (state == DataState::kStale ? "data stale: " : "data refused: ") + text));
  }
}

HistoryStore* Host::history() {
  if (!history_) return nullptr;
  history_->WaitIdle(std::chrono::seconds(5));
  return history_->store();
}

std::optional<StoreState> Host::Store() const {
  return history_ ? std::optional<StoreState>(history_->State()) : final_store_;
}

// Logs each new store error once, once that writing works again, and each
// round in which rows were lost.
void Host::NoteStoreState() {
  if (!history_) return;
  const StoreState state = history_->State();
  if (state.failing && state.last_error != store_error_told_)
    events_.Add("history: " + state.last_error + "; " + std::to_string(state.pending) +
                " rows pending, retrying");
  else if (!state.failing && store_failing_told_)
    events_.Add("history: writing again");
  else if (!state.failing && state.last_error != store_error_told_)
    events_.Add("history: " + state.last_error);
  if (state.lost > store_lost_told_)
    events_.Add("history: rows lost so far: " + std::to_string(state.lost));
  store_error_told_ = state.last_error;
  store_failing_told_ = state.failing;
  store_lost_told_ = state.lost;
}

void Host::ReportRound() {
  round_open_ = false;
  ++rounds_reported_;
  NoteDataStates();
  NoteStoreState();
  const RoundReport report{round_, controller_->TakePublished()};
  if (on_round_) on_round_(report);
}

void Host::ExpireTurns(Steady::time_point now) {
  for (auto& line : lines_) {
    if (!line->up()) continue;
    if (auto seat = line->turns.Expire(now)) line->devices[*seat]->link.TimedOut();
  }
}

void Host::RunTicks(Steady::time_point now) {
  for (auto& line : lines_) {
    while (line->up() && line->lost.empty()) {
      const std::optional<std::size_t> seat = line->turns.NextTick();
      if (!seat) break;
      Tick(*line, *line->devices[*seat]);
    }
  }
  CheckLostLines(now);
}

void Host::Tick(Line& line, DeviceSlot& slot) {
  line.port->DiscardInput();  // a late reply to someone else must not reach this device
  try {
    slot.device->RefreshStatus();
  } catch (const std::exception& e) {
    events_.Add("device " + slot.settings.name + ": poll tick failed: " + e.what());
  }
}

void Host::Receive(Line& line, short revents, Steady::time_point now) {
  std::vector<unsigned char> bytes;
  const SerialPort::ReadStatus status = line.port->Read(bytes);
  if (!bytes.empty()) {
    if (const std::optional<std::size_t> seat = line.turns.holder()) {
      line.turns.Heard(now);
      Deliver(line, *line.devices[*seat], bytes);
    } else {
      line.stray_bytes += bytes.size();
    }
  }
  if (status == SerialPort::ReadStatus::kGone)
    line.lost = line.port ? line.port->error() : "line gone";
  else if (bytes.empty() && (revents & (POLLHUP | POLLERR | POLLNVAL)))
    line.lost = line.path + ": line hung up";
}

void Host::Deliver(Line& line, DeviceSlot& slot, std::vector<unsigned char>& bytes) {
  slot.link.BeforeProcess();
  int result = 0;
  try {
    result = slot.device->process(bytes.data(), static_cast<unsigned>(bytes.size()));
  } catch (const std::exception& e) {
    events_.Add("device " + slot.settings.name + ": reply handling failed: " + e.what());
  }
  slot.link.AfterProcess(result);
  if (result == 0 && line.turns.holder() == slot.seat) line.turns.Release();
}

int Host::WaitMs(Steady::time_point now, milliseconds max_wait) const {
  Steady::time_point until = std::min(now + max_wait, next_round_at_);
  for (const auto& line : lines_) {
    if (line->devices.empty()) continue;
    if (!line->up()) {
      until = std::min(until, line->retry_at);
    } else if (auto deadline = line->turns.deadline()) {
      until = std::min(until, *deadline);
    } else if (line->turns.AnyDue()) {
      return 0;
    }
  }
  if (until <= now) return 0;
  return static_cast<int>(
      std::chrono::duration_cast<milliseconds>(until - now + std::chrono::microseconds(999)).count());
}

}  // namespace runner
