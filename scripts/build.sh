#!/bin/bash
# Builds Setup.exe for both targets: build/win32/Setup.exe (shipped, 32-bit)
# and build/win64/Setup.exe (the one the tests run). Extra arguments go to
# every cmake configure (for example -DSETUP_HOST_1=example.test).
set -e
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/install-deps.sh
mkdir -p build
# The tests and the demo sign with the test authority of build/certs; both
# builds pin its key (a release build pins the maker's own: scripts/release.sh).
authority=(-DSETUP_TEST_AUTHORITY=$root/build/certs)
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=$root/cmake/toolchain-mingw-i686.cmake \
  -DSETUP_TESTS=OFF "${authority[@]}" "$@" >build/win32-configure.log 2>&1 || { cat build/win32-configure.log; exit 1; }
cmake --build build/win32
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=$root/cmake/toolchain-mingw-x86_64.cmake \
  -DSETUP_I686_SETUP=$root/build/win32/Setup.exe "${authority[@]}" "$@" >build/win64-configure.log 2>&1 || { cat build/win64-configure.log; exit 1; }
cmake --build build/win64
ls -l build/win32/Setup.exe build/win64/Setup.exe
