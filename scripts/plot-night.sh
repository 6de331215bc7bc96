#!/usr/bin/env bash
# Regenerates docs/images/night.png: a simulated night (block 18 sagging,
# the temperature rising) kept by the host in a history database, then
# drawn by `qorv-host history --plot` with the deviation limits of the
# site the night ran. Takes the build folder (default
# build), which must hold the native build with its tests.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
cmake --build "$build" -j2 --target qorv-night-run qorv-host
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The plug-in's own diagnostic lines go to the log with the host's events.
"$build/runner/tests/qorv-night-run" "$work/night.db" "$work/night.json" > "$work/night.log" 2>&1 ||
  { cat "$work/night.log" >&2; exit 1; }
grep -E "^[0-9-]+ [0-9:]+ alarm" "$work/night.log" | cut -c21-
grep -E "^[0-9]+ rounds" "$work/night.log"
mkdir -p "$here/docs/images"
"$build/runner/cli/qorv-host" history --site "$work/night.json" --data-id 11 \
  --plot "$here/docs/images/night.png"
