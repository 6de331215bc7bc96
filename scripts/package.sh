#!/usr/bin/env bash
# Builds the Debian package of the site gateway (qorv-host, halvex-sim, the
# plug-in, the docs, the example site and the systemd unit) with CPack:
#
#   scripts/package.sh [BUILD_DIR]      (default: build-package)
#
# Prints the package's path. The build has no tests and its qorv-host loads
# the plug-in from where the package installs it.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
fi
build=${1:-build-package}
command -v dpkg-shlibdeps >/dev/null ||
  { echo "package: dpkg-shlibdeps is missing (apt-get install dpkg-dev)" >&2; exit 2; }

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DHALVEX_TESTS=OFF -DHALVEX_BENCHMARKS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DQORV_HOST_PLUGIN=/usr/lib/qorv/plugins/halvex_30.so >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB >cpack.log) || { cat "$build/cpack.log" >&2; exit 1; }
ls "$build"/qorv-host_*.deb
