#include "runner/cli/run_command.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "runner/cli/metrics_snapshot.h"
#include "runner/cli/site_reloader.h"
#include "runner/lines/poller.h"
#include "runner/metrics/metrics_server.h"
#include "runner/publish/site_publisher.h"
#include "runner/service/journal_lines.h"
#include "runner/service/service_notify.h"
#include "runner/view/json_report.h"
#include "runner/view/live_view.h"
#include "runner/view/output_split.h"

namespace runner {
namespace {

constexpr const char* kHideCursor = "\x1b[?25l";
constexpr const char* kShowCursor = "\x1b[?25h";
constexpr const char* kClearScreen = "\x1b[2J";

// The host a signal stops. A signal handler can reach nothing else.
Poller* signalled_host = nullptr;

void OnStopSignal(int) {
  if (signalled_host != nullptr) signalled_host->RequestStop();
}

class StopSignals {
 public:
  explicit StopSignals(Poller& host) {
    signalled_host = &host;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    signalled_host = nullptr;
  }

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

class RoundPrinter {
 public:
  RoundPrinter(Poller& host, const OutputSplit& out, const RunOptions& options)
      : host_(host), out_(out), options_(options), ansi_(out.IsTerminal()) {
    if (!options.json && ansi_) out_.Write(std::string(kHideCursor) + kClearScreen);
  }
  ~RoundPrinter() {
    if (!options_.json && ansi_) out_.Write(kShowCursor);
  }

  void operator()(const RoundReport& report, const SiteView& view) {
    if (options_.json) {
      out_.Write(OneLine(RoundJson(view, host_.events().TakeNew())) + "\n");
      if (options_.rounds && isatty(STDERR_FILENO))
        std::cerr << "\rround " << report.round << "/" << options_.rounds << std::flush;
      return;
    }
    if (!ansi_) return;  // no terminal: the events go out as journal lines instead
    ViewStyle style{out_.Columns(), out_.Rows(), ansi_, options_.rounds, options_.title};
    out_.Write(RenderView(view, style));
  }

