#!/usr/bin/env bash
# Replays every scenario here through the plug-in and compares each
# transcript with its golden; with --update, rewrites the goldens that differ.
#
#   runner/replay/tests/update-goldens.sh [--update] [BUILD_DIR]
#
# BUILD_DIR (default: build-replay at the top of the tree) must hold built
# halvex-replay and halvex_30.so. Scenarios named *_hex run with --hex.
# An updated golden records what the code does, nothing more: read every
# changed line against the device's documented behaviour before committing.
set -euo pipefail

update=0
build=
for arg in "$@"; do
  case $arg in
    --update) update=1 ;;
    -h|--help) sed -n 2,10p "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) build=$arg ;;
  esac
done

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
build=${build:-$top/build-replay}
replay=$build/runner/replay/halvex-replay
plugin=$(find "$build" -name halvex_30.so -print -quit)
[ -x "$replay" ] || { echo "no $replay: build the halvex-replay target" >&2; exit 2; }
[ -n "$plugin" ] || { echo "no halvex_30.so under $build: build the halvex_30 target" >&2; exit 2; }

out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
for scenario in "$here"/*.scn; do
  name=$(basename "$scenario" .scn)
  golden=$here/$name.golden
  extra=()
  [[ $name == *_hex ]] && extra=(--hex)
  "$replay" "$scenario" --plugin "$plugin" "${extra[@]}" > "$out"
  if cmp -s "$out" "$golden"; then
    continue
  elif [ $update = 1 ]; then
    cp "$out" "$golden"
    echo "updated $name.golden"
  else
    diff -u "$golden" "$out" || true
    status=1
  fi
done
[ $status = 0 ] && [ $update = 0 ] && echo "all transcripts match their goldens"
exit $status
