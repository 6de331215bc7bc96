#!/usr/bin/env bash
# Builds and tests everything, stage by stage, with warnings as errors:
#
#   format    every C++ file in the house format (clang-format --dry-run -Werror)
#   native    the tree on this machine, every unit and end-to-end test
#   package   the Debian package: built, checked, installed, run and purged
#             (as root)
#   mipsel    the cross build for the controller, its tests under qemu-mipsel,
#             the plug-in's size budget and its C library imports
#   sanitize  every test under AddressSanitizer, UBSan and LeakSanitizer
#   fuzz      each libFuzzer target for FUZZ_SECONDS (default 60)
#   soak      the reference host against faulty simulated monitors, SOAK_ROUNDS
#             poll rounds (default 10000)
#   valgrind  load, rounds, destroy and unload of the plug-in under valgrind
#
#   scripts/test.sh                 all stages
#   scripts/test.sh native fuzz     the stages named
#
# As root it installs the Debian packages it needs; otherwise it says which.
set -euo pipefail
cd "$(dirname "$0")/.."

all_stages=(format native package mipsel sanitize fuzz soak valgrind)
stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=("${all_stages[@]}")

jobs=$(nproc)
export JOBS=$jobs

native() {
  local build=${BUILD_DIR:-build}
  cmake --preset default -B "$build"
  cmake --build "$build" -j"$jobs"
  ctest --test-dir "$build" --output-on-failure -j"$jobs"
}
format() { scripts/ci/format.sh; }
package() { scripts/ci/package.sh; }
mipsel() { scripts/ci/mipsel.sh; }
sanitize() { scripts/ci/sanitize.sh; }
fuzz() { scripts/ci/fuzz.sh "${FUZZ_SECONDS:-60}"; }
soak() { scripts/ci/soak.sh "${SOAK_ROUNDS:-10000}"; }
valgrind() { scripts/ci/valgrind.sh; }

for stage in "${stages[@]}"; do
  case " ${all_stages[*]} " in
    *" $stage "*) ;;
    *) echo "scripts/test.sh: unknown stage '$stage' (stages: ${all_stages[*]})" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh

started=$SECONDS
for stage in "${stages[@]}"; do
  echo "=== stage $stage"
  stage_started=$SECONDS
  "$stage"
  echo "=== stage $stage passed in $((SECONDS - stage_started)) s"
done
echo "=== all stages passed (${stages[*]}) in $((SECONDS - started)) s"
