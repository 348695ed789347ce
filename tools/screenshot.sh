#!/bin/bash
# Takes a picture of the running setup window under the Wine bench and saves
# it as docs/screenshot.png (or the path given second).
#
#   bash tools/screenshot.sh [build/win64] [docs/screenshot.png]
#
# Builds what it needs in a Windows test build folder (configured when new):
# the program variant whose host table the tests point at loopback
# addresses. The site is a loopback listener that accepts and never answers,
# so the window is caught while it contacts the site. Nothing leaves
# 127.0.0.0/8.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/win64}
out=${2:-$root/docs/screenshot.png}
mkdir -p "$build"
build=$(cd "$build" && pwd)
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
fi
# The window's title names the product of the build's branding.
source "$build/branding.sh" || exit 1
command -v import >/dev/null || apt-get install -y imagemagick >/dev/null
command -v xwininfo >/dev/null || apt-get install -y x11-utils >/dev/null

cmake --build "$build" --target setup_app_driven wine_warmup >/dev/null
octet=$(( ($(cksum <<<"$build/screenshot" | cut -d' ' -f1) % 200) + 20 ))
site=127.$octet.69.1

"$root/tests/support/wine-bench.sh" start "$build" "$build/tests/support/wine_warmup.exe" >/dev/null
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=$(cat "$build/wine-bench/display")

listener=; setup=
cleanup() {
  [ -n "$setup" ] && kill "$setup" 2>/dev/null || true
  [ -n "$listener" ] && kill "$listener" 2>/dev/null || true
  "$root/tests/support/wine-bench.sh" stop "$build" >/dev/null
}
trap cleanup EXIT

python3 - "$site" <<'PY' >/dev/null 2>&1 &
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind((sys.argv[1], 80)); s.listen(16)
held = []
s.settimeout(60)
try:
    while True:
        held.append(s.accept()[0])
except Exception:
    pass
PY
listener=$!
sleep 0.5

SETUP_E2E_ADDRESSES="$site,127.$octet.69.3" /usr/lib/wine/wine64 "$build/tests/app/setup_app_driven.exe" >"$build/screenshot-run.log" 2>&1 &
setup=$!
for _ in $(seq 100); do
  xwininfo -root -tree 2>/dev/null | grep -qF "\"$BRAND_PRODUCT Setup\"" && break
  sleep 0.2
done
sleep 2  # let the lines settle
mkdir -p "$(dirname "$out")"
id=$(xwininfo -name "$BRAND_PRODUCT Setup" | awk '/Window id:/ {print $4}')
timeout 30 import -window "$id" "$out"
echo "saved $out"
