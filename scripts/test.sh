#!/bin/bash
# Runs every test: installs what is missing, builds both Windows targets and
# the native core, runs the native tests (sanitizers) and the Windows tests
# (under Wine). --quick leaves out the tests labelled slow.
set -e
cd "$(dirname "$0")/.."
root=$PWD
quick=""
[ "${1:-}" = "--quick" ] && quick="-LE slow"
mkdir -p build
bash scripts/build.sh
cmake -S . -B build/native -G Ninja >build/native-configure.log 2>&1 || { cat build/native-configure.log; exit 1; }
cmake --build build/native
status=0
(cd build/native && ctest --output-on-failure $quick) || status=1
(cd build/win64 && ctest --output-on-failure $quick) || status=1
exit $status
