#!/bin/bash
# Runs every test: installs what is missing, builds both Windows targets and
# the native core, runs the native tests (sanitizers) and the Windows tests
# (under Wine). --quick leaves out the tests labelled slow.
# The tests run in a network namespace of their own with loopback only, where
# the platform allows one, so that nothing can reach another address.
set -e
cd "$(dirname "$0")/.."
quick=""
run_only=""
for a in "$@"; do
  case $a in
    --quick) quick="-LE slow" ;;
    --run-only) run_only=1 ;;  # internal: the namespace's half
    *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
  esac
done
if [ -z "$run_only" ]; then
  bash scripts/build.sh
  cmake -S . -B build/native -G Ninja >build/native-configure.log 2>&1 || { cat build/native-configure.log; exit 1; }
  cmake --build build/native
  # The release build of the maker's tool, which the demo's download service runs.
  cmake -S . -B build/maker-release -G Ninja -DSETUP_SANITIZE=OFF -DSETUP_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
    >build/maker-release-configure.log 2>&1 || { cat build/maker-release-configure.log; exit 1; }
  cmake --build build/maker-release --target maker
  # The 32-bit bench's downloads (once; the tests run where no network is).
  bash tests/support/wine32-bench.sh fetch build/win32 || echo "note: the win32 tests will fail: no 32-bit Wine"
  if unshare --net true 2>/dev/null; then
    exec unshare --net bash -c 'ip link set lo up && exec bash "$@"' tests scripts/test.sh --run-only "$@"
  fi
  echo "note: no private network here (unshare --net failed); the tests run in the machine's own"
fi
# The 32-bit bench (label win32) may register an i386 emulator with the
# kernel: however the run ends, that entry goes with it.
trap 'bash tests/support/wine32-bench.sh stop build/win32 >/dev/null 2>&1' EXIT
status=0
(cd build/native && ctest --output-on-failure $quick) || status=1
# Side by side: most Windows tests wait on network limits, not the processor;
# tests that share the prefix's state take turns (see cmake/testing.cmake).
(cd build/win64 && ctest --output-on-failure -j3 $quick) || status=1
# Fuzz stage: every harness of tests/fuzz for a few seconds from its seeds.
bash tools/fuzz/run.sh --all 5 || status=1
exit $status
