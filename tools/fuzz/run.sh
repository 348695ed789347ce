#!/bin/bash
# Builds the fuzzing harnesses of tests/fuzz with clang (libFuzzer, ASan,
# UBSan) into build/fuzz and runs them.
#   tools/fuzz/run.sh TARGET SECONDS   one harness; the inputs it finds stay in
#                                      build/fuzz/corpus/TARGET for the next run
#   tools/fuzz/run.sh --all SECONDS    every harness from its seed corpus only,
#                                      two at a time (the test command's stage)
#   tools/fuzz/run.sh --list           the harnesses' names
# A crash, a sanitizer report or a broken property fails the run; the input
# that did it is kept as build/fuzz/crashes/TARGET-crash-*, and running the
# harness with that file as its argument repeats it.
set -e
cd "$(dirname "$0")/../.."
targets=$(cd tests/fuzz && ls *.cpp | sed 's/\.cpp$//')
case "$1" in
  --list) echo "$targets"; exit 0 ;;
  --all) all=1 ;;
  ""|-*) echo "usage: $0 TARGET SECONDS | --all SECONDS | --list" >&2; exit 2 ;;
  *) echo "$targets" | grep -qx "$1" || { echo "no harness $1 (tests/fuzz)" >&2; exit 2; } ;;
esac
seconds=${2:-60}

mkdir -p build
if [ ! -f build/fuzz/build.ninja ]; then
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSETUP_FUZZ=ON \
    -DSETUP_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >build/fuzz-configure.log 2>&1 ||
    { cat build/fuzz-configure.log; exit 1; }
fi
cmake --build build/fuzz >build/fuzz-build.log 2>&1 || { cat build/fuzz-build.log; exit 1; }
mkdir -p build/fuzz/crashes build/fuzz/logs

# run_one TARGET SECONDS NEW_INPUTS_FOLDER: the harness's log in build/fuzz/logs.
run_one() {
  mkdir -p "$3"
  build/fuzz/tests/fuzz/fuzz_$1 "$3" tests/fuzz/corpus/$1 -max_total_time=$2 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix=build/fuzz/crashes/$1- >build/fuzz/logs/$1.log 2>&1
}
summary() {
  local runs cov
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' build/fuzz/logs/$1.log)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' build/fuzz/logs/$1.log | tail -1)
  echo "fuzz $1: ${runs:-?} runs, $cov"
}

if [ -z "$all" ]; then
  echo "fuzz $1 for ${seconds}s (log: build/fuzz/logs/$1.log)"
  status=0
  run_one "$1" "$seconds" build/fuzz/corpus/$1 || status=$?
  summary "$1"
  [ $status = 0 ] || { tail -40 build/fuzz/logs/$1.log; exit 1; }
  exit 0
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=""
pids=()
names=()
finish() {  # waits for the oldest running harness
  if wait "${pids[0]}"; then summary "${names[0]}"; else failed="$failed ${names[0]}"; fi
  pids=("${pids[@]:1}")
  names=("${names[@]:1}")
}
for t in $targets; do
  [ ${#pids[@]} -lt 2 ] || finish
  run_one "$t" "$seconds" "$scratch/$t" &
  pids+=($!)
  names+=("$t")
done
while [ ${#pids[@]} -gt 0 ]; do finish; done
for t in $failed; do
  echo "fuzz $t FAILED:"
  tail -40 build/fuzz/logs/$t.log
done
[ -z "$failed" ]
