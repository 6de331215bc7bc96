#pragma once
// The replay command: plays a scenario through the plug-in and prints the
// transcript. Used as `halvex-replay SCENARIO [--plugin PATH] [--hex]` and as
// the `replay` subcommand of qorv-host:
//
//   ReplayOptions options;
//   AddReplayOptions(*app.add_subcommand("replay", kReplaySummary), options);
//   ... after parsing: return RunReplay(options, std::cout, std::cerr);
//
// A folder (a capture) replays every *.scn in it in name order, each under
// a heading "== NAME". A last line cut short while it was written is left
// out with a warning.
//
// Exit status: 0 done; 1 a file that cannot be read as a scenario (missing,
// not a regular file, too large, a folder without scenarios); 2 bad
// scenario (the message names file and line); 3 plug-in not loadable. The transcript goes to `out`
// as it is made, so after a failing line it holds everything before it.

#include <ostream>
#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace runner::replay {

constexpr const char* kReplaySummary =
    "Replay a scenario of host actions through the plug-in and print every host call";

constexpr int kExitInputError = 1;
constexpr int kExitScenarioError = 2;
constexpr int kExitPluginError = 3;

struct ReplayOptions {
  std::string scenario;
  std::string plugin;  // defaults to the plug-in built with this tree
  bool hex = false;
};

// Adds the positional SCENARIO, --plugin and --hex to `app`.
void AddReplayOptions(CLI::App& app, ReplayOptions& options);

int RunReplay(const ReplayOptions& options, std::ostream& out, std::ostream& err);

// The whole command line: options, --help, then the run.
int RunReplay(int argc, char** argv);

}  // namespace runner::replay
