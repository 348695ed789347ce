#!/bin/bash
# Takes a picture of the running setup window under the Wine bench, in a
# language and at a DPI as a user's system chooses them (LANG/LC_ALL of the
# Wine process; LogPixels with the wineserver started afresh), and saves it
# as docs/screenshot.png (or the path given second).
#
#   bash tools/screenshot.sh [build/win64] [docs/screenshot.png] [locale] [dpi]
#   bash tools/screenshot.sh --gallery [build/win64]
#
# locale: en_US (default), de_DE, ja_JP, ar_EG, ...; dpi: 96 (default), 120,
# 144, 192. --gallery takes the README's pictures into docs/gallery.
#
# Builds what it needs in a Windows test build folder (configured when new):
# the program variant whose host table the tests point at loopback
# addresses. The site is a loopback listener that accepts and never answers,
# so the window is caught while it contacts the site. Nothing leaves
# 127.0.0.0/8.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
gallery=
if [ "${1:-}" = --gallery ]; then
  gallery=1
  shift
fi
build=${1:-$root/build/win64}
out=${2:-$root/docs/screenshot.png}
locale=${3:-en_US}
dpi=${4:-96}
mkdir -p "$build"
build=$(cd "$build" && pwd)
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
fi
command -v import >/dev/null || apt-get install -y imagemagick >/dev/null
command -v xwininfo >/dev/null || apt-get install -y x11-utils >/dev/null

cmake --build "$build" --target setup_app_driven wine_warmup >/dev/null
octet=$(( ($(cksum <<<"$build/screenshot" | cut -d' ' -f1) % 200) + 20 ))
site=127.$octet.69.1

bench() { "$root/tests/support/wine-bench.sh" "$@" "$build/tests/support/wine_warmup.exe" >/dev/null; }
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64

listener=; setup=
set_dpi() {
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
cleanup() {
  [ -n "$setup" ] && kill "$setup" 2>/dev/null || true
  [ -n "$listener" ] && kill "$listener" 2>/dev/null || true
  set_dpi 96  # the prefix as the tests expect it
  "$root/tests/support/wine-bench.sh" stop "$build" >/dev/null
}
trap cleanup EXIT
bench start "$build"

python3 - "$site" <<'PY' >/dev/null 2>&1 &
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind((sys.argv[1], 80)); s.listen(16)
held = []
s.settimeout(300)
try:
    while True:
        held.append(s.accept()[0])
except Exception:
    pass
PY
listener=$!
sleep 0.5

# shot <locale> <dpi> <file>
shot() {
  set_dpi "$2"
  # The DPI is read when the server starts: the bench starts afresh.
  bench start "$build"
  export DISPLAY=$(cat "$build/wine-bench/display")
  LANG=$1.UTF-8 LC_ALL=$1.UTF-8 SETUP_E2E_ADDRESSES="$site,127.$octet.69.3" \
    "$wine" "$build/tests/app/setup_app_driven.exe" >"$build/screenshot-run.log" 2>&1 &
  setup=$!
  # The window by its program's class: its title follows the language.
  id=
  for _ in $(seq 100); do
    id=$(xwininfo -root -tree 2>/dev/null | awk '/"setup_app_driven.exe"/ && !/ 1x1\+/ {print $1; exit}')
    [ -n "$id" ] && break
    sleep 0.2
  done
  sleep 2  # let the lines settle
  mkdir -p "$(dirname "$3")"
  timeout 30 import -window "$id" "$3"
  kill "$setup" 2>/dev/null
  wait "$setup" 2>/dev/null || true
  setup=
  echo "saved $3 ($1, $2 DPI)"
}

if [ -n "$gallery" ]; then
  for row in en_US:96 en_US:144 de_DE:96 ja_JP:96 ar_EG:96; do
    shot "${row%%:*}" "${row##*:}" "$root/docs/gallery/${row%%:*}-${row##*:}.png"
  done
else
  shot "$locale" "$dpi" "$out"
fi