 private:
  Poller& host_;
  const OutputSplit& out_;
  const RunOptions& options_;
  bool ansi_;
};

// The history store's account at exit; the exit status says whether a row
// was lost.
int ReportStore(const std::optional<StoreState>& store) {
  if (!store) return 0;
  std::cerr << "qorv-host: history: " << store->stored << " records and " << store->alarms_stored
            << " alarm events stored, " << store->lost << " lost";
  if (!store->last_error.empty()) std::cerr << "; last error: " << store->last_error;
  std::cerr << "\n";
  return store->lost > 0 ? kExitRowsLost : 0;
}

// Each device that completed no round, with what the host knows of why:
// its line never opened or was lost, its monitor never answered, or its
// answers were refused.
std::vector<std::string> DevicesWithoutARound(const Poller& host) {
  std::vector<std::string> idle;
  for (const auto& [name, why] : host.skipped()) idle.push_back(name + ": " + why);
  for (const auto& slot : host.devices()) {
    const LinkCounters& link = slot->link.counters();
    if (link.rounds > 0) continue;
    const std::string port_trouble = host.PortTrouble(slot->settings.port);
    std::string why =
        !port_trouble.empty() ? "its line is down: " + port_trouble
        : link.rejected > 0
            ? std::to_string(link.rejected) + " replies refused (wiring, termination, address?)"
        : link.timeouts > 0 ? "its monitor never answered (" + std::to_string(link.timeouts) +
                                  " requests timed out)"
                            : "the run ended before its first round";
    idle.push_back(slot->settings.name + ": " + why);
  }
  return idle;
}

// The devices as the broker's subscribers get to know them.
std::vector<publish::PublishedDevice> PublishedDevices(const Poller& host) {
  std::vector<publish::PublishedDevice> out;
  for (const auto& slot : host.devices()) {
    publish::PublishedDevice d;
    d.data_id = slot->settings.data_id;
    d.discovery.name = slot->settings.name;
    d.discovery.model = slot->device->DeviceType();
    for (int cell : slot->cells.active)
      d.discovery.cell_numbers.push_back(slot->cells.first_number + cell);
    out.push_back(std::move(d));
  }
  return out;
}

// The history writer and database keep what the broker has not
// acknowledged; without history nothing is kept.
std::optional<publish::PublisherStore> StoreFor(Poller& host, const std::string& path) {
  HistoryStore* store = host.history();
  if (store == nullptr) return std::nullopt;
  publish::PublisherStore out;
  out.queue = [&host](HistoryJob job) { return host.QueueHistory(std::move(job)); };
  out.pending = [&host] { return host.Store() ? host.Store()->pending : 0; };
  out.path = path;
  out.sequences = store->Sequences();
  out.kept = store->OutboxCount();
  return out;
}

std::vector<publish::DeviceStatus> Statuses(const SiteView& view) {
  std::vector<publish::DeviceStatus> out;
  for (const DeviceView& d : view.devices) out.push_back({d.data_id, d.state, d.alarms});
  return out;
}

void ReportBroker(const std::optional<PublishCounts>& m) {
  if (!m) return;
  std::cerr << "qorv-host: MQTT " << m->broker << ": " << m->published
            << " state messages published (" << m->backlog << " from the backlog), " << m->waiting
            << " waiting, " << m->skipped << " skipped as too old";
  if (m->lost) std::cerr << ", " << m->lost << " lost";
  if (!m->connected && !m->trouble.empty()) std::cerr << "; " << m->trouble;
  std::cerr << "\n";
}

std::size_t ActiveAlarms(const SiteView& view) {
  std::size_t n = 0;
  for (const DeviceView& d : view.devices) n += d.alarms.size();
  return n;
}

// Test builds only: while the file QORV_HOST_TEST_STALL_FILE names exists,
// the poll thread sleeps here, as it would in a device call that hangs, so
// the tests can watch the service watchdog go without its pings.
void StallWhileTestAsks() {
#ifdef QORV_HOST_TEST_HOOKS
  static const char* const file = std::getenv("QORV_HOST_TEST_STALL_FILE");
  while (file != nullptr && ::access(file, F_OK) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
#endif
}

}  // namespace

int RunSite(Site site, const RunOptions& options) {
  const std::string history_db = site.history_db;
  const std::optional<MqttSettings> mqtt = site.mqtt;
  std::unique_ptr<metrics::MetricsServer> metrics;
  if (site.metrics)
    metrics = std::make_unique<metrics::MetricsServer>(site.metrics->host, site.metrics->port);
  OutputSplit out(options.log_path);
  std::unique_ptr<publish::SitePublisher> publisher;
  std::unique_ptr<SiteReloader> reloader;  // while the loop runs
  PollerOptions host_options;
  host_options.on_round_result = [&publisher, &options](const RoundResult& round) {
    if (options.on_round_result) options.on_round_result(round);
    if (publisher) publisher->Round(round);
  };
  host_options.default_plugin = options.default_plugin;
  host_options.capture = options.capture;
  // Under systemd (standard output neither a terminal nor JSON lines) each
  // event also goes to the original standard output, led by its priority.
  const bool journal = !options.json && !out.IsTerminal();
  host_options.event_sink = [journal, &out](const std::string& line) {
    std::cout << "host: " << line << std::endl;
    if (journal) out.Write(service::JournalLine(line));
  };
  service::ServiceNotify notify;
  host_options.longest_wait = notify.LongestWait(host_options.longest_wait);
  host_options.on_wake = [&notify, &reloader, &publisher] {
    StallWhileTestAsks();
    notify.Beat(std::chrono::steady_clock::now());
    if (!reloader) return;
    const std::optional<SiteChanges> changes = reloader->RunIfAsked();
    if (changes && changes->refused.empty() && publisher)
      publisher->SetDevices(PublishedDevices(reloader->host()));
  };
  Poller host(std::move(site), host_options);
  try {
    if (metrics) metrics->Start();  // a port in use is told before any line opens
    host.Start();
    if (mqtt) {
      publisher = std::make_unique<publish::SitePublisher>(
          *mqtt, PublishedDevices(host), QORV_HOST_VERSION, StoreFor(host, history_db));
      publisher->Start();
    }
    if (metrics) {  // the devices before their first round
      SiteView first = host.View();
      if (publisher) first.mqtt = publisher->Counts();
      metrics->Update(MetricsSnapshot(first));
    }
    notify.Ready();
  } catch (const std::exception& e) {
    std::cerr << "qorv-host: " << e.what() << "\n";
    return 1;
  }
  {
    StopSignals signals(host);
    reloader = std::make_unique<SiteReloader>(host, options.reread_site);
    RoundPrinter printer(host, out, options);
    bool rotate_failed = false;
    host.Run(options.rounds, [&](const RoundReport& r) {
      const std::string trouble = out.RotateIfOver(options.log_max_bytes, options.log_keep);
      if (!trouble.empty() && !rotate_failed) host.events().Add(trouble);
      rotate_failed = !trouble.empty();
      SiteView view = host.View();
      if (publisher) {
        publisher->Tick(Statuses(view), std::chrono::steady_clock::now());
        for (const std::string& e : publisher->TakeEvents()) host.events().Add(e);
        view.mqtt = publisher->Counts();
      }
      if (metrics) metrics->Update(MetricsSnapshot(view));
      printer(r, view);
      notify.Status(service::StatusLine(host.rounds_reported(), ActiveAlarms(view)),
                    std::chrono::steady_clock::now());
    });
    reloader.reset();
  }
  notify.Stopping();
  if (metrics) metrics->Stop();
  const bool interrupted = host.StopRequested();
  const unsigned rounds = host.rounds_reported();
  const std::vector<std::string> idle = DevicesWithoutARound(host);
  std::optional<PublishCounts> broker;
  if (publisher) {
    publisher->Stop();  // its last acknowledgements go to the history first
    broker = publisher->Counts();
  }
  host.Stop();
  if (options.json && options.rounds && isatty(STDERR_FILENO)) std::cerr << "\n";
  std::cerr << "qorv-host: " << (interrupted ? "stopped" : "done") << " after " << rounds
            << " rounds; device log in " << options.log_path
            << (history_db.empty() ? ", no history kept" : ", history in " + history_db) << "\n";
  ReportBroker(broker);
  const int store_status = ReportStore(host.Store());
  if (idle.empty()) return store_status;
  for (const std::string& line : idle)
    std::cerr << "qorv-host: no round completed: " << line << "\n";
  return kExitNoRound;
}

}  // namespace runner
