#!/usr/bin/env bash
# Lists every source file of the tree that the poll thread and the history
# writer enter while rounds run, from the tick to the history row: the files
# a person follows to read one round. Runs the built demo under callgrind,
# collecting only inside the poller's Tick and Receive and the writer's
# WriteBatch, and prints the files that code was compiled from (a header
# counts when code of it ran: an inline function, a template), then the count.
#
#   scripts/route-files.sh [BUILD_DIR]     (default: build)
#
# Needs valgrind. The view, the JSON lines and the start-up are not counted.
set -euo pipefail

if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
fi
build=${1:-build}
host="$build/runner/cli/qorv-host"
[ -x "$host" ] || { echo "route-files: no $host; build qorv-host first" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "route-files: valgrind is not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$work/out" --collect-atstart=no \
  --toggle-collect='runner::Poller::Tick*' --toggle-collect='runner::Poller::Receive*' \
  --toggle-collect='runner::HistoryWriter::WriteBatch*' \
  "$host" demo --rounds 4 --json --db "$work/history.db" --log "$work/host.log" \
  >/dev/null 2>"$work/valgrind.log" || { cat "$work/valgrind.log" >&2; exit 1; }

# callgrind names a file once, "fl=(7) /path", and after that by number
# alone. A file counts when code of it ran itself (a cost line of its own,
# fl=, fi= or fe= before it), not when it only called into the route (the
# cost line after calls=).
awk '
  /^c?f[lie]=\(/ {
    lp = index($0, "("); rp = index($0, ")")
    id = substr($0, lp + 1, rp - lp - 1)
    rest = substr($0, rp + 2)
    if (rest != "") name[id] = rest
    if (substr($0, 1, 1) != "c") file = id
    next
  }
  /^calls=/ { call = 1; next }
  /^[0-9+-]/ { if (!call) used[file] = 1; call = 0; next }
  END { for (id in used) if (id in name) print name[id] }
' "$work/out" |
  grep -v '^/usr/' |
  sed -E 's#^(.*/)?((runner|battery|celldata|host|plugin|support|sim)/)#\2#' |
  grep -E '^(runner|battery|celldata|host|plugin|support|sim)/' | sort -u >"$work/files"
cat "$work/files"
echo "$(wc -l <"$work/files") files ($(grep -c '\.cpp$' "$work/files") .cpp)"
