// qorv-host: the reference host. Runs a site file, the built-in demo, or
// one of the tools (history and its plot, replay, scan).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <vector>

#include <CLI/CLI.hpp>

#include "runner/cli/check_command.h"
#include "runner/cli/run_command.h"
#include "runner/cli/scan_options.h"
#include "runner/history/history_command.h"
#include "runner/plot/plot_command.h"
#include "runner/site/demo_site.h"
#include "runner/site/site.h"

#ifdef QORV_HOST_HAVE_REPLAY
#include "runner/replay/capture_directory.h"
#include "runner/replay/replay_command.h"
#include "support/command_line.h"
#endif

namespace {

constexpr const char* kAbout =
    "qorv-host: the reference host. Loads the device plug-in, opens the serial lines of a site, "
    "polls the monitors, keeps history and alarms, and shows a live view.\n"
    "Without a site file it runs the built-in demo (as `qorv-host demo`).";

constexpr const char* kOutputNote =
    "Output: the live view is drawn on the terminal through a duplicate of the original standard "
    "output; standard output itself (fd 1, std::cout, printf) is redirected to the log file "
    "(--log), which receives the plug-in's diagnostic lines and the host's own messages. With "
    "--json the JSON lines go to the original standard output instead of the view.";

struct CommonOptions {
  runner::RunOptions run;
  unsigned log_max_mib = 10;
  runner::SiteOverrides site;
  std::string capture_dir;
  unsigned capture_max_mib = 64;
  std::string metrics;
};

// A count of rounds: a whole number a person can read back in the message.
std::string CheckRounds(std::string& text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || text[0] == '-' || text[0] == '+' || *end != '\0' || errno == ERANGE ||
      n > UINT_MAX)
    return "must be a whole number from 0 to " + std::to_string(UINT_MAX) + ", got " + text;
  return "";
}

void AddRunOptions(CLI::App& app, CommonOptions& o) {
  app.add_option("--rounds", o.run.rounds, "stop after N rounds (0: run until Ctrl-C)")
      ->check(CLI::Validator(CheckRounds, "N"));
  app.add_flag("--json", o.run.json, "write one JSON line per round instead of the live view");
  app.add_option("--log", o.run.log_path,
                 "log file for the devices' standard output and host messages")
      ->capture_default_str();
  app.add_option("--log-max-mib", o.log_max_mib,
                 "rotate the log when it reaches this many MiB (0: never)")
      ->capture_default_str()
      ->check(CLI::Range(0u, 1u << 20));
  app.add_option("--log-keep", o.run.log_keep, "rotated logs kept, <log>.1 .. <log>.N")
      ->capture_default_str()
      ->check(CLI::Range(0u, 100u));
  app.add_option("--plugin", o.site.plugin, "plug-in file, over the site's and the built one");
  app.add_option("--db", o.site.db, "history database, over the site's");
  app.add_option("--mqtt", o.site.mqtt,
                 "publish to this broker (mqtt://HOST[:PORT] or mqtts://HOST[:PORT]), over the "
                 "site's \"mqtt\" url; other settings from the site or their defaults")
      ->check(CLI::Validator(
          [](std::string& url) {
            try {
              runner::ParseBrokerUrl(url);
              return std::string();
            } catch (const std::invalid_argument& e) {
              return std::string(e.what());
            }
          },
          "URL"));
  app.add_option("--metrics", o.metrics,
                 "serve Prometheus metrics over HTTP at /metrics on this address (PORT, "
                 "ADDRESS:PORT or [IPV6-ADDRESS]:PORT; a port alone listens on 127.0.0.1), over "
                 "the site's \"metrics\"")
      ->check(CLI::Validator(
          [](std::string& address) {
            try {
              runner::ParseMetricsAddress(address);
              return std::string();
            } catch (const std::invalid_argument& e) {
              return std::string(e.what());
            }
          },
          "ADDR"));
#ifdef QORV_HOST_HAVE_REPLAY
  app.add_option("--capture", o.capture_dir,
                 "write each device's capture to DIR/NAME.scn, for qorv-host replay");
  app.add_option("--capture-max-mib", o.capture_max_mib,
                 "start a new capture part (NAME.2.scn, ...) past this many MiB (0: never)")
      ->capture_default_str()
      ->check(CLI::Range(0u, 1u << 20));
#endif
  app.footer(kOutputNote);
}

struct HistoryCommand {
  runner::HistoryOptions options;
  unsigned data_id = 0;
  CLI::Option* data_id_option = nullptr;
  std::string site;
  std::string plot;
};

