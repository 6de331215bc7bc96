#!/usr/bin/env bash
# What the plug-in costs the host, from a clean Release build:
#
#   scripts/bench.sh [--callgrind] [--size] [-- halvex_bench options]
#
# Configures build-bench (override with BUILD_DIR), builds the measurement
# programs and runs
#   halvex_bench              time per poll round and per value query; its
#                             summary gives the round's share of the wire
#                             time and the query ratios to the regex baseline
#   halvex_memory_per_device  object and heap bytes per device, 1000 devices
# and, on request,
#   --callgrind               instruction counts (scripts/callgrind.sh)
#   --size                    stripped size of halvex_30.so for x86-64 and,
#                             when the cross build exists, mipsel
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build-bench}
callgrind=0
size=0
bench_args=(--benchmark_repetitions=5 --benchmark_display_aggregates_only=true)
while [ $# -gt 0 ]; do
  case $1 in
    --callgrind) callgrind=1; shift ;;
    --size) size=1; shift ;;
    --) shift; bench_args=("$@"); break ;;
    *) echo "usage: $0 [--callgrind] [--size] [-- halvex_bench options]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh
cmake --preset bench -B "$build" >/dev/null
targets=(halvex_bench halvex_memory_per_device halvex_30)
[ "$callgrind" = 1 ] && targets+=(halvex_callgrind_driver)
cmake --build "$build" -j2 --target "${targets[@]}"

echo "== machine: $(uname -srm), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== halvex_bench"
"$build/bench/halvex_bench" "${bench_args[@]}"
echo "== halvex_memory_per_device"
"$build/bench/halvex_memory_per_device" --devices 1000

if [ "$callgrind" = 1 ]; then
  echo "== callgrind"
  BUILD_DIR=$build scripts/callgrind.sh
fi

if [ "$size" = 1 ]; then
  echo "== stripped size of halvex_30.so"
  strip_copy() {  # tool, library, label
    local copy=$build/halvex_30.$3.stripped.so
    "$1" --strip-all -o "$copy" "$2"
    printf '  %-8s %8d bytes stripped (%d unstripped) %s\n' "$3" "$(stat -c %s "$copy")" \
      "$(stat -c %s "$2")" "$2"
  }
  strip_copy strip "$build/plugin/halvex_30.so" x86-64
  mips_so=build-mipsel/plugin/halvex_30.so
  if [ -f "$mips_so" ] && command -v mipsel-linux-gnu-strip >/dev/null; then
    strip_copy mipsel-linux-gnu-strip "$mips_so" mipsel
  else
    echo "  mipsel: $mips_so not built (cross build: scripts/ci/mipsel.sh)"
  fi
fi
