#!/bin/bash
# Line coverage of the platform-free core reached by the fuzzing corpora:
# builds the harnesses with clang's source coverage into build/fuzz-coverage,
# runs each once over its seeds and the inputs that tools/fuzz/run.sh kept in
# build/fuzz/corpus, and prints the files each harness reaches and the report
# for all of them together.
set -e
cd "$(dirname "$0")/../.."
out=build/fuzz-coverage
mkdir -p build
if [ ! -f $out/build.ninja ]; then
  flags="-fprofile-instr-generate -fcoverage-mapping"
  cmake -S . -B $out -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSETUP_FUZZ=ON \
    -DSETUP_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    >build/fuzz-coverage-configure.log 2>&1 || { cat build/fuzz-coverage-configure.log; exit 1; }
fi
cmake --build $out >build/fuzz-coverage-build.log 2>&1 || { cat build/fuzz-coverage-build.log; exit 1; }
rm -rf $out/profiles
mkdir -p $out/profiles
# Only the product's own sources count.
ignore='tests/|/usr/'
objects=()
for t in $(bash tools/fuzz/run.sh --list); do
  mkdir -p build/fuzz/corpus/$t
  LLVM_PROFILE_FILE=$out/profiles/$t.profraw $out/tests/fuzz/fuzz_$t -runs=0 tests/fuzz/corpus/$t \
    build/fuzz/corpus/$t >$out/profiles/$t.log 2>&1
  llvm-profdata merge -sparse $out/profiles/$t.profraw -o $out/profiles/$t.profdata
  # The files the harness reaches, with their line coverage.
  echo "$t:" $(llvm-cov report $out/tests/fuzz/fuzz_$t -instr-profile=$out/profiles/$t.profdata \
    -ignore-filename-regex="$ignore" | awk '$1 ~ /\.cpp$/ && $10 != "0.00%" {printf "%s %s, ", $1, $10}')
  objects+=(-object $out/tests/fuzz/fuzz_$t)
done
llvm-profdata merge -sparse $out/profiles/*.profraw -o $out/profiles/all.profdata
llvm-cov report "${objects[@]:1}" -instr-profile=$out/profiles/all.profdata -ignore-filename-regex="$ignore"
