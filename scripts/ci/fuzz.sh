#!/usr/bin/env bash
# CI stage: builds the libFuzzer targets with clang 14 in build-fuzz (the
# whole tree instrumented for coverage, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from
# the committed seeds in fuzz/corpus/<target>. Prints, per target, the
# executions and the coverage from libFuzzer's final statistics. A crash, a
# sanitizer report or a broken invariant fails the stage and leaves the input
# under build-fuzz/fuzz-work/<target>/artifacts.
#
#   scripts/ci/fuzz.sh            60 s a target (CI)
#   scripts/ci/fuzz.sh 3600       an hour a target; new inputs are kept in
#                                 build-fuzz/fuzz-work/<target>/corpus between runs
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-60}
build=build-fuzz  # the fuzz preset's build directory
jobs=${JOBS:-$(nproc)}
targets=(device_program init_setting value_name)
declare -A max_len=([device_program]=4096 [init_setting]=4096 [value_name]=256)

started=$SECONDS
trap 'echo "fuzz stage: $((SECONDS - started)) s"' EXIT

scripts/install-deps.sh clang-14 libclang-rt-14-dev

# The fuzz preset: clang 14, the whole tree instrumented; its build preset
# names the fuzz_<target> programs.
cmake --preset fuzz
cmake --build --preset fuzz -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Edges are libFuzzer's "cov"; the instrumented total is the sum of the
# inline 8-bit counters it reports loading.
summarise() {
  local target=$1 log=$2 execs cov ft total
  execs=$(awk '/^stat::number_of_executed_units:/ { print $2 }' "$log" | tail -n1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -n1 | awk '{ print $2 }')
  ft=$(grep -oE 'ft: [0-9]+' "$log" | tail -n1 | awk '{ print $2 }')
  total=$(sed -nE 's/.*\(([0-9]+) inline 8-bit counters\).*/\1/p' "$log" | head -n1)
  printf 'fuzz %-15s execs %10s  cov %5s of %5s edges (%s%%)  ft %6s\n' "$target" "${execs:-?}" \
    "${cov:-?}" "${total:-?}" "$(awk -v c="${cov:-0}" -v t="${total:-0}" 'BEGIN { if (t > 0) printf "%.1f", 100 * c / t; else print "?" }')" \
    "${ft:-?}"
}

# Edges of the plug-in's own code (battery/, celldata/) that the corpus now
# reaches, from libFuzzer's per-function coverage. The totals count the
# sanitizer checks' edges too, which a clean run never takes.
plugin_coverage() {
  local target=$1 work=$2
  "$build/fuzz/fuzz_$target" -runs=0 -print_coverage=1 "$work/corpus" "fuzz/corpus/$target" 2>&1 |
    awk -v root="$PWD" '/^(UN)?COVERED_FUNC:/ && (index($NF, root "/battery/") == 1 || index($NF, root "/celldata/") == 1) {
        split($5, e, "/"); covered += e[1]; total += e[2]
      }
      END { printf "plug-in code %d of %d edges (%.1f%%)", covered, total, total ? 100 * covered / total : 0 }'
}

failed=()
summary=()
for target in "${targets[@]}"; do
  work="$build/fuzz-work/$target"
  mkdir -p "$work/corpus" "$work/artifacts"
  echo "== fuzz_$target for $seconds s"
  # New inputs go to the work corpus; the committed seeds are only read.
  dict=()
  [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
  if ! "$build/fuzz/fuzz_$target" "$work/corpus" "fuzz/corpus/$target" "${dict[@]}" \
    -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$work/artifacts/" >"$work/log" 2>&1; then
    failed+=("$target")
    tail -n 60 "$work/log"
    echo "fuzz_$target failed; reproduce with: $build/fuzz/fuzz_$target $work/artifacts/<input>" >&2
  fi
  summary+=("$(summarise "$target" "$work/log")  $(plugin_coverage "$target" "$work")")
done

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets failed: ${failed[*]}" >&2
  exit 1
fi
