#pragma once
// The command line of `qorv-host scan`.

#include "runner/scan/scan_command.h"

namespace CLI {
class App;
}  // namespace CLI

namespace runner {

// Adds the `scan` subcommand with its options to `app`; they fill `options`.
CLI::App* AddScanCommand(CLI::App& app, scan::ScanOptions& options);

}  // namespace runner
