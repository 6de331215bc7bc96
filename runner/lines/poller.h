#pragma once
// The poller: loads the plug-in, creates and configures the site's
// devices, owns the serial lines and the poll clock, and hands every chunk
// received to the device whose exchange is under way.
//
//   runner::Poller host(runner::LoadSiteFile("bench.json"));
//   host.Start();                                   // qorv::PluginError, HistoryError, PollerError
//   host.Run(20, [&](const runner::RoundReport& r) { ... });
//   host.Stop();                                    // also done by the destructor
//
// One thread does everything but writing history: ticks, reads, device
// calls, queries; history rows and alarms go to a writer thread through a
// bounded queue (history_writer.h), so the disk never holds up a round. The
// loop waits in poll() on the lines and a wake-up pipe, so RequestStop()
// (safe in a signal handler) ends it promptly.
//
// A round is one poll period: every device on a line that is up gets one
// tick, in turn (see bus_turns.h). The round is reported once every line is
// idle again, or when the next period begins, whichever comes first.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "runner/history/history_store.h"
#include "runner/history/history_writer.h"
#include "runner/lines/device_recorder.h"
#include "runner/lines/device_slot.h"
#include "runner/lines/event_log.h"
#include "runner/lines/site_reload.h"
#include "runner/lines/site_view.h"
#include "runner/site/site.h"
#include "runner/time/host_clock.h"

namespace qorv {
class PluginLibrary;
}  // namespace qorv
namespace sim {
class PortServer;
}  // namespace sim

namespace runner {

class SerialLine;

class PollerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PollerOptions {
  const HostClock* clock = nullptr;             // null: the wall clock
  EventLog::Sink event_sink;                    // host messages, besides the view
  std::string default_plugin;                   // used when the site names none
  bool keep_history = true;                     // false: no database at all
  HistoryWriterOptions history;                 // the writer's queue, retries and final flush
  std::chrono::milliseconds retry_first{1000};  // a lost line is retried after this,
  std::chrono::milliseconds retry_most{30000};  // doubling up to this
  std::shared_ptr<CaptureSink> capture;         // null: no capture of the devices
  std::function<void(const RoundResult&)> on_round_result;  // every finished round
  // Each turn of Run()'s loop, on the poll thread, which wakes at least
  // every `longest_wait` (the service watchdog pings from here).
  std::function<void()> on_wake;
  std::chrono::milliseconds longest_wait{500};
};

struct RoundReport {
  unsigned round = 0;         // 1-based
  std::size_t published = 0;  // records published during it
};

class Poller {
 public:
  explicit Poller(Site site, PollerOptions options = {});
  ~Poller();
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  // Loads the plug-in; creates, configures and restores each device (a
  // device whose configuration is refused is reported and skipped); starts
  // simulated monitors; opens the lines. A line that cannot be opened is
  // reported and retried while the others run.
  void Start();
  // The first half of Start(): loads the plug-in, creates and configures
  // the devices, and opens no line (qorv-host check stops here).
  void Configure();

  // One turn of the loop: starts a round when its period is due, runs
  // waiting ticks, waits up to `max_wait` for bytes and hands them over.
  // False once a stop was requested.
  bool RunOnce(std::chrono::milliseconds max_wait);

  // Loops until a stop is requested or `rounds` rounds were reported (0:
  // no limit), calling `on_round` after each round.
  void Run(unsigned rounds, const std::function<void(const RoundReport&)>& on_round);

  // Ends Run() soon; safe from a signal handler and from other threads.
  void RequestStop();
  // Ends the loop's wait at once, so that a flag a signal handler set is
  // seen promptly; safe from a signal handler.
  void Wake();

  // Runs `next` from now on, between two turns of the loop (poll thread
  // only): unchanged devices keep their slot, device object and counters;
  // removed ones are taken out, added ones created, configured and restored
  // as at start; a device whose limits alone changed keeps running with the
  // new ones, any other changed device is replaced. Ports no device uses any
  // more are closed, new ones opened, changed ones reopened. A site that
  // changes what only a restart can (DiffSites) is refused and the site
  // runs on as it was. Either way an event tells the outcome.
  SiteChanges ApplySite(Site next);
  bool StopRequested() const { return stop_requested_.load(); }

  // Stops ticking, destroys the devices, unloads the plug-in, gives the
  // history writer its final flush, closes the database and stops
  // simulated monitors. Idempotent.
  void Stop();

