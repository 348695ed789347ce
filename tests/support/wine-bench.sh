#!/bin/bash
# Starts or stops the Wine bench of one build folder: an Xvfb display, a
# persistent wineserver for the prefix in <build>/wineprefix, and a warm-up.
#   wine-bench.sh start <build> [warmup.exe]
#   wine-bench.sh stop <build>
set -u
cmd=$1; build=$(cd "$2" && pwd)
state=$build/wine-bench
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The 32-bit bench (wine32-bench.sh) names the Wine of its own tree.
WINE=${SETUP_WINE:-/usr/lib/wine/wine64}
SERVER=${SETUP_WINESERVER:-/usr/lib/wine/wineserver}
mkdir -p "$state"

stop_server() {
  if [ -f "$state/wineserver.pid" ]; then
    "$SERVER" -k >/dev/null 2>&1
    pid=$(cat "$state/wineserver.pid")
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
    rm -f "$state/wineserver.pid"
  fi
}

# The server needs its prefix folder, and must be up before the first client:
# otherwise that client starts a server of its own, which ends when idle, and
# a test that connects as it ends fails.
start_server() {
  "$SERVER" -f -p </dev/null >/dev/null 2>&1 &
  pid=$!
  echo $pid > "$state/wineserver.pid"
  # Once ready, the server works from its own folder (server-<device>-<inode>).
  for _ in $(seq 200); do
    case $(readlink "/proc/$pid/cwd" 2>/dev/null) in */server-*) return 0 ;; esac
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "wineserver did not start for $WINEPREFIX" >&2
  return 1
}

stop() {
  stop_server
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null
    rm -f "$state/xvfb.pid"
  fi
}

case $cmd in
start)
  stop
  # A display of our own, unless the caller insists on one.
  if [ -n "${SETUP_TEST_DISPLAY:-}" ]; then
    echo "$SETUP_TEST_DISPLAY" > "$state/display"
  else
    n=90
    while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
    echo $! > "$state/xvfb.pid"
    echo ":$n" > "$state/display"
    for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.05; done
  fi
  export DISPLAY=$(cat "$state/display")
  mkdir -p "$WINEPREFIX"
  start_server || exit 1
  if [ ! -f "$WINEPREFIX/.setup-ready" ]; then
    "$WINE" wineboot -i >"$state/wineboot.log" 2>&1
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >"$state/reg.log" 2>&1
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$state/reg.log" 2>&1
    touch "$WINEPREFIX/.setup-ready"
    # On the prefix's first server (two service managers were seen running)
    # every test process waited about fifteen seconds more: the bench runs on
    # a server started afresh, as on every later run.
    stop_server
    start_server || exit 1
  fi
  # Starts Wine's helper processes with their output to a file, so that no
  # test's captured output is held open by them.
  if [ -n "${3:-}" ]; then "$WINE" "$3" >"$state/warmup.log" 2>&1; fi
  # The test authority, whose signer signs the updaters the tests start, and
  # a second one the machine trusts but the build does not pin.
  : >"$state/trust.log"
  for root in ca other-ca; do
    [ -f "$build/certs/$root.der" ] || continue
    bash "$(dirname "$0")/trust-root.sh" "$WINEPREFIX" "$build/certs/$root.der" >>"$state/trust.log" 2>&1 ||
      { cat "$state/trust.log"; exit 1; }
  done
  echo "wine bench ready: prefix $WINEPREFIX display $DISPLAY"
  ;;
stop)
  stop
  echo "wine bench stopped"
  ;;
*) echo "usage: $0 start|stop <build> [warmup.exe]" >&2; exit 2 ;;
esac
