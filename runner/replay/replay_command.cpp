#include "runner/replay/replay_command.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <vector>

#include <CLI/CLI.hpp>

#include "runner/plugin_access/plugin_library.h"
#include "runner/replay/replayer.h"
#include "runner/replay/scenario.h"
#include "support/command_line.h"

#ifndef HALVEX_REPLAY_DEFAULT_PLUGIN
#define HALVEX_REPLAY_DEFAULT_PLUGIN ""
#endif

namespace runner::replay {

void AddReplayOptions(CLI::App& app, ReplayOptions& options) {
  options.plugin = HALVEX_REPLAY_DEFAULT_PLUGIN;
  app.description(kReplaySummary);
  app.add_option("scenario", options.scenario,
                 "Scenario file (format: docs/replay.md), or a folder of them (a capture): "
                 "each *.scn in name order")
      ->required();
  app.add_option("--plugin", options.plugin, "Plug-in library to load")->capture_default_str();
  app.add_flag("--hex", options.hex, "Also print received chunks and records in hex");
}

namespace {

// "b.2.scn" before "b.10.scn": runs of digits compare by their value, so the
// parts of one capture come in the order they were written.
bool NameOrder(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) &&
        std::isdigit(static_cast<unsigned char>(b[j]))) {
      const std::size_t i0 = i, j0 = j;
      while (i < a.size() && std::isdigit(static_cast<unsigned char>(a[i]))) ++i;
      while (j < b.size() && std::isdigit(static_cast<unsigned char>(b[j]))) ++j;
      const std::string x = a.substr(i0, i - i0), y = b.substr(j0, j - j0);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i, ++j;
  }
  return a.size() - i < b.size() - j;
}

// The scenarios of a capture folder, in name order; none is an error.
std::vector<std::string> ScenariosIn(const std::string& folder) {
  std::vector<std::string> paths;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    if (entry.path().extension() == ".scn") paths.push_back(entry.path().string());
  if (error) throw ScenarioFileError(folder, "cannot be listed: " + error.message());
  if (paths.empty())
    throw ScenarioFileError(folder, "holds no scenario (*.scn): nothing to replay");
  std::sort(paths.begin(), paths.end(), NameOrder);
  return paths;
}

struct Loaded {
  std::string path;
  std::vector<Action> actions;
  std::string torn;  // the warning for a last line cut short
};

Loaded Load(const std::string& path) {
  Loaded loaded{path, {}, {}};
  loaded.actions = LoadScenario(path, &loaded.torn);
  return loaded;
}

void Replay(const Loaded& s, qorv::PluginLibrary& plugin, bool hex, std::ostream& out,
            std::ostream& err) {
  Replayer replayer([&plugin] { return plugin.CreateDevice(); }, out, hex);
  replayer.Run(s.actions, s.path);
  if (s.torn.empty()) return;
  out.flush();
  err << "warning: " << s.torn << '\n';
}

}  // namespace

int RunReplay(const ReplayOptions& options, std::ostream& out, std::ostream& err) {
  try {
    const bool folder = std::filesystem::is_directory(options.scenario);
    // A single scenario is read before the plug-in loads, so a bad file is
    // told as such; a folder's are read one by one as they replay.
    const std::vector<std::string> paths =
        folder ? ScenariosIn(options.scenario) : std::vector<std::string>{};
    const Loaded single = folder ? Loaded{} : Load(options.scenario);
    if (options.plugin.empty()) {
      err << "no plug-in: give --plugin PATH\n";
      return kExitPluginError;
    }
    qorv::PluginLibrary plugin(options.plugin);
    if (!folder) Replay(single, plugin, options.hex, out, err);
    for (const std::string& path : paths) {
      out << "== " << std::filesystem::path(path).filename().string() << '\n';
      Replay(Load(path), plugin, options.hex, out, err);
    }
  } catch (const qorv::PluginError& e) {
    err << e.what() << '\n';
    return kExitPluginError;
  } catch (const ScenarioFileError& e) {
    out.flush();
    err << e.what() << '\n';
    return kExitInputError;
  } catch (const ScenarioError& e) {
    out.flush();
    err << e.what() << '\n';
    return kExitScenarioError;
  } catch (const std::bad_alloc&) {
    out.flush();
    err << options.scenario << ": out of memory while replaying\n";
    return kExitInputError;
  }
  return 0;
}

int RunReplay(int argc, char** argv) {
  CLI::App app;
  ReplayOptions options;
  AddReplayOptions(app, options);
  if (const std::optional<int> status = support::ParseCommandLine(app, argc, argv)) return *status;
  return RunReplay(options, std::cout, std::cerr);
}

}  // namespace runner::replay
