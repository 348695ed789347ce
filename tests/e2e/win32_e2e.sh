#!/bin/bash
# The shipped 32-bit Setup.exe, as built, end to end on the 32-bit bench
# (started by the wine32 fixture) in the tests' network namespace. Its host
# table names the default .test hosts, which do not resolve here, so it falls
# back to the table's address 127.0.0.1, where the demo's vendor site runs.
# The i686 driver answers the drive dialog; the i686 demo updater, signed by
# the test signer, stands in for the real one.
#   win32_e2e.sh web|package|site-down|window <win32 build> <win64 build>
# window: the 64-bit and the 32-bit window while the site does not answer,
# side by side: same size, same layout; prints both window start times.
set -u
[ $# -eq 3 ] || { echo "usage: $0 web|package|site-down|window <win32 build> <win64 build>" >&2; exit 2; }
mode=$1
build=$(cd "$2" && pwd) || exit 2
build64=$(cd "$3" && pwd) || exit 2
repo=$(cd "$(dirname "$0")/../.." && pwd)
# The shipped program looks its .test host names up: only a network
# namespace with loopback alone keeps those lookups, and port 80 of
# 127.0.0.1, to ourselves. Sockets live in the wineserver's namespace, so the
# bench must have been started in this one (scripts/test.sh does both).
if ip -o link show | awk -F': ' '{print $2}' | grep -vqx lo; then
  echo "skipped: run this in a network namespace with loopback only (unshare --net), bench included"
  exit 77
fi

for f in Setup.exe tools/demo_updater/demo_driver.exe tools/demo_updater/demo_updater.exe tools/maker/maker.exe; do
  [ -f "$build/$f" ] || { echo "missing $build/$f: build the i686 folder first (scripts/build.sh)"; exit 1; }
done
# shellcheck source=tests/support/wine32-bench.sh
source "$repo/tests/support/wine32-bench.sh" env "$build" || exit 1
WINE=$WINE32_WINE
prefix=$WINEPREFIX
out=$build/e2e/$mode
rm -rf "$out"
mkdir -p "$out"
now_ms() { echo $(($(date +%s%N) / 1000000)); }
seconds() { printf '%d.%02d' $(($1 / 1000)) $(($1 % 1000 / 10)); }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
passes=0 failures=0
check() {  # description, then a command that must succeed
  local what=$1; shift
  if "$@"; then echo "ok:    $what"; passes=$((passes + 1)); else echo "WRONG: $what"; failures=$((failures + 1)); fi
}
has() { grep -qF -- "$2" "$1" 2>/dev/null; }
lacks() { ! grep -qF -- "$2" "$1" 2>/dev/null; }

started=""
cleanup() {
  [ -z "$started" ] || kill "$started" 2>/dev/null
  if [ -f "$out/nginx/logs/nginx.pid" ]; then kill -QUIT "$(cat "$out/nginx/logs/nginx.pid")" 2>/dev/null; fi
}
trap cleanup EXIT

# No trace of an earlier run, in either registry view or Program Files.
for view in 32 64; do "$WINE" reg delete 'HKLM\Software\Brannock' /reg:$view /f >/dev/null 2>&1; done
x86="$prefix/drive_c/Program Files (x86)/Pellomar"
rm -rf "$x86" "$prefix/drive_c/Program Files/Pellomar" "$prefix/drive_c/Downloads"
mkdir -p "$prefix/drive_c/Downloads"
updater_log=$out/updater.log
export SETUP_DEMO_UPDATER_LOG SETUP_DEMO_UPDATER_CLOSE=0
SETUP_DEMO_UPDATER_LOG=$(winpath "$updater_log")
tools=$build/tools/demo_updater

# The updater the site serves and the package carries: signed by the test
# signer (whatever signature the build gave it is replaced).
signed=$out/Update.exe_uncompressed
osslsigncode remove-signature -in "$tools/demo_updater.exe" -out "$out/unsigned.exe" >/dev/null 2>&1 ||
  cp "$tools/demo_updater.exe" "$out/unsigned.exe"
"$build/certs/sign-file.sh" signer "$out/unsigned.exe" "$signed" || { echo "cannot sign the updater"; exit 1; }

serve() {  # gateway answer
  local site=$out/nginx/site
  mkdir -p "$out/nginx/logs" "$out/nginx/tmp" "$out/cab"
  cp -r "$repo/demo/site" "$site"
  mv "$site/area" "$site/pellomar"
  cp "$signed" "$out/cab/NewUpdate.exe"
  (cd "$out/cab" && gcab -c -z "$site/pellomar/Update.exe" NewUpdate.exe) || return 1
  cp "$signed" "$site/pellomar/Update.exe_uncompressed"
  printf '%s' "$1" >"$site/secure/gateway_new.php"
  chmod -R a+rX "$site"
  nginx -p "$out/nginx/" -c "$repo/demo/nginx.conf" -e logs/error.log >"$out/nginx-start.log" 2>&1
}

# Runs a setup under the i686 driver; its output goes to driver.log.
drive() {  # windows path of the setup, seconds to wait for the updater's report
  local t0=$(now_ms)
  "$WINE" "$(winpath "$tools/demo_driver.exe")" --timeout 150 "$1" >"$out/driver.log" 2>&1
  tr -d '\r' <"$out/driver.log" | sed 's/^/  /'
  echo "setup run: $(seconds $(($(now_ms) - t0))) s"
  # The updater is started, not waited for: give it the time to write.
  for _ in $(seq $(($2 * 10))); do grep -q -- '^--' "$updater_log" 2>/dev/null && break; sleep 0.1; done
}

value32() {  # registry value of the family key in the 32-bit view
  # Into a file: a Wine helper it starts could hold a pipe open.
  "$WINE" reg query 'HKLM\Software\Brannock\Pellomar' /v "$1" /reg:32 >"$out/reg.txt" 2>&1
  tr -d '\r' <"$out/reg.txt" | sed -n "s/^ *$1 *REG_SZ *//p"
}
no_key64() { ! "$WINE" reg query 'HKLM\Software\Brannock' /reg:64 >/dev/null 2>&1; }
log=$out/nginx/logs/access.log
folder='C:\Program Files (x86)\Pellomar'

case $mode in
web)
  serve http://www.brannock.test/pellomar/ || { cat "$out/nginx-start.log"; exit 1; }
  drive "$(winpath "$build/Setup.exe")" 10
  check "the drive dialog was answered" has "$out/driver.log" "pressed OK"
  check "the setup ended with exit code 0" has "$out/driver.log" "setup ended with exit code 0"
  check "the updater started in Program Files (x86)" \
    has "$updater_log" "Command line: \"$folder\\Update.exe\" /Setup=Tamsu"$'\r'
  check "its working folder" has "$updater_log" "Working folder: $folder"$'\r'
  check "the updater in the folder is the signed one from the cabinet" cmp -s "$x86/Update.exe" "$signed"
  check "nothing else in the folder" test "$(ls "$x86")" = Update.exe
  check "InstallDir in the 32-bit registry view" test "$(value32 InstallDir)" = "$folder\\"
  check "nothing in the 64-bit view" no_key64
  check "connection test of the site" grep -Eq '"GET /secure/test_pattern.txt\?Rand=[0-9]+"' "$log"
  check "gateway query" grep -Eq '"GET /secure/gateway_new.php\?Product=Pellomar&Bios=[0-9a-f]+.*&Rand=[0-9]+"' "$log"
  check "connection test of the download area" grep -Eq '"GET /pellomar/test_pattern.txt\?Rand=[0-9]+"' "$log"
  check "the cabinet, once" test "$(grep -Ec '"GET /pellomar/Update.exe\?Rand=[0-9]+" .*status=200' "$log")" = 1
  check "no fallback to the uncompressed updater" lacks "$log" "_uncompressed"
  # Again: the folder comes back from the 32-bit view and the updater is
  # there, so no dialog and no download.
  rm -f "$updater_log"
  drive "$(winpath "$build/Setup.exe")" 10
  check "second run: no drive dialog" has "$out/driver.log" "no drive dialog (installation folder already known)"
  check "second run: the updater started again" \
    has "$updater_log" "Command line: \"$folder\\Update.exe\" /Setup=Tamsu"$'\r'
  check "second run: nothing downloaded" test "$(grep -c '"GET /pellomar/Update.exe' "$log")" = 1
  ;;
