#!/bin/bash
# Runs the window and language tests once per row of a language and a DPI,
# each chosen as a user's system chooses it: the language by LANG/LC_ALL of
# the Wine process, the DPI by HKCU\Control Panel\Desktop LogPixels with the
# wineserver started afresh. The rows run in a copy of the bench's prefix
# with a server of its own, so the bench's other tests keep their 96 DPI.
#   window-table.sh <build> [locale:dpi ...]     (default: en de ja ar at 96 and 144)
set -u
build=$(cd "$1" && pwd)
shift
rows=("$@")
[ ${#rows[@]} -gt 0 ] || rows=(en_US:96 de_DE:96 ja_JP:96 ar_EG:96 en_US:144 de_DE:144 ja_JP:144 ar_EG:144)
table=$build/wine-table
export WINEPREFIX=$table/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A display of its own: the rows press keys and watch the focus, which a
# window of a test running beside them on the bench's display could take.
n=150
while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=:$n
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.05; done
WINE=/usr/lib/wine/wine64
SERVER=/usr/lib/wine/wineserver
mkdir -p "$table"
if [ ! -f "$WINEPREFIX/.setup-ready" ]; then
  rm -rf "$WINEPREFIX"
  # The system folder (most of the prefix's 700 MB) is only read: linked.
  mkdir -p "$WINEPREFIX/drive_c"
  cp -al "$build/wineprefix/drive_c/windows" "$WINEPREFIX/drive_c/" &&
    (cd "$build/wineprefix" && tar cf - --exclude=./drive_c/windows .) | (cd "$WINEPREFIX" && tar xf -) || exit 1
fi

server=
stop_server() {
  [ -n "$server" ] || return 0
  "$SERVER" -k >/dev/null 2>&1
  for _ in $(seq 50); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$server" 2>/dev/null
  server=
}
# Up before the first client, as on the bench (wine-bench.sh says why).
start_server() {
  "$SERVER" -f -p </dev/null >/dev/null 2>&1 &
  server=$!
  for _ in $(seq 200); do
    case $(readlink "/proc/$server/cwd" 2>/dev/null) in */server-*) return 0 ;; esac
    sleep 0.05
  done
  echo "wineserver did not start for $WINEPREFIX" >&2
  return 1
}
trap 'stop_server; kill $xvfb 2>/dev/null' EXIT

failed=0
summary=
for row in "${rows[@]}"; do
  locale=${row%%:*}
  dpi=${row##*:}
  start_server || exit 1
  "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >"$table/reg.log" 2>&1
  # The DPI is read when the server and its first process start.
  stop_server
  start_server || exit 1
  result=passed
  for run in "app_window_test.exe SetupDialogTest.LayoutScalesWithTheDpiAndNoTextIsCut" \
    "app_drive_dialog_test.exe DriveDialogTest.KeyboardAloneAndNoTextIsCut:DriveDialogTest.ProxyPrompt*" \
    "app_language_test.exe Language.TheWindowSpeaksTheUsersLanguage"; do
    set -- $run
    out=$table/$locale-$dpi-${1%.exe}.log
    LANG=$locale.UTF-8 LC_ALL=$locale.UTF-8 SETUP_TEST_DPI=$dpi SETUP_TEST_LOCALE=${locale/_/-} \
      "$WINE" "$build/tests/app/$1" --gtest_filter="$2" >"$out" 2>&1
    if [ $? -ne 0 ]; then
      result=FAILED
      failed=1
      cat "$out"
    fi
  done
  stop_server
  summary+="$locale $dpi: $result"$'\n'
done
printf '%s' "$summary"
exit $failed
