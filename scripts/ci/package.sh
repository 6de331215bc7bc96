#!/usr/bin/env bash
# CI stage: builds the Debian package, checks its control fields and
# contents, installs it on this machine (as root), verifies the systemd unit,
# checks the installed example site with `qorv-host check`, then purges the
# package and finds none of its files left behind.
set -euo pipefail
cd "$(dirname "$0")/../.."

started=$SECONDS
trap 'echo "package stage: $((SECONDS - started)) s"' EXIT
[ "$(id -u)" -eq 0 ] || { echo "package stage: installs the package, run it as root" >&2; exit 2; }

deb=$(scripts/package.sh | tail -n1)
echo "package: $deb ($(stat -c %s "$deb") bytes)"
dpkg-deb -f "$deb" Package Version Architecture Depends

fail() { echo "package stage: $*" >&2; exit 1; }
[ "$(dpkg-deb -f "$deb" Package)" = qorv-host ] || fail "wrong package name"
for dep in libjsoncpp25 libsqlite3-0 libmosquitto1 libcpp-httplib0.11 libstdc++6; do
  dpkg-deb -f "$deb" Depends | grep -q "$dep" || fail "Depends lacks $dep"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/qorv-host ./usr/bin/halvex-sim ./usr/lib/qorv/plugins/halvex_30.so \
  ./usr/lib/systemd/system/qorv-host@.service ./etc/qorv-host/demo.json \
  ./usr/share/doc/qorv-host/reference-host.md; do
  grep -qx "$path" <<<"$contents" || fail "the package lacks $path"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/qorv-host/demo.json ||
  fail "/etc/qorv-host/demo.json is not a configuration file"

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q "./$deb" >/dev/null
files=$(dpkg -L qorv-host)
systemd-analyze verify qorv-host@demo.service
/usr/bin/qorv-host --version
# Everything a start of the installed site would meet: the site file, the
# installed plug-in loaded by the installed host, its devices, the
# simulated port and the history folder; one line per item.
/usr/bin/qorv-host check /etc/qorv-host/demo.json ||
  fail "the installed host's check of /etc/qorv-host/demo.json failed (status $?)"

dpkg --purge qorv-host >/dev/null
left=$(while read -r f; do [ -e "$f" ] && [ ! -d "$f" ] && echo "$f"; done <<<"$files" || true)
[ -z "$left" ] || fail "files left after purge: $left"
echo "package stage: installed, verified, checked and purged $deb"