package)
  # The gateway names 127.0.0.3, where nothing listens: the updater can only
  # come from the package. The maker's tool is the i686 one.
  serve http://127.0.0.3/pellomar/ || { cat "$out/nginx-start.log"; exit 1; }
  maker=$(winpath "$build/tools/maker/maker.exe")
  setup='C:\Downloads\Setup.exe'
  "$WINE" "$maker" embed "$(winpath "$build/Setup.exe")" -o "$setup" --updater "$(winpath "$signed")" \
    "Update.exe_uncompressed=$(winpath "$signed")" >"$out/maker.log" 2>&1 &&
    "$WINE" "$maker" stamp "$setup" --in-place 'Source=e2e&Mode=package' >>"$out/maker.log" 2>&1 ||
    { cat "$out/maker.log"; exit 1; }
  drive "$setup" 10
  check "the drive dialog was answered" has "$out/driver.log" "pressed OK"
  check "the updater started from the package, naming the setup" has "$updater_log" \
    "Command line: \"$folder\\Update.exe\" /Setup=Tamsu /Bulk=\"$setup\""$'\r'
  check "the stamped parameters were merged before it started" has "$updater_log" \
    "WWWParams at start: &Source=e2e&Mode=package"$'\r'
  check "the updater in the folder is the signed one" cmp -s "$x86/Update.exe" "$signed"
  check "InstallDir in the 32-bit registry view" test "$(value32 InstallDir)" = "$folder\\"
  check "gateway query" grep -Eq '"GET /secure/gateway_new.php\?Product=Pellomar' "$log"
  check "no request to the download area" lacks "$log" "/pellomar/"
  ;;