  // What a person sees: every device's state, values, link and alarms.
  SiteView View() const;
  // Rounds reported so far.
  unsigned rounds_reported() const { return rounds_reported_; }
  const std::vector<std::unique_ptr<DeviceSlot>>& devices() const { return slots_; }
  DeviceSlot* FindDevice(const std::string& name) const;
  EventLog& events() { return events_; }
  // The history database, once the rows queued so far are written (waits
  // up to 5 s for that); null without history.
  HistoryStore* history();
  // Rows pending, stored and lost, and the last error; after Stop(), as the
  // final flush left them. Nothing without history.
  std::optional<StoreState> Store() const;
  // Hands a job to the history writer; false without history or when its
  // queue is full.
  bool QueueHistory(HistoryJob job);
  const Site& site() const { return site_; }
  // The plug-in file loaded: the site's, or the default.
  std::string PluginPath() const;
  // The path a line is opened from (a simulated port's pseudo-terminal).
  std::string PortPath(std::size_t port) const;
  bool PortOnline(std::size_t port) const;
  // Why the line is down ("" while it is up or was never tried).
  std::string PortTrouble(std::size_t port) const;
  // Devices left out because the plug-in refused their configuration, with
  // its reason.
  const std::vector<std::pair<std::string, std::string>>& skipped() const { return skipped_; }

 private:
  using Line = SerialLine;
  using TimePoint = std::chrono::steady_clock::time_point;

  void LoadPlugin();
  void CreateDevices();
  // The new slot, or null when the plug-in refused the configuration.
  // `restore_from`: the database the device's last record is read from.
  DeviceSlot* CreateDevice(const DeviceSettings& settings, HistoryStore* restore_from);
  void Restore(DeviceSlot& slot, HistoryStore& store);
  void StartSimulators();
  void BuildLines();
  // Reload (poller_reload.cpp): slots out and in, lines to the new ports.
  void TakeOut(const std::string& name);
  // The slots made for added and replaced devices.
  std::set<const DeviceSlot*> CreateAdded(const SiteChanges& changes);
  void ArrangeLines(const Site& before, const SiteChanges& changes,
                    std::chrono::milliseconds old_timeout,
                    const std::set<const DeviceSlot*>& fresh);
  bool AnySeatedOn(std::size_t port) const;
  void Reseat(Line& line, std::size_t port, std::chrono::milliseconds old_timeout,
              const std::set<const DeviceSlot*>& fresh);
  void BringUp(Line& line, std::size_t port);
  void OpenLines();
  void CheckLostLines();

  void BeginRoundIfDue(TimePoint now);
  void EndRoundIfIdle();
  void ReportRound();
  void NoteDataStates();
  void NoteStoreState();
  void ExpireTurns(TimePoint now);
  void RunTicks();
  void Tick(Line& line, DeviceSlot& slot);
  void Receive(Line& line, short revents, TimePoint now);
  void Deliver(Line& line, DeviceSlot& slot, std::vector<unsigned char>& bytes);
  int WaitMs(TimePoint now, std::chrono::milliseconds max_wait) const;

  Site site_;
  PollerOptions options_;
  std::unique_ptr<HostClock> own_clock_;
  const HostClock& clock_;
  EventLog events_;
  std::unique_ptr<HistoryWriter> history_;
  std::optional<StoreState> final_store_;  // kept by Stop()
  std::string store_error_told_;           // the store's last error, as logged
  bool store_failing_told_ = false;
  std::uint64_t store_lost_told_ = 0;
  std::unique_ptr<qorv::PluginLibrary> plugin_;
  std::shared_ptr<class DeviceController> controller_;
  std::vector<std::unique_ptr<DeviceSlot>> slots_;
  std::vector<std::pair<std::string, std::string>> skipped_;
  std::vector<std::unique_ptr<sim::PortServer>> simulators_;  // by port; null: a real line
  std::vector<std::unique_ptr<Line>> lines_;                  // by port

  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_requested_{false};
  bool configured_ = false;  // Configure() done
  bool started_ = false;     // Start() done
  bool round_open_ = false;
  unsigned round_ = 0;
  unsigned rounds_reported_ = 0;
  TimePoint next_round_at_{};
  std::function<void(const RoundReport&)> on_round_;
};

}  // namespace runner
