#!/usr/bin/env bash
# CI stage: the plug-in's whole life under valgrind, in a plain build
# (the native build dir, no sanitizers): the end-to-end test loads halvex_30.so,
# creates a device, configures it, polls it through several rounds, queries
# it, destroys it and unloads the library. Any memory error, and any leak
# (definite, indirect or possible), fails the stage. Debug information of
# the unloaded plug-in is kept, so a leak inside it is reported with its
# source lines rather than as an unknown frame.
set -euo pipefail
cd "$(dirname "$0")/../.."

started=$SECONDS
trap 'echo "valgrind stage: $((SECONDS - started)) s"' EXIT

# The native build (scripts/test.sh native) already holds it: same flags.
build=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}

scripts/install-deps.sh valgrind

cmake --preset default -B "$build"
cmake --build "$build" -j"$jobs" --target plugin_e2e_tests halvex_30

valgrind --error-exitcode=1 --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --keep-debuginfo=yes --track-origins=yes \
  --num-callers=30 \
  "$build/tests/e2e/plugin_e2e_tests"