site-down)
  drive "$(winpath "$build/Setup.exe")" 1
  check "the window showed the contact failure" has "$out/driver.log" "shows the error \"Can't contact Pellomar site\""
  check "the setup ended when cancelled" has "$out/driver.log" "setup ended with exit code"
  check "no drive dialog" lacks "$out/driver.log" "drive dialog shown"
  check "no updater started" test ! -e "$updater_log"
  check "no folder made" test ! -e "$x86"
  check "nothing stored" test -z "$(value32 InstallDir)"
  ;;
window)
  # A listener that takes connections and never answers: the window stays
  # on "Contacting" while it is pictured.
  python3 -c '
import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 80)); s.listen(16); s.settimeout(90); held = []
try:
    while True: held.append(s.accept()[0])
except Exception: pass' &
  started=$!
  # Both pictures need the listener: a refused connect ends the contact at once.
  for _ in $(seq 100); do
    ss -ltn 2>/dev/null | awk '{print $4}' | grep -qx '127.0.0.1:80' && break
    sleep 0.05
  done
  shoot() {  # name setup.exe: starts it, times its window, pictures it
    local t0 t id pid
    t0=$(now_ms)
    "$WINE" "$2" >"$out/$1.log" 2>&1 &
    pid=$!
    for _ in $(seq 600); do
      id=$(xwininfo -name "Tamsu Setup" 2>/dev/null | awk '/Window id:/ {print $4}')
      [ -n "$id" ] && xwininfo -id "$id" | grep -q IsViewable && break
      id=""; sleep 0.05
    done
    t=$(($(now_ms) - t0))
    if [ -z "$id" ]; then echo "no window of $1"; kill "$pid"; return 1; fi
    sleep 2  # the lines settle
    timeout 30 import -window "$id" "$out/$1.png"
    kill "$pid"; wait "$pid" 2>/dev/null
    for _ in $(seq 100); do xwininfo -name "Tamsu Setup" >/dev/null 2>&1 || break; sleep 0.1; done
    echo "$1 window start: $(seconds "$t") s"
  }
  shoot win64 "$build64/Setup.exe" || exit 1
  shoot win32 "$build/Setup.exe" || exit 1
  size64=$(identify -format '%wx%h' "$out/win64.png")
  size32=$(identify -format '%wx%h' "$out/win32.png")
  echo "window sizes: win64 $size64, win32 $size32"
  check "both windows have the same size" test "$size64" = "$size32"
  # Same picture, texts and lines at the same places: at most a few pixels
  # of antialiasing differ.
  differ=$(compare -metric AE -fuzz 10% "$out/win64.png" "$out/win32.png" "$out/difference.png" 2>&1)
  pixels=$(( ${size64%x*} * ${size64#*x} ))
  echo "pixels that differ: $differ of $pixels"
  check "the same layout" test "${differ%% *}" -le $((pixels / 200))
  ;;
*) echo "unknown mode $mode" >&2; exit 2 ;;
esac
echo "$passes passed, $failures failed"
exit $((failures > 0))
