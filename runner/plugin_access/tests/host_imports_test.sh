#!/usr/bin/env bash
# scripts/check-host-imports.sh against this tree's host library (nothing
# missing), a stub vendor library exporting every host symbol of it but
# QorvSPDevice::OpenPort() (exactly that one missing: the C and C++ runtime and
# jsoncpp imports must not show), and inputs it cannot use.
#
# usage: host_imports_test.sh SOURCE_DIR PLUGIN HOST_LIBRARY COMPILER (builds the stub as C)
set -uo pipefail
src=$1 plugin=$2 host_library=$3 compiler=$4
check=$src/scripts/check-host-imports.sh
work=$(mktemp -d)
failed=0

fail() {
  echo "FAIL: $*" >&2
  failed=1
}

# Runs the check; $status and $work/out hold what it did.
run() {
  status=0
  "$check" "$@" >"$work/out" 2>"$work/err" || status=$?
}

run "$host_library" "$plugin"
[ "$status" -eq 0 ] || fail "against $host_library: exit $status, $(cat "$work/out" "$work/err")"

# The stub defines each C++ symbol the host library exports, under its
# mangled name, which is a valid C identifier, except the one left out.
omitted=_ZN12QorvSPDevice8OpenPortEv
readelf --dyn-syms -W "$host_library" |
  awk -v omitted="$omitted" '$7 != "UND" && $8 ~ /^_Z/ && $8 != omitted { print "char " $8 ";" }' \
    >"$work/stub.c"
"$compiler" -x c -shared -fPIC -o "$work/libstub.so" "$work/stub.c" || fail "stub library does not build"
run "$work/libstub.so" "$plugin"
[ "$status" -eq 1 ] || fail "against the stub: exit $status, not 1"
[ "$(cat "$work/out")" = "$omitted  QorvSPDevice::OpenPort()" ] ||
  fail "against the stub, expected only $omitted, got: $(cat "$work/out")"

for bad in "--lib-dir" "$work/stub.c $plugin" "$work/absent $plugin" "$host_library $plugin extra"; do
  # shellcheck disable=SC2086 # each case is several words
  run $bad
  [ "$status" -eq 2 ] || fail "check-host-imports.sh $bad: exit $status, not 2"
done

if [ "$failed" -eq 0 ]; then
  rm -rf "$work"
  echo "host imports: all found in the host library, the one left out of the stub named"
else
  echo "left for inspection: $work" >&2
fi
exit "$failed"
