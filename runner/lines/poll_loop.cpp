// The poll loop: rounds begin when due, each line's bus turn ticks its next
// device, replies are delivered, and a finished round is reported.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "runner/lines/bus_turns.h"
#include "runner/lines/device_call.h"
#include "runner/lines/device_controller.h"
#include "runner/lines/poller.h"
#include "runner/lines/serial_line.h"

namespace runner {
namespace {

using std::chrono::milliseconds;
using Steady = std::chrono::steady_clock;

}  // namespace

void Poller::Run(unsigned rounds, const std::function<void(const RoundReport&)>& on_round) {
  on_round_ = on_round;
  const unsigned goal = rounds_reported_ + rounds;
  while (RunOnce(options_.longest_wait))
    if (rounds != 0 && rounds_reported_ >= goal) break;
  on_round_ = nullptr;
}

bool Poller::RunOnce(milliseconds max_wait) {
  if (!started_ || stop_requested_.load()) return false;
  if (options_.on_wake) options_.on_wake();
  Steady::time_point now = Steady::now();
  BeginRoundIfDue(now);
  ExpireTurns(now);
  RunTicks();
  EndRoundIfIdle();

  std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
  std::vector<Line*> polled;
  for (auto& line : lines_)
    if (line->up()) {
      fds.push_back({line->fd(), POLLIN, 0});
      polled.push_back(line.get());
    }
  const int ready = ::poll(fds.data(), fds.size(), WaitMs(now, max_wait));
  if (ready < 0 && errno != EINTR) throw PollerError(std::string("poll: ") + std::strerror(errno));
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
  CheckLostLines();
  RunTicks();
  EndRoundIfIdle();
  return !stop_requested_.load();
}

void Poller::BeginRoundIfDue(Steady::time_point now) {
  for (auto& line : lines_)
    if (line->RetryDue(now) && line->TryOpen() && round_open_) line->turns().MarkAllDue();
  if (now < next_round_at_) return;
  if (round_open_) ReportRound();
  ++round_;
  round_open_ = true;
  const auto period = std::chrono::duration_cast<Steady::duration>(
      std::chrono::duration<double>(site_.poll_period_s));
  next_round_at_ += period;
  if (next_round_at_ <= now) next_round_at_ = now + period;  // fell behind: no burst of ticks
  for (auto& line : lines_)
    if (line->up()) line->turns().MarkAllDue();
}

void Poller::EndRoundIfIdle() {
  if (!round_open_) return;
  for (const auto& line : lines_)
    if (line->up() && !line->turns().Idle()) return;
  ReportRound();
}

// Tells once when a device's data goes stale or is refused, and once when
// it is fresh again; a device that never had data is no news.

void Poller::NoteDataStates() {
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

void Poller::NoteStoreState() {
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

void Poller::ReportRound() {
  round_open_ = false;
  ++rounds_reported_;
  NoteDataStates();
  NoteStoreState();
  const RoundReport report{round_, controller_->TakePublished()};
  if (on_round_) on_round_(report);
}

void Poller::ExpireTurns(Steady::time_point now) {
  for (auto& line : lines_) {
    if (!line->up()) continue;
    if (auto seat = line->turns().Expire(now)) line->devices()[*seat]->link.TimedOut();
  }
}

void Poller::RunTicks() {
  for (auto& line : lines_) {
    while (line->usable()) {
      const std::optional<std::size_t> seat = line->turns().NextTick();
      if (!seat) break;
      Tick(*line, *line->devices()[*seat]);
    }
  }
  CheckLostLines();
}

void Poller::Tick(Line& line, DeviceSlot& slot) {
  line.DiscardInput();  // a late reply to someone else must not reach this device
  DeviceCall call(slot, *controller_, events_);
  try {
    slot.device->RefreshStatus();
  } catch (const std::exception& e) {
    events_.Add("device " + slot.settings.name + ": poll tick failed: " + e.what());
  }
  call.Record([](DeviceRecorder& r) { r.Tick(); });
}

void Poller::Receive(Line& line, short revents, Steady::time_point now) {
  std::vector<unsigned char> bytes;
  line.Read(bytes, (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
  if (bytes.empty()) return;
  if (const std::optional<std::size_t> seat = line.turns().holder()) {
    line.turns().Heard(now);
    Deliver(line, *line.devices()[*seat], bytes);
  } else {
    line.CountStray(bytes.size());
  }
}

void Poller::Deliver(Line& line, DeviceSlot& slot, std::vector<unsigned char>& bytes) {
  slot.link.BeforeProcess();
  int result = 0;
  {
    DeviceCall call(slot, *controller_, events_);
    const std::vector<unsigned char> received =
        slot.recorder ? bytes : std::vector<unsigned char>();
    try {
      result = slot.device->process(bytes.data(), static_cast<unsigned>(bytes.size()));
    } catch (const std::exception& e) {
      events_.Add("device " + slot.settings.name + ": reply handling failed: " + e.what());
    }
    call.Record([&](DeviceRecorder& r) { r.Receive(received, result); });
  }
  slot.link.AfterProcess(result);
  if (result == 0 && line.turns().holder() == slot.seat) line.turns().Release();
}

void Poller::CheckLostLines() {
  for (auto& line : lines_) line->CheckLost();
}

int Poller::WaitMs(Steady::time_point now, milliseconds max_wait) const {
  Steady::time_point until = std::min(now + max_wait, next_round_at_);
  for (const auto& line : lines_) {
    if (line->devices().empty()) continue;
    if (!line->up()) {
      until = std::min(until, line->retry_at());
    } else if (auto deadline = line->turns().deadline()) {
      until = std::min(until, *deadline);
    } else if (line->turns().AnyDue()) {
      return 0;
    }
  }
  if (until <= now) return 0;
  return static_cast<int>(
      std::chrono::duration_cast<milliseconds>(until - now + std::chrono::microseconds(999))
          .count());
}

}  // namespace runner
