#!/bin/bash
# Builds the transport benchmark in build/win64 and runs it under that
# folder's Wine bench: MB/s of each transport beside a plain winsock loop for
# 1, 64 and 256 MiB from the loopback test server, and the peak working set.
# Takes about five minutes; its Wine bench replaces any running in that folder.
#   tools/bench/run-transport-bench.sh [build folder, default build/win64]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=${1:-build/win64}
mkdir -p "$build"
build=$(cd "$build" && pwd)
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
fi
cmake --build "$build" --target transport_bench wine_warmup -j2
bench=$root/tests/support/wine-bench.sh
trap '"$bench" stop "$build" >/dev/null 2>&1' EXIT
"$bench" start "$build" "$build/tests/support/wine_warmup.exe" >/dev/null
# Wine's helper processes keep inherited pipes open: the output goes to a file.
out=$build/transport-bench.txt
status=0
"$root/tests/support/wine-run.sh" "$build" "$build/tools/bench/transport_bench.exe" >"$out" 2>&1 || status=$?
cat "$out"
exit $status
