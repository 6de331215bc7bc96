#pragma once
// Running a site from the command line: the live view (or JSON lines), the
// device log, Ctrl-C, and the summary at the end.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runner/lines/device_recorder.h"
#include "runner/round/round_result.h"
#include "runner/site/site.h"

namespace runner {

struct RunOptions {
  unsigned rounds = 0;                       // stop after this many rounds; 0: run until Ctrl-C
  bool json = false;                         // one JSON line per round instead of the view
  std::string log_path = "qorv-host.log";    // the devices' stdout and the host's messages
  std::uintmax_t log_max_bytes = 10u << 20;  // the log is rotated at this size; 0: never
  unsigned log_keep = 3;                     // rotated logs kept: <log>.1 .. <log>.N
  std::string default_plugin;                // when the site names none
  std::string title;                         // shown in the view's first line
  std::shared_ptr<CaptureSink> capture;      // where each device's capture goes; null: none
  // Called on the poll thread with each finished round before it is
  // published; for tools that time the route (the MQTT benchmark).
  std::function<void(const RoundResult&)> on_round_result;
  // Reads the site again as it was read at start, on SIGHUP; empty: the
  // site has no file (the demo).
  std::function<Site()> reread_site;
};

// The exit status of a run in which history rows or alarms were lost (the
// queue was full, or they were still unwritten when the host stopped).
inline constexpr int kExitRowsLost = 3;
// The exit status of a run in which a device completed no round: its line
// never opened, its monitor never answered, or it was left out.
inline constexpr int kExitNoRound = 4;

// Runs `site` until Ctrl-C (SIGINT or SIGTERM) or the rounds are done, then
// stops cleanly; SIGHUP puts the site file, read again, in force. Returns the process exit status:
// 0, 1 when the site could not start, kExitRowsLost, kExitNoRound (which wins over rows lost; the
// summary names both).
int RunSite(Site site, const RunOptions& options);

}  // namespace runner
