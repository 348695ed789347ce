#!/bin/bash
# Starts or stops the 32-bit Wine bench of the shipped build folder: the
# i386 half of Wine from the cache (<build>/../cache/wine32, fetched on first
# use; $SETUP_WINE32_CACHE overrides), a prefix of both halves in
# <build>/wineprefix that trusts the test authority of <build>/certs, then
# the display and persistent wineserver of the 64-bit bench. Under emulation
# start registers a binfmt_misc entry of this build folder's own and stop
# removes it.
#   wine32-bench.sh fetch <build>   downloads what start needs (the tests
#                                   start it where no network is)
#   wine32-bench.sh start <build> [warmup.exe]
#   wine32-bench.sh stop <build>
# Scripts that run programs on the bench take its environment with
#   source wine32-bench.sh env <build>
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/support/wine32.sh
source "$here/wine32.sh"
cmd=$1; build=$(cd "$2" && pwd)
state=$build/wine-bench
cache=${SETUP_WINE32_CACHE:-$(dirname "$build")/cache/wine32}
entry=setup-i386-$(cksum <<<"$build" | cut -d' ' -f1)

case $cmd in
fetch)
  wine32_prepare "$cache" || exit 1
  if [ "$(wine32_route "$cache")" = emulated ]; then wine32_fetch_qemu "$cache" || exit 1; fi
  ;;
start)
  mkdir -p "$state"
  wine32_prepare "$cache" || exit 1
  route=$(wine32_route "$cache")
  echo "$cache" >"$state/wine32-cache"
  echo "$route" >"$state/route"
  if [ "$route" = emulated ]; then
    wine32_binfmt_on "$entry" "$cache" || { echo "cannot register the i386 emulator" >&2; exit 1; }
  fi
  wine32_env "$cache" "$route"
  export SETUP_WINE=$WINE32_WINE SETUP_WINESERVER=$WINE32_SERVER
  if [ ! -f "$build/wineprefix/.setup-ready" ]; then
    "$here/wine-bench.sh" stop "$build" >/dev/null
    bash "$here/make-certs.sh" "$build/certs" || exit 1
    start=$(date +%s)
    wine32_make_prefix "$build/wineprefix" "$state/wineboot.log" "$build/certs/ca.der" || exit 1
    touch "$build/wineprefix/.setup-ready"
    echo "wine32: prefix made in $(($(date +%s) - start)) s"
  fi
  echo "wine32: the i386 half runs $route"
  exec "$here/wine-bench.sh" start "$build" "${3:-}"
  ;;
stop)
  if [ -f "$state/route" ]; then
    wine32_env "$(cat "$state/wine32-cache")" "$(cat "$state/route")"
    export SETUP_WINE=$WINE32_WINE SETUP_WINESERVER=$WINE32_SERVER
  fi
  "$here/wine-bench.sh" stop "$build"
  wine32_binfmt_off "$entry"
  ;;
env)
  [ -f "$state/route" ] || { echo "no 32-bit bench in $build" >&2; return 1 2>/dev/null || exit 1; }
  wine32_env "$(cat "$state/wine32-cache")" "$(cat "$state/route")"
  export WINEPREFIX=$build/wineprefix
  if [ -f "$state/display" ]; then export DISPLAY=$(cat "$state/display"); fi
  ;;
*) echo "usage: $0 fetch|start|stop|env <build> [warmup.exe]" >&2; exit 2 ;;
esac
