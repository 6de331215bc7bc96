#include "runner/replay/replay_command.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "runner/plugin_access/plugin_library.h"
#include "runner/replay/replayer.h"
#include "runner/replay/scenario.h"

#ifndef HALVEX_REPLAY_DEFAULT_PLUGIN
#define HALVEX_REPLAY_DEFAULT_PLUGIN ""
#endif

namespace runner::replay {

void AddReplayOptions(CLI::App& app, ReplayOptions& options) {
  options.plugin = HALVEX_REPLAY_DEFAULT_PLUGIN;
  app.description(kReplaySummary);
  app.add_option("scenario", options.scenario, "Scenario file (format: docs/replay.md)")
      ->required();
  app.add_option("--plugin", options.plugin, "Plug-in library to load")->capture_default_str();
  app.add_flag("--hex", options.hex, "Also print received chunks and records in hex");
}

int RunReplay(const ReplayOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<Action> actions;
  try {
    actions = LoadScenario(options.scenario);
  } catch (const ScenarioError& e) {
    err << e.what() << '\n';
    return kExitScenarioError;
  }
  if (options.plugin.empty()) {
    err << "no plug-in: give --plugin PATH\n";
    return kExitPluginError;
  }
  try {
    qorv::PluginLibrary plugin(options.plugin);
    Replayer replayer([&plugin] { return plugin.CreateDevice(); }, out, options.hex);
    replayer.Run(actions, options.scenario);
  } catch (const qorv::PluginError& e) {
    err << e.what() << '\n';
    return kExitPluginError;
  } catch (const ScenarioError& e) {
    out.flush();
    err << e.what() << '\n';
    return kExitScenarioError;
  }
  return 0;
}

int RunReplay(int argc, char** argv) {
  CLI::App app;
  ReplayOptions options;
  AddReplayOptions(app, options);
  CLI11_PARSE(app, argc, argv);
  return RunReplay(options, std::cout, std::cerr);
}

}  // namespace runner::replay
