#pragma once
// A program's command line read with CLI11, ending with the statuses a
// shell expects: --help prints and ends with 0, a usage error prints CLI11's
// message and ends with 2 (CLI11's own codes, 105 to 109, mean nothing to a
// script). Header-only: the programs that use it link CLI11 themselves.
//
//   if (auto status = support::ParseCommandLine(app, argc, argv)) return *status;

#include <optional>

#include <CLI/CLI.hpp>

namespace support {

inline constexpr int kExitUsage = 2;

// Nothing when the program goes on; otherwise the status to end with.
inline std::optional<int> ParseCommandLine(CLI::App& app, int argc, const char* const* argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitUsage;
  }
  return std::nullopt;
}

}  // namespace support
