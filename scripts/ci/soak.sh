#!/usr/bin/env bash
# CI stage: the fault soak. The reference host's runtime runs halvex_30.so
# against simulated monitors on pseudo-terminals (two buses, two monitors
# each, no byte pacing, the shortest poll period the host takes) whose
# replies are dropped, corrupted, misaddressed, padded with noise, split,
# trailed, delayed and withheld. Prints completed rounds against attempted,
# rejected and timed-out replies by reason, history rows against completed
# rounds, accepted values that differ from the simulator's with the
# collisions expected of the modulo-254 checksum, and crashes, which must be
# 0. Fails on a crash, on a lost or extra history row, and on a corrupted
# value that no checksum collision explains.
#
#   scripts/ci/soak.sh            10,000 device poll rounds (CI, about 2-3 min)
#   scripts/ci/soak.sh 200000     longer
set -uo pipefail
cd "$(dirname "$0")/../.."

rounds=${1:-10000}
# The native build (scripts/test.sh native) already holds it: same flags.
build=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}

started=$SECONDS
trap 'echo "soak stage: $((SECONDS - started)) s"' EXIT

set -e
cmake --preset default -B "$build"
cmake --build "$build" -j"$jobs" --target halvex-soak
set +e

"$build/soak/halvex-soak" --rounds "$rounds" --db "$build/soak.db" --json "$build/soak.json"
status=$?
if [ "$status" -gt 128 ]; then
  echo "crashes: 1 (the soak died of signal $((status - 128)))" >&2
  exit 1
fi
echo "crashes: 0"
exit "$status"
