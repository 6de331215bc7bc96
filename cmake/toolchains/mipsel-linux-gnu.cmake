# Cross build for little-endian MIPS32 controllers (32-bit long, strict
# alignment), with Debian's multiarch cross toolchain. Install it with
# scripts/ci/install-mipsel.sh. Binaries built here run on the build machine
# under qemu-user, so ctest works unchanged.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(halvex_target_triple mipsel-linux-gnu)
set(CMAKE_C_COMPILER ${halvex_target_triple}-gcc)
set(CMAKE_CXX_COMPILER ${halvex_target_triple}-g++)

# Target packages (libjsoncpp-dev:mipsel, libgtest-dev:mipsel) live in the
# multiarch directories /usr/lib/mipsel-linux-gnu and /usr/include, not in a
# separate sysroot, so no CMAKE_SYSROOT or CMAKE_FIND_ROOT_PATH is set: naming
# the library architecture is what keeps find_package on the mipsel copies.
# Boost is header-only here and the cross compiler already searches
# /usr/include after its own target headers; never add -I/usr/include, which
# would put the build machine's C library headers ahead of the target's.
set(CMAKE_LIBRARY_ARCHITECTURE ${halvex_target_triple})

# The target C library (ld.so.1, libc, libstdc++) sits under this prefix.
set(halvex_target_prefix /usr/${halvex_target_triple})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel -L ${halvex_target_prefix})

# gtest_discover_tests would run every test binary under qemu at build time;
# list the tests when ctest runs instead.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
