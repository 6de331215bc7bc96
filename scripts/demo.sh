#!/usr/bin/env bash
# Builds the reference host and the plug-in, then runs the built-in demo:
# two simulated monitors on one pseudo-terminal line, 20 rounds of the live
# view. Extra arguments go to `qorv-host demo` (e.g. --rounds 0 to run until
# Ctrl-C, --json for JSON lines).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=${BUILD_DIR:-build}
cmake --preset default -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target qorv-host halvex_30
exec "$build/runner/cli/qorv-host" demo --rounds 20 \
  --db "$build/qorv-demo.db" --log "$build/qorv-demo.log" "$@"
