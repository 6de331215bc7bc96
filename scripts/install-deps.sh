#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests, the fuzz targets
# and the valgrind check need (the mipsel stage installs its cross packages
# itself: scripts/ci/install-mipsel.sh).
# As root it installs what is missing; otherwise it prints the command to run.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libjsoncpp-dev libboost-dev libboost-date-time-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev libcli11-dev libcairo2-dev libexpat1-dev
  libmosquitto-dev mosquitto mosquitto-clients openssl libsystemd-dev
  libcpp-httplib-dev prometheus
  clang-14 clang-format-14 libclang-rt-14-dev valgrind
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