CLI::App* AddHistoryCommand(CLI::App& app, HistoryCommand& h) {
  CLI::App* history = app.add_subcommand(
      "history",
      "Print, export or plot the history of one data id, or list what the database holds");
  auto* db = history->add_option("--db", h.options.db, "history database");
  history
      ->add_option("--site", h.site,
                   "take the database from this site file, and the plot's deviation limits "
                   "from its device with this data id")
      ->excludes(db);
  h.data_id_option = history->add_option(
      "--data-id", h.data_id, "the device's data id; without it, what the database holds");
  history->add_option("--from", h.options.from,
                      "first time: YYYY-MM-DD[ HH:MM[:SS]] (local), ISO 8601 with an offset, "
                      "or back from now (-30m, -2h, -7d)");
  history->add_option("--to", h.options.to, "last time, in the same forms");
  auto* csv =
      history->add_option("--csv", h.options.csv, "export CSV to this file ('-': standard output)");
  auto* alarms =
      history->add_flag("--alarms", h.options.alarms, "the alarm log instead of the rows");
  history
      ->add_option("--plot", h.plot,
                   "draw cells, the deviation from the string's mean of the worst cells, "
                   "string voltage, current, temperature and alarms into this image (.svg or "
                   ".png)")
      ->excludes(csv)
      ->excludes(alarms);
  history->footer(
      "Times are local, as the host stamped them; a date alone as --to covers the day.");
  return history;
}

// The deviation limits the site gives the device with `data_id`, for the
// plot's health panel; the legend says why there are none.
runner::plot::HealthLimitLines HealthLimitsIn(const runner::Site& site, const std::string& path,
                                              unsigned data_id) {
  runner::plot::HealthLimitLines lines;
  for (const runner::DeviceSettings& d : site.devices)
    if (d.data_id == data_id) lines.deviation = d.health.deviation;
  if (!lines.deviation)
    lines.missing = "no limits drawn: " + path.substr(path.find_last_of('/') + 1) +
                    "\ngives data id " + std::to_string(data_id) + " no deviation_mv";
  return lines;
}

int RunHistoryCommand(HistoryCommand& h) {
  runner::plot::HealthLimitLines limits;
  if (h.data_id_option->count() > 0) h.options.data_id = h.data_id;
  if (!h.site.empty()) {
    const runner::Site site = runner::LoadSiteFile(h.site);
    h.options.db = site.history_db;
    limits = HealthLimitsIn(site, h.site, h.data_id);
  }
  if (h.options.db.empty()) h.options.db = "qorv-history.db";
  if (!h.plot.empty()) return runner::plot::RunHistoryPlot(h.options, h.plot, std::cerr, limits);
  return runner::RunHistory(h.options, std::cout, std::cerr);
}

// Letters to change, add or remove to turn `a` into `b`.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The command a lone word that names no file was most likely meant to be
// ("histroy": "history"); "" when it is no near miss.
std::string CommandLike(const std::string& word) {
  if (word.find('/') != std::string::npos || ::access(word.c_str(), F_OK) == 0) return "";
  std::string best;
  std::size_t best_distance = 3;  // two slips at most
  for (const char* command : {"check", "demo", "history", "replay", "scan"}) {
    const std::size_t d = EditDistance(word, command);
    if (d < best_distance) best = command, best_distance = d;
  }
  return best;
}

// `path` empty: the built-in demo, which has no file to read again.
int RunWith(runner::Site site, CommonOptions& o, const std::string& path = "") {
  runner::ApplyOverrides(o.site, site);
  if (!o.metrics.empty()) site.metrics = runner::ParseMetricsAddress(o.metrics);
  if (!path.empty())
    o.run.reread_site = [path, overrides = o.site, metrics = o.metrics] {
      runner::Site again = runner::LoadSiteFile(path);
      runner::ApplyOverrides(overrides, again);
      if (!metrics.empty()) again.metrics = runner::ParseMetricsAddress(metrics);
      return again;
    };
  o.run.default_plugin = QORV_HOST_DEFAULT_PLUGIN;
  o.run.log_max_bytes = static_cast<std::uintmax_t>(o.log_max_mib) << 20;
#ifdef QORV_HOST_HAVE_REPLAY
  if (!o.capture_dir.empty())
    o.run.capture = std::make_shared<runner::replay::CaptureDirectory>(
        o.capture_dir, static_cast<std::uintmax_t>(o.capture_max_mib) << 20);
#endif
  return runner::RunSite(std::move(site), o.run);
}

constexpr const char* kRunOptionNames[] = {"--rounds",          "--json",     "--log",
                                           "--log-max-mib",     "--log-keep", "--capture",
                                           "--capture-max-mib", "--metrics"};
// The run options that change the site itself; check takes them too.
constexpr const char* kSiteOptionNames[] = {"--plugin", "--db", "--mqtt"};

// The run options given on the command line, for refusing them where they
// would do nothing.
std::string GivenRunOptions(const CLI::App& app, bool site_options_too) {
  std::vector<const char*> names(std::begin(kRunOptionNames), std::end(kRunOptionNames));
  if (site_options_too)
    names.insert(names.end(), std::begin(kSiteOptionNames), std::end(kSiteOptionNames));
  std::string given;
  for (const char* name : names)
    if (const CLI::Option* option = app.get_option_no_throw(name); option && option->count() > 0)
      given += std::string(given.empty() ? "" : ", ") + name;
  return given;
}

