#!/usr/bin/env bash
# Instruction counts of the plug-in's hot paths: one poll round (wall and
# frozen clock) and one value query of each kind, beside the regex baseline.
# Counts come from valgrind's callgrind (Ir, instructions executed in user
# space); unlike wall times they repeat exactly on a busy machine.
#
#   scripts/callgrind.sh [--repeat N]     (N operations measured, default 1)
#
# Needs the driver built by scripts/bench.sh (build dir: $BUILD_DIR, default
# build-bench) and valgrind (Debian package "valgrind").
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build-bench}
repeat=1
while [ $# -gt 0 ]; do
  case $1 in
    --repeat) repeat=$2; shift 2 ;;
    *) echo "usage: $0 [--repeat N]" >&2; exit 2 ;;
  esac
done

driver=$build/bench/halvex_callgrind_driver
if ! command -v valgrind >/dev/null; then
  echo "valgrind is not installed (apt-get install valgrind)" >&2
  exit 1
fi
if [ ! -x "$driver" ]; then
  echo "$driver is missing: run scripts/bench.sh first" >&2
  exit 1
fi

out=$build/callgrind
rm -rf "$out"
mkdir -p "$out"
valgrind --tool=callgrind --instr-atstart=no \
  --callgrind-out-file="$out/callgrind.out.%p" \
  "$driver" --repeat "$repeat" >/dev/null 2>"$out/valgrind.log" || {
  cat "$out/valgrind.log" >&2
  exit 1
}

# Each dump names its operation and count ("desc: Trigger: Client Request:
# query_cell/1") and holds its total ("summary: 824").
echo "instructions (callgrind Ir) per operation, $repeat measured after warm-up:"
for dump in "$out"/callgrind.out.*.*; do
  awk '
    /^desc: Trigger: Client Request: / { split($5, label, "/"); name = label[1]; count = label[2] }
    /^summary: / { ir = $2 }
    END { if (name != "") printf "%s %.0f\n", name, ir / count }
  ' "$dump"
done | awk '
  { ir[$1] = $2; order[++n] = $1 }
  END {
    for (i = 1; i <= n; ++i) printf "  %-28s %10d Ir\n", order[i], ir[order[i]]
    if (ir["query_cell"] > 0 && ir["regex_baseline_query_cell"] > 0)
      printf "cell query: %d Ir, baseline regex: %d Ir, ratio = %.0f\n",
             ir["query_cell"], ir["regex_baseline_query_cell"],
             ir["regex_baseline_query_cell"] / ir["query_cell"]
  }
'
