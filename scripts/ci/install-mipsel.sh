#!/usr/bin/env bash
# Installs the mipsel cross toolchain, the user-mode emulator and the target
# builds of jsoncpp and GoogleTest. Safe to run again: it adds the foreign
# architecture once and installs only packages that are missing.
#
# Boost is not installed for mipsel: libboost-dev:mipsel conflicts with the
# cross toolchain, and the build uses header-only parts of Boost, so the build
# machine's libboost-dev serves the target too.
#
# musl:mipsel is not linked against: its libc.so is the list of C library
# symbols that an OpenWrt controller offers, for the plug-in's libc check.
set -euo pipefail

arch=mipsel
build_packages=(cmake g++-mipsel-linux-gnu qemu-user libboost-dev)
target_packages=(libjsoncpp-dev:"$arch" libgtest-dev:"$arch" libgmock-dev:"$arch" musl:"$arch")

missing=()
for p in "${build_packages[@]}" "${target_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]}" >&2
  echo "run this script as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  dpkg --add-architecture "$arch"
fi
echo "installing: ${missing[*]}"
apt-get update -qq
# --no-remove: resolving a :mipsel package must never take away the native
# toolchain or the cross compiler; fail instead.
apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}"