// A command line whose parts would be ignored is refused rather than half
// obeyed: a site file next to `demo`, run options next to a tool.
std::string ConflictOf(const CLI::App& app, const CLI::App* tool, const std::string& site_path,
                       bool demo) {
  if (demo && !site_path.empty())
    return "demo runs its built-in site; give a site file or demo, not both (got " + site_path +
           ")";
  if (tool == nullptr) return "";
  if (!site_path.empty())
    return tool->get_name() + " does not run a site; got " + site_path +
           (tool->get_name() == "history" ? " (use history --site FILE)"
            : tool->get_name() == "check" ? " (use check FILE)"
                                          : "");
  const std::string options = GivenRunOptions(app, tool->get_name() != "check");
  if (!options.empty())
    return options + (options.find(',') == std::string::npos ? " applies" : " apply") +
           " to running a site, not to " + tool->get_name();
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kAbout, "qorv-host"};
  app.set_version_flag("--version", "qorv-host " QORV_HOST_VERSION, "print the version and end");
  // An option given twice takes its last value, so a wrapper script's
  // defaults can be overridden by the arguments it passes on.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  CommonOptions main_options;
  std::string site_path;
  app.add_option("site", site_path, "site file (JSON, see docs/reference-host.md)");
  AddRunOptions(app, main_options);

  // The demo takes qorv-host's own options, before or after `demo`.
  CLI::App* demo = app.add_subcommand(
      "demo", "Run the built-in demo: two simulated monitors on one pseudo-terminal line");
  demo->fallthrough();
  bool no_pace = false;
  demo->add_flag("--no-pace", no_pace,
                 "let the simulator answer at once instead of at 19200 bit/s");
  demo->footer(
      "Also takes qorv-host's run options, before or after `demo`: --rounds, --json, "
      "--log (default qorv-demo.log), --log-max-mib, --log-keep, --plugin, --db "
      "(default qorv-demo.db), --capture and --capture-max-mib.");

  HistoryCommand history_command;
  CLI::App* history = AddHistoryCommand(app, history_command);

#ifdef QORV_HOST_HAVE_REPLAY
  runner::replay::ReplayOptions replay_options;
  CLI::App* replay = app.add_subcommand("replay", runner::replay::kReplaySummary);
  runner::replay::AddReplayOptions(*replay, replay_options);
  replay->footer("Scenario format: docs/replay.md.");
#endif

  runner::scan::ScanOptions scan_options;
  CLI::App* scan = runner::AddScanCommand(app, scan_options);

  std::string check_path;
  CLI::App* check = app.add_subcommand(
      "check",
      "Check everything a start of the site would meet, without polling: the site file, the "
      "plug-in, the devices' configuration, the ports, the history database and the broker");
  check->add_option("site", check_path, "site file")->required();
  check->fallthrough();
  check->footer(
      "Also takes --plugin, --db and --mqtt, as a run does. One line per item, \"ok\" or the "
      "reason; the exit status is 0 only when every item is ok.");

  if (const std::optional<int> status = support::ParseCommandLine(app, argc, argv)) return *status;

  const CLI::App* tool = history->parsed() ? history
                         : scan->parsed()  ? scan
                         : check->parsed() ? check
                                           : nullptr;
#ifdef QORV_HOST_HAVE_REPLAY
  if (replay->parsed()) tool = replay;
#endif
  const std::string conflict = ConflictOf(app, tool, site_path, demo->parsed());
  if (!conflict.empty()) {
    std::cerr << "qorv-host: " << conflict << "\n";
    return 1;
  }
#ifdef QORV_HOST_HAVE_REPLAY
  if (app.count("--capture") > 0 && main_options.capture_dir.empty()) {
    std::cerr << "qorv-host: --capture: give the folder the captures go to\n";
    return 2;
  }
#endif

  try {
    if (history->parsed()) return RunHistoryCommand(history_command);
    if (check->parsed()) {
      runner::CheckOptions options;
      options.overrides = main_options.site;
      options.default_plugin = QORV_HOST_DEFAULT_PLUGIN;
      return runner::RunCheck(check_path, options, std::cout);
    }
    if (scan->parsed()) {
      scan_options.default_plugin = QORV_HOST_DEFAULT_PLUGIN;
      return runner::scan::RunScan(scan_options, std::cout, std::cerr);
    }
#ifdef QORV_HOST_HAVE_REPLAY
    if (replay->parsed()) return runner::replay::RunReplay(replay_options, std::cout, std::cerr);
#endif
    if (demo->parsed() || site_path.empty()) {
      CommonOptions& o = main_options;
      // The demo's files, unless the options say otherwise.
      if (app.count("--log") == 0) o.run.log_path = "qorv-demo.log";
      if (o.site.db.empty()) o.site.db = "qorv-demo.db";
      o.run.title = "demo";
      return RunWith(runner::DemoSite(!no_pace, o.site.db), o);
    }
    if (const std::string command = CommandLike(site_path); !command.empty()) {
      std::cerr << "qorv-host: unknown command or site file '" << site_path << "'; did you mean '"
                << command << "'?\n";
      return support::kExitUsage;
    }
    main_options.run.title = site_path;
    return RunWith(runner::LoadSiteFile(site_path), main_options, site_path);
  } catch (const std::exception& e) {
    std::cerr << "qorv-host: " << e.what() << "\n";
    return 1;
  }
}
