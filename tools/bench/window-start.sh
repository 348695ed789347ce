#!/bin/bash
# Start time of the setup window under Wine: from the process start until its
# main window is mapped, for two builds of setup_app_driven.exe taken in
# turns in one Wine bench (one prefix, one wineserver, 96 DPI, English), so
# both see the same machine load. The site is a loopback listener that never
# answers, as in tools/screenshot.sh. Runs in a network namespace of its own.
#   tools/bench/window-start.sh OLD.exe NEW.exe [runs, default 9] [build, default build/win64]
# The build folder gives the prefix and the warm-up program
# (cmake --build build/win64 --target setup_app_driven wine_warmup).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${WINDOW_BENCH_NS:-}" ]; then
  exec unshare --net env WINDOW_BENCH_NS=1 bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi
old=$(realpath "$1") new=$(realpath "$2") runs=${3:-9}
build=$(cd "${4:-$root/build/win64}" && pwd)
# The window's title names the product of the build's branding.
source "$build/branding.sh" || exit 1
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=en_US.UTF-8
wine=/usr/lib/wine/wine64
bench() { "$root/tests/support/wine-bench.sh" "$@" "$build/tests/support/wine_warmup.exe" >/dev/null; }

listener=
trap '[ -n "$listener" ] && kill "$listener"; bench stop "$build"' EXIT
bench start "$build"
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
bench start "$build"  # the DPI is read when the server starts
export DISPLAY=$(cat "$build/wine-bench/display")
python3 -c '
import socket
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 80)); s.listen(64); s.settimeout(600); held = []
try:
    while True: held.append(s.accept()[0])
except Exception: pass' &
listener=$!
until ss -ltn | grep -q '127.0.0.1:80 '; do sleep 0.05; done

now_ms() { echo $(($(date +%s%N) / 1000000)); }
time_one() {  # exe: prints milliseconds until its window is viewable
  local t0 id="" pid
  t0=$(now_ms)
  SETUP_E2E_ADDRESSES=127.0.0.1,127.0.0.3 "$wine" "$1" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 2000); do
    id=$(xwininfo -name "$BRAND_PRODUCT Setup" 2>/dev/null | awk '/Window id:/ {print $4}')
    [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q IsViewable && break
    id=""; sleep 0.01
  done
  local t=$(($(now_ms) - t0))
  kill "$pid"; wait "$pid" 2>/dev/null || true
  for _ in $(seq 100); do xwininfo -name "$BRAND_PRODUCT Setup" >/dev/null 2>&1 || break; sleep 0.05; done
  [ -n "$id" ] || { echo "no window from $1" >&2; return 1; }
  echo "$t"
}

# One untimed run each: the first start after the server loads its caches.
time_one "$old" >/dev/null; time_one "$new" >/dev/null
: >"$build/window-start.old"; : >"$build/window-start.new"
for i in $(seq "$runs"); do
  # Alternate which goes first, so neither always follows the other.
  if [ $((i % 2)) = 1 ]; then order="old new"; else order="new old"; fi
  for which in $order; do
    [ "$which" = old ] && exe=$old || exe=$new
    time_one "$exe" >>"$build/window-start.$which"
  done
done
for which in old new; do
  sort -n "$build/window-start.$which" | awk -v name="$which" '
    { v[NR] = $1 }
    END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%s: median %d ms, quartiles %d-%d ms, range %d-%d ms, %d runs\n",
                 name, m, v[int((NR + 3) / 4)], v[NR + 1 - int((NR + 3) / 4)], v[1], v[NR], NR }'
done
# The load moves both of a pair alike: the median of the pairs' differences.
paste "$build/window-start.old" "$build/window-start.new" | awk '{ print $2 - $1 }' | sort -n |
  awk '{ d[NR] = $1 } END { printf "new - old, median of %d pairs: %+d ms\n", NR, (NR % 2) ? d[(NR + 1) / 2] : (d[NR / 2] + d[NR / 2 + 1]) / 2 }'
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
