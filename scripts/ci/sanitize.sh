#!/usr/bin/env bash
# CI stage: builds the whole tree with AddressSanitizer and
# UndefinedBehaviorSanitizer (the "sanitize" preset, -fno-sanitize-recover)
# and runs every test under them with LeakSanitizer on, the end-to-end test
# that loads and unloads halvex_30.so included. Any report fails the stage.
# Prints how long the stage took, pass or fail.
set -euo pipefail
cd "$(dirname "$0")/../.."

started=$SECONDS
trap 'echo "sanitize stage: $((SECONDS - started)) s"' EXIT

jobs=${JOBS:-$(nproc)}

# The test preset sets the same options; exporting them here keeps a test
# run by hand from build-sanitize under the same rules.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/ci/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

cmake --preset sanitize
cmake --build --preset sanitize -j"$jobs"
ctest --preset sanitize -j"$jobs"
