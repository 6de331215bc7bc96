#!/usr/bin/env bash
# host-abi-probe built, as an integrator builds it, against altered copies of
# this tree's host/ headers standing in for a vendor's:
#   renamed  device_state_ spelled state_word_, mapped in a names header:
#            builds, and matches the committed output;
#   double   Get_SP_Value returning double: does not build, and says which
#            operation;
#   swapped  rule_value's value and level declared the other way round:
#            builds, and --compare exits 1 naming exactly those two fields.
#
# usage: probe_variants_test.sh SOURCE_DIR EXPECTED HOST_LIBRARY CXX [CXXFLAGS...]
# EMULATOR, when set, runs the built probe (the cross build's qemu-mipsel).
set -euo pipefail
src=$1 expected=$2 host_library=$3
shift 3
compile=("$@" -std=c++17 -I"$src/runner/plugin_access/abi")
probe_source=$src/runner/plugin_access/abi/host_abi_probe.cpp
work=$(mktemp -d)
failed=0

fail() {
  echo "FAIL [$variant]: $*" >&2
  failed=1
}

# A copy of host/ under $work/$variant with one sed edit that must change it.
variant_headers() {
  local file=$1 edit=$2
  mkdir -p "$work/$variant"
  cp -r "$src/host" "$work/$variant/host"
  sed -i -e "$edit" "$work/$variant/host/$file"
  if cmp -s "$src/host/$file" "$work/$variant/host/$file"; then
    fail "the edit '$edit' left host/$file as it was"
    return 1
  fi
}

# Builds the probe from the variant's headers; extra arguments go to the compiler.
build_probe() {
  "${compile[@]}" -I"$work/$variant" -I"$src" "$@" "$probe_source" "$host_library" \
    -Wl,-rpath,"$(dirname "$host_library")" -o "$work/$variant/probe" 2>"$work/$variant/errors"
}

variant=renamed
if variant_headers qorv_vdevice.h 's/\bdevice_state_\b/state_word_/'; then
  sed 's/^#define HOST_DEVICE_STATE device_state_$/#define HOST_DEVICE_STATE state_word_/' \
    "$src/runner/plugin_access/abi/host_abi_names.h" >"$work/renamed/names.h"
  if ! build_probe -DHOST_ABI_PROBE_NAMES='"'"$work/renamed/names.h"'"'; then
    fail "does not build with the names header mapped: $(head -c 2000 "$work/renamed/errors")"
  elif ! ${EMULATOR:-} "$work/renamed/probe" --compare "$expected" >"$work/renamed/out"; then
    fail "differs from $expected: $(cat "$work/renamed/out")"
  fi
fi

variant=double
if variant_headers qorv_vdevice.h 's/virtual float Get_SP_Value/virtual double Get_SP_Value/'; then
  if "${compile[@]}" -fsyntax-only -I"$work/double" -I"$src" "$probe_source" \
    2>"$work/double/errors"; then
    fail "builds, though Get_SP_Value returns double"
  elif ! grep -q "QorvVDevice::Get_SP_Value is not declared float" "$work/double/errors"; then
    fail "the compiler's message does not name Get_SP_Value: $(head -c 2000 "$work/double/errors")"
  fi
fi

variant=swapped
if variant_headers rule_value.h '/float value/{h;d};/int level/G'; then
  if ! build_probe; then
    fail "does not build: $(head -c 2000 "$work/swapped/errors")"
  else
    status=0
    ${EMULATOR:-} "$work/swapped/probe" --compare "$expected" >"$work/swapped/out" || status=$?
    differing=$(grep '^+ ' "$work/swapped/out" | sort | tr '\n' '|')
    if [ "$status" -ne 1 ]; then
      fail "--compare exited $status, not 1"
    elif ! [[ $differing =~ ^\+\ offset\ rule_value::level\ [0-9]+\|\+\ offset\ rule_value::value\ [0-9]+\|$ ]]; then
      fail "expected the offsets of value and level to differ, got: $(cat "$work/swapped/out")"
    fi
  fi
fi

if [ "$failed" -eq 0 ]; then
  rm -rf "$work"
  echo "probe variants: renamed, double and swapped caught as expected"
else
  echo "left for inspection: $work" >&2
fi
exit "$failed"
