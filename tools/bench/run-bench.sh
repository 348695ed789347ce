#!/bin/bash
# Builds a benchmark in build/win64 and runs it under that folder's Wine bench.
#   transport: MB/s of each transport beside a plain winsock loop for 1, 64 and
#              256 MiB from the loopback test server, and the peak working set
#              (about five minutes)
#   package:   extraction of a 64 MiB stream from an appended package against
#              CopyFileA of the same bytes, and the peak working sets
# Its Wine bench replaces any running in that folder.
#   tools/bench/run-bench.sh transport|package [build folder, default build/win64]
set -eu
case ${1:-} in
  transport) target=transport_bench; program=tools/bench/transport_bench.exe ;;
  package) target=package_bench; program=tests/package/package_bench.exe ;;
  *) echo "usage: $0 transport|package [build folder]" >&2; exit 2 ;;
esac
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=${1:-build/win64}
mkdir -p "$build"
build=$(cd "$build" && pwd)
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
fi
cmake --build "$build" --target $target wine_warmup -j2
bench=$root/tests/support/wine-bench.sh
trap '"$bench" stop "$build" >/dev/null 2>&1' EXIT
"$bench" start "$build" "$build/tests/support/wine_warmup.exe" >/dev/null
# Wine's helper processes keep inherited pipes open: the output goes to a file.
out=$build/$target.txt
status=0
"$root/tests/support/wine-run.sh" "$build" "$build/$program" >"$out" 2>&1 || status=$?
cat "$out"
exit $status
