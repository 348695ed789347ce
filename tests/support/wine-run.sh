#!/bin/bash
# Runs one Windows test program under the Wine bench of a build folder.
#   wine-run.sh <build> program.exe [args...]
build=$1; shift
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$build/wine-bench/display" ]; then export DISPLAY=$(cat "$build/wine-bench/display"); fi
# Loopback addresses of this bench: tests bind 127.<octet>.x.y.
export SETUP_TEST_OCTET=${SETUP_TEST_OCTET:-$(( ($(cksum <<<"$build" | cut -d' ' -f1) % 200) + 20 ))}
# A Wine helper that the test starts on demand inherits its output and may
# live on while other tests use it; ctest then waited for it (a 3-second test
# took 78). The output goes through a file instead.
out=$(mktemp)
/usr/lib/wine/wine64 "$@" >"$out" 2>&1
status=$?
cat "$out"
rm -f "$out"
exit $status
