#!/usr/bin/env bash
# What MQTT costs a site: 16 simulated lines of 20 monitors each (320
# devices), each line polled as fast as its wire allows, first without and
# then with publication to a loopback broker, from a clean Release build:
#
#   scripts/mqtt-bench.sh [--seconds N] [--lines N] [--monitors N]
#
# Configures build-bench (Release; override with BUILD_DIR) and runs qorv_mqtt_bench
# twice (bench/mqtt_route_bench.cpp says what it measures). Needs mosquitto
# and mosquitto_sub (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build-bench}
args=(--seconds 300 --lines 16 --monitors 20)
while [ $# -gt 0 ]; do
  case $1 in
    --seconds|--lines|--monitors) [ $# -ge 2 ] || { echo "$0: $1 needs a value" >&2; exit 2; }
      args+=("$1" "$2"); shift 2 ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "usage: $0 [--seconds N] [--lines N] [--monitors N]" >&2; exit 2 ;;
  esac
done

# A build folder that exists is used as it is configured (BUILD_DIR=build:
# the tests' RelWithDebInfo build).
[ -f "$build/CMakeCache.txt" ] || cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" -j2 --target qorv_mqtt_bench

echo "== machine: $(uname -srm), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/qorv_mqtt_bench" "${args[@]}"
"$build/bench/qorv_mqtt_bench" "${args[@]}" --mqtt
