#!/usr/bin/env bash
# Lists every host symbol halvex_30.so imports that a host binary does not
# define, from the two files' dynamic symbol tables. A symbol listed makes
# dlopen fail on that host (or, loaded lazily, the first call).
#
# Not the host's to define, so never listed:
#  - versioned imports (GLIBC_*, GLIBCXX_*, CXXABI_*, GCC_*): the C and C++
#    runtime;
#  - weak imports: the toolchain's optional hooks;
#  - symbols that a library the plug-in itself needs (DT_NEEDED: jsoncpp, the
#    runtime) defines; each is looked up on this machine, in the multiarch
#    folders for the plug-in's machine, or in the folders given with --lib-dir.
#
# readelf reads any ELF machine, so a mipsel plug-in and host are checked on
# the build machine as they are.
set -uo pipefail

usage() {
  cat <<'EOF'
usage: scripts/check-host-imports.sh [--lib-dir DIR]... HOST_BINARY [PLUGIN]

Prints each host symbol PLUGIN imports that HOST_BINARY (the vendor's host
executable, or the shared library holding its host layer) does not export,
with its demangled name. PLUGIN defaults to build/plugin/halvex_30.so.

  --lib-dir DIR   also look for the plug-in's own libraries (jsoncpp, the
                  C++ runtime) in DIR, e.g. a target sysroot's lib folder

Exit status: 0 every import defined, 1 some missing, 2 usage error or an
input that cannot be read.
EOF
}

die() {
  echo "check-host-imports: $*" >&2
  exit 2
}

max_bytes=$((512 * 1024 * 1024)) # larger than any host or plug-in we accept

# An ELF file we may read: regular, readable, bounded, with an ELF header.
check_elf() {
  local file=$1
  [ -f "$file" ] || die "$file: no such regular file"
  [ -r "$file" ] || die "$file: not readable"
  [ "$(stat -c %s "$file")" -le "$max_bytes" ] || die "$file: larger than $max_bytes bytes"
  readelf -h "$file" >/dev/null 2>&1 || die "$file: not an ELF file"
}

# "class machine" of an ELF file, e.g. "ELF32 MIPS R3000".
machine_of() {
  readelf -h "$1" 2>/dev/null | awk -F': *' '
    $1 ~ /^ *Class$/ { class = $2 } $1 ~ /^ *Machine$/ { machine = $2 }
    END { print class " " machine }'
}

# Symbol names a file's dynamic table defines (any binding but local).
defined_symbols() {
  readelf --dyn-syms -W "$1" |
    awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && $5 != "LOCAL" && $8 != "" {
           sub(/@.*/, "", $8); print $8 }' | sort -u
}

# Symbols a file imports unversioned and strongly: what a host may have to
# provide.
unversioned_imports() {
  readelf --dyn-syms -W "$1" |
    awk '$1 ~ /^[0-9]+:$/ && $7 == "UND" && $5 == "GLOBAL" && $8 != "" && $8 !~ /@/ {
           print $8 }' | sort -u
}

needed_libraries() {
  readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'
}

# The file of a needed library built for the plug-in's machine.
find_library() {
  local name=$1 machine=$2 dir
  for dir in "${lib_dirs[@]}" /lib/*-linux-gnu* /usr/lib/*-linux-gnu* /usr/*-linux-gnu*/lib \
    /lib /usr/lib; do
    if [ -f "$dir/$name" ] && [ "$(machine_of "$dir/$name")" = "$machine" ]; then
      echo "$dir/$name"
      return 0
    fi
  done
  return 1
}

lib_dirs=()
args=()
while [ $# -gt 0 ]; do
  case $1 in
    -h | --help)
      usage
      exit 0
      ;;
    --lib-dir)
      [ $# -ge 2 ] || die "--lib-dir needs a folder"
      [ -d "$2" ] || die "--lib-dir $2: no such folder"
      lib_dirs+=("$2")
      shift 2
      ;;
    -*) die "unknown option $1 (see --help)" ;;
    *)
      args+=("$1")
      shift
      ;;
  esac
done
if [ ${#args[@]} -lt 1 ] || [ ${#args[@]} -gt 2 ]; then
  usage >&2
  exit 2
fi
command -v readelf >/dev/null || die "readelf not found (Debian package binutils)"

host=${args[0]}
plugin=${args[1]:-$(dirname "$0")/../build/plugin/halvex_30.so}
check_elf "$host"
check_elf "$plugin"
machine=$(machine_of "$plugin")
[ "$(machine_of "$host")" = "$machine" ] ||
  die "$host is $(machine_of "$host"), $plugin is $machine: not for the same controller"

work=$(mktemp -d) || die "cannot make a temporary folder"
trap 'rm -rf "$work"' EXIT

unversioned_imports "$plugin" >"$work/imports"
: >"$work/runtime"
for name in $(needed_libraries "$plugin"); do
  library=$(find_library "$name" "$machine") ||
    die "$plugin needs $name, which is not here for $machine; give its folder with --lib-dir"
  defined_symbols "$library" >>"$work/runtime"
done
sort -u -o "$work/runtime" "$work/runtime"
defined_symbols "$host" >"$work/host"

comm -23 "$work/imports" "$work/runtime" >"$work/from_host"
comm -23 "$work/from_host" "$work/host" >"$work/missing"
wanted=$(wc -l <"$work/from_host")
missing=$(wc -l <"$work/missing")

if [ "$missing" -eq 0 ]; then
  echo "check-host-imports: all $wanted host imports of $plugin are defined by $host"
  exit 0
fi
demangle="cat"
command -v c++filt >/dev/null && demangle=c++filt
paste "$work/missing" <($demangle <"$work/missing") | while IFS=$'\t' read -r symbol readable; do
  if [ "$symbol" = "$readable" ]; then echo "$symbol"; else echo "$symbol  $readable"; fi
done
echo "check-host-imports: $missing of $wanted host imports of $plugin not defined by $host" >&2
if [ "$missing" -eq "$wanted" ]; then
  echo "check-host-imports: it exports none of them: is the host linked with -rdynamic," \
    "or is its host layer in a shared library?" >&2
fi
exit 1
