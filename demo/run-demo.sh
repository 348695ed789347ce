#!/bin/bash
# The demo: a local vendor site (nginx on 127.0.0.1:80), Setup.exe under Wine,
# and a report of what happened.
#   bash demo/run-demo.sh             web install: the updater comes as a cabinet
#   bash demo/run-demo.sh --package   the updater comes from a package appended
#                                     to Setup.exe; the download area the gateway
#                                     names (127.0.0.3) has nothing listening
#   bash demo/run-demo.sh --site-down no site at all: what the user sees then
#   bash demo/run-demo.sh --tampered  the site serves the signed updater with one
#                                     byte changed: Setup.exe refuses to start it
#   bash demo/run-demo.sh --download PARTNER[,PARTNER...]
#                                     Setup.exe is downloaded from the site's
#                                     /download/Setup.exe?Partner=PARTNER&Campaign=demo,
#                                     a copy stamped by the download service
#                                     (maker serve under spawn-fcgi, nginx's
#                                     cache in front); one run per partner
#   bash demo/run-demo.sh --https     web install from a download area served over
#                                     TLS (nginx on 127.0.0.1:443, a demo TLS
#                                     authority trusted in the prefix)
# The demo signs the updater, its cabinet and Setup.exe with the build's test
# authority and a certificate for the branding's publisher (keys under
# <build>/certs; the build pins that authority's key) and trusts the
# authority in the demo's prefix. Every name (product, family, maker, hosts)
# comes from the build's branding (<build>/<win64|win32>/branding.sh).
#   --win32 (with any of the above)   the shipped 32-bit build/win32/Setup.exe
#                                     and the i686 demo programs, under the
#                                     32-bit half of Wine (tests/support/wine32.sh)
# Options for developers: --build <dir> builds only the demo's targets in
# <dir>/win64 (or <dir>/win32) instead of running scripts/build.sh; --no-build
# takes the build as it stands; --no-deps skips apt-get; --branding FILE
# builds with another branding file (with --build: a folder per branding).
# Everything runs from <build>/demo and every process started is stopped.
set -u
cd "$(dirname "$0")/.."
repo=$PWD
mode=web
build=$repo/build
own_build=""
deps=1
built=""
branding=()
win32=""
args=("$@")
while [ $# -gt 0 ]; do
  case $1 in
    --package) mode=package ;;
    --site-down) mode=down ;;
    --tampered) mode=tampered ;;
    --download)
      [[ "${2:-}" =~ ^[A-Za-z0-9._-]+(,[A-Za-z0-9._-]+)*$ ]] ||
        { echo "--download needs partner names (letters, digits, - _ .), separated by commas" >&2; exit 2; }
      mode=download; partner=$2; shift ;;
    --win32) win32=1 ;;
    --https) mode=https ;;
    --build)
      [ -n "${2:-}" ] || { echo "--build needs a folder" >&2; exit 2; }
      own_build=1; build=$(mkdir -p "$2" && cd "$2" && pwd) || exit 2; shift ;;
    --no-deps) deps="" ;;
    --branding)
      [ -f "${2:-}" ] || { echo "--branding needs a branding file" >&2; exit 2; }
      branding=(-DSETUP_BRANDING="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"); shift ;;
    --no-build) built=1 ;;
    *) echo "usage: $0 [--package | --site-down | --tampered | --https | --download PARTNER] [--win32] [--build <dir> | --no-build] [--no-deps] [--branding FILE]" >&2; exit 2 ;;
  esac
  shift
done

# Several partners: one whole run each, the build made once.
if [ "$mode" = download ] && [[ $partner == *,* ]]; then
  status=0 first=1 done_list=""
  for p in ${partner//,/ }; do
    rest=()
    for a in "${args[@]}"; do [ "$a" = "$partner" ] && rest+=("$p") || rest+=("$a"); done
    [ -z "$first" ] && rest+=(--no-build)
    bash "$repo/demo/run-demo.sh" "${rest[@]}" || status=1
    first=""
    done_list="$done_list $p"
    echo
  done
  [ $status -eq 0 ] && echo "demo (download mode): each partner's copy installed with its own parameters:$done_list"
  exit $status
fi
demo=$build/demo
prefix=$demo/nginx
export WINEPREFIX=$demo/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
bits=win64
program_files="Program Files"
view=64
if [ -n "$win32" ]; then
  # The 32-bit half comes from the cache in build/; it writes to the 32-bit
  # registry view and installs below "Program Files (x86)".
  source "$repo/tests/support/wine32.sh"
  wine32_cache=$build/cache/wine32
  export WINEPREFIX=$demo/wineprefix32
  bits=win32
  program_files="Program Files (x86)"
  view=32
fi
say() { printf '%s\n' "$*"; }
fail() { say "demo: $*" >&2; exit 1; }
# A Unix path as Wine's Z: drive sees it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# ---- stopping whatever we started, on every way out
nginx_started="" xvfb_pid="" wine_started="" driver_pid="" binfmt="" service_started=""
cleanup() {
  if [ -n "$service_started" ] && [ -f "$demo/service.pid" ]; then
    for pid in $(cat "$demo/service.pid"); do kill "$pid" 2>/dev/null; done
  fi
  if [ -n "$driver_pid" ]; then kill "$driver_pid" 2>/dev/null; fi
  if [ -n "$wine_started" ]; then "$WINESERVER" -k >/dev/null 2>&1; "$WINESERVER" -w >/dev/null 2>&1; fi
  if [ -n "$binfmt" ]; then wine32_binfmt_off "$binfmt"; fi
  if [ -n "$nginx_started" ] && [ -f "$prefix/logs/nginx.pid" ]; then
    pid=$(cat "$prefix/logs/nginx.pid")
    kill -QUIT "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- what is needed, and the build
mkdir -p "$demo"
if [ -z "$built" ]; then
if [ -n "$deps" ]; then bash scripts/install-deps.sh || fail "could not install the packages"; fi
say "build: Setup.exe and the demo's programs (log: $demo/build.log; the first build takes minutes)"
if [ -z "$own_build" ]; then
  bash scripts/build.sh "${branding[@]}" >"$demo/build.log" 2>&1 || { tail -30 "$demo/build.log"; fail "build failed (see $demo/build.log)"; }
  if [ "$mode" = download ]; then
    # The release build of the tool: no sanitizers in a long-running service.
    { cmake -S . -B "$build/maker-release" -G Ninja "${branding[@]}" -DSETUP_SANITIZE=OFF -DSETUP_TESTS=OFF \
        -DCMAKE_BUILD_TYPE=Release && cmake --build "$build/maker-release" --target maker; } >>"$demo/build.log" 2>&1 ||
      { tail -30 "$demo/build.log"; fail "build of the native maker's tool failed (see $demo/build.log)"; }
  fi
else
  targets="Setup demo_updater demo_driver demo_updater_cab maker"
  if [ -n "$win32" ]; then toolchain=mingw-i686; else toolchain=mingw-x86_64; fi
  { cmake -S . -B "$build/$bits" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-$toolchain.cmake" \
      -DSETUP_TEST_AUTHORITY="$build/certs" "${branding[@]}" &&
    cmake --build "$build/$bits" -j2 --target $targets; } \
    >"$demo/build.log" 2>&1 || { tail -30 "$demo/build.log"; fail "build failed (see $demo/build.log)"; }
fi
fi
if [ -n "$win32" ] && [ -z "${SETUP_DEMO_ISOLATED:-}" ]; then
  say "wine: the 32-bit half (downloaded into $wine32_cache on first use)"
  wine32_prepare "$wine32_cache" || fail "could not set up the 32-bit half of Wine"
  if [ "$(wine32_route "$wine32_cache")" = emulated ]; then wine32_fetch_qemu "$wine32_cache" || fail "no emulator"; fi
fi
bin=$build/$bits
setup_exe=$bin/Setup.exe
updater_exe=$bin/tools/demo_updater/demo_updater.exe
driver_exe=$bin/tools/demo_updater/demo_driver.exe
cabinet=$bin/tools/demo_updater/cab/Update.exe
maker_exe=$bin/tools/maker/maker.exe
native_maker=$build/maker-release/tools/maker/maker
source "$bin/branding.sh" || fail "missing $bin/branding.sh (the build writes it)"
area=$BRAND_AREA
[ "$mode" = download ] && [ ! -x "$native_maker" ] && fail "missing $native_maker (the native release build makes it)"
for f in "$setup_exe" "$updater_exe" "$driver_exe" "$cabinet" "$maker_exe"; do
  [ -f "$f" ] || fail "missing $f after the build"
done

# ---- a network of our own with loopback only: the default build looks up its
# ".test" host names first, and those lookups must fail here rather than go out
# to a name server. Everything below runs in that namespace.
if [ -z "${SETUP_DEMO_ISOLATED:-}" ]; then
  # The https mode also needs a mount namespace: a certificate names hosts,
  # so the namespace gets an /etc/hosts of its own for the site's names.
  namespaces=--net
  [ "$mode" = https ] && namespaces="--net --mount"
  if unshare $namespaces true 2>/dev/null; then
    trap - EXIT
    exec env SETUP_DEMO_ISOLATED=1 unshare $namespaces bash -c 'ip link set lo up && exec bash "$@"' demo \
      "$repo/demo/run-demo.sh" "${args[@]}" --no-build
  fi
  [ "$mode" = https ] && fail "the https mode needs a private network and mounts (unshare --net --mount)"
  say "note: no private network here (unshare --net failed): the .test host names go to the name service"
fi

# ---- signing: the build's test authority (<build>/certs), whose key the
# build pins, signs the updater, its cabinet and Setup.exe
certs=$build/certs
rm -rf "$demo/signed"
bash tests/support/make-certs.sh "$certs" "$BRAND_PUBLISHER" || fail "could not make the demo certificates"
mkdir -p "$demo/signed/stage"
bash "$certs/sign-file.sh" signer "$updater_exe" "$demo/signed/stage/NewUpdate.exe" || fail "signing the updater failed"
updater_exe=$demo/signed/stage/NewUpdate.exe
(cd "$demo/signed/stage" && gcab -c -z "$demo/signed/Update.cab" NewUpdate.exe) || fail "gcab failed"
# A cabinet the publisher signed is unpacked whole; an unsigned one gives
# only the updater.
bash "$certs/sign-file.sh" signer "$demo/signed/Update.cab" "$demo/signed/Update.exe" || fail "signing the cabinet failed"
cabinet=$demo/signed/Update.exe
say "signing: test authority and \"$BRAND_PUBLISHER\" code-signing certificate in $certs; updater and cabinet signed"

if [ -n "$win32" ]; then
  route=$(wine32_route "$wine32_cache")
  if [ "$route" = emulated ]; then
    binfmt=setup-i386-demo-$$
    wine32_binfmt_on "$binfmt" "$wine32_cache" || fail "cannot register the i386 emulator"
  fi
  wine32_env "$wine32_cache" "$route"
  WINE=$WINE32_WINE
  WINESERVER=$WINE32_SERVER
  say "wine: the 32-bit half runs $route"
fi

# ---- the vendor site: a copy of demo/site plus the built updater
rm -rf "$prefix"
mkdir -p "$prefix/logs" "$prefix/tmp"
# The download area is named after the family; the gateway's answer (one
# line: the area's address) names the maker's web host.
cp -r demo/site "$prefix/site"
mv "$prefix/site/area" "$prefix/site/$area"
printf 'http://%s/%s/' "$BRAND_HOST_2" "$area" >"$prefix/site/secure/gateway_new.php"
cp "$cabinet" "$prefix/site/$area/Update.exe"
cp "$updater_exe" "$prefix/site/$area/Update.exe_uncompressed"
if [ "$mode" = tampered ]; then
  # One byte of the signed updater's code changed, on both of the site's roads.
  tampered=$demo/signed/tampered.exe
  cp "$updater_exe" "$tampered"
  byte=$(od -An -tx1 -j 1100 -N 1 "$tampered" | tr -d ' ')
  printf "\\x$(printf '%02x' $((0x$byte ^ 0xff)))" | dd of="$tampered" bs=1 seek=1100 conv=notrunc status=none
  mkdir -p "$demo/signed/tampered-stage"
  cp "$tampered" "$demo/signed/tampered-stage/NewUpdate.exe"
  (cd "$demo/signed/tampered-stage" && gcab -c -z "$demo/signed/tampered.cab" NewUpdate.exe) || fail "gcab failed"
  bash "$certs/sign-file.sh" signer "$demo/signed/tampered.cab" "$prefix/site/$area/Update.exe" ||
    fail "signing the cabinet failed"
  cp "$tampered" "$prefix/site/$area/Update.exe_uncompressed"
  say "tampered: the site serves the signed updater with byte 1100 changed"
fi
if [ "$mode" = package ]; then printf 'http://127.0.0.3/%s/' "$area" >"$prefix/site/secure/gateway_new.php"; fi
# The TLS authority of an earlier https run leaves the prefix below.
tls_root=""
[ -f "$demo/tls/ca.der" ] && tls_root=$(sha1sum "$demo/tls/ca.der" | cut -c1-40 | tr a-f A-F)
rm -rf "$demo/tls"
if [ "$mode" = https ]; then
  # The site's names resolve to the demo's address, and nginx serves the same
  # files over TLS with a server certificate of a fresh demo TLS authority.
  printf '127.0.0.1 localhost %s %s\n' "$BRAND_HOST_1" "$BRAND_HOST_2" >"$demo/hosts"
  mount --bind "$demo/hosts" /etc/hosts || fail "cannot give the namespace its own /etc/hosts"
  bash tests/support/make-tls-certs.sh "$demo/tls" "$BRAND_HOST_1" "$BRAND_HOST_2" >"$demo/tls.log" 2>&1 ||
    { cat "$demo/tls.log"; fail "could not make the TLS certificates"; }
  mkdir -p "$prefix/tls"
  cp "$demo/tls/good.chain.pem" "$demo/tls/good.key" "$prefix/tls/"
  cp demo/nginx-tls.conf "$prefix/tls/https.conf"
  printf 'https://%s/%s/' "$BRAND_HOST_2" "$area" >"$prefix/site/secure/gateway_new.php"
fi
if [ "$mode" = download ]; then
  # The download service: the signed Setup.exe beside the site, stamped per
  # link by maker serve, as nobody (nginx's worker) on a socket only nobody
  # may use; nginx caches the copies.
  mkdir -p "$prefix/download" "$prefix/run"
  bash "$certs/sign-file.sh" signer "$setup_exe" "$prefix/download/Setup.exe" || fail "signing Setup.exe failed"
  chmod -R a+rX "$prefix/download"
  install -m 644 -o nobody -g nogroup /dev/null "$demo/service.log"
  spawn-fcgi -s "$prefix/run/download.sock" -M 0600 -U nobody -G nogroup -u nobody -g nogroup -F 2 \
    -P "$demo/service.pid" -- "$native_maker" serve "$prefix/download/Setup.exe" --log "$demo/service.log" \
    >"$demo/spawn-fcgi.log" 2>&1 || { cat "$demo/spawn-fcgi.log" "$demo/service.log"; fail "the download service did not start"; }
  service_started=1
fi
chmod -R a+rX "$prefix/site"
if ss -ltn 2>/dev/null | awk '{print $4}' | grep -Eq '^(127\.0\.0\.1|0\.0\.0\.0|\*|\[::\]):80$'; then
  fail "something already listens on port 80 of 127.0.0.1; stop it first (ss -ltnp)"
fi
if [ "$mode" = down ]; then
  say "site: none; nothing listens on 127.0.0.1:80"
else
  # A copy in the prefix: its includes and certificate paths are relative to
  # the configuration's own folder.
  sed "s|@prefix@|$prefix|g" demo/nginx.conf >"$prefix/nginx.conf"
  nginx -p "$prefix/" -c "$prefix/nginx.conf" -e logs/error.log >"$demo/nginx-start.log" 2>&1 ||
    { cat "$demo/nginx-start.log" "$prefix/logs/error.log" 2>/dev/null; fail "nginx did not start"; }
  nginx_started=1
  served="http://127.0.0.1/"
  [ "$mode" = https ] && served="$served and https://127.0.0.1/ (demo TLS authority in $demo/tls)"
  say "site: nginx serves $prefix/site on $served (gateway: $(cat "$prefix/site/secure/gateway_new.php"))"
fi

# ---- a display: the caller's, or an Xvfb of our own
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  n=70
  while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
  Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >"$demo/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=:$n
  for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.05; done
fi

# ---- a Wine prefix of the demo, with no trace of an earlier run
wine_started=1
if [ ! -f "$WINEPREFIX/.demo-ready" ]; then
  say "wine: creating the prefix $WINEPREFIX (first run only)"
  if [ -n "$win32" ]; then
    wine32_make_prefix "$WINEPREFIX" "$demo/wineboot.log" || fail "could not make the prefix (see $demo/wineboot.log)"
  else
    "$WINE" wineboot -i >"$demo/wineboot.log" 2>&1
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$demo/wineboot.log" 2>&1
  fi
  touch "$WINEPREFIX/.demo-ready"
  # The prefix's first server slows every later program (the test bench saw
  # about fifteen seconds each): the demo goes on with a server started afresh.
  "$WINESERVER" -k >/dev/null 2>&1
  "$WINESERVER" -w >/dev/null 2>&1
fi
"$WINE" reg delete "HKLM\\$BRAND_FAMILY_KEY" /reg:$view /f >"$demo/reg-reset.log" 2>&1
# The authority of this run replaces the one the prefix trusted last.
old_root=$(cat "$demo/trusted-root" 2>/dev/null)
if [ -n "$old_root" ]; then
  "$WINE" reg delete "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$old_root" /f \
    >>"$demo/reg-reset.log" 2>&1
fi
SETUP_WINE=$WINE bash tests/support/trust-root.sh "$WINEPREFIX" "$certs/ca.der" >"$demo/trust.log" 2>&1 ||
  { cat "$demo/trust.log"; fail "could not trust the demo authority"; }
sha1sum "$certs/ca.der" | cut -c1-40 | tr a-f A-F >"$demo/trusted-root"
if [ -n "$tls_root" ]; then
  "$WINE" reg delete "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$tls_root" /f \
    >>"$demo/reg-reset.log" 2>&1
fi
if [ "$mode" = https ]; then
  SETUP_WINE=$WINE bash tests/support/trust-root.sh "$WINEPREFIX" "$demo/tls/ca.der" >>"$demo/trust.log" 2>&1 ||
    { cat "$demo/trust.log"; fail "could not trust the demo TLS authority"; }
fi
rm -rf "$WINEPREFIX/drive_c/$program_files/$BRAND_FAMILY" "$WINEPREFIX/drive_c/$BRAND_FAMILY" "$WINEPREFIX/drive_c/Downloads"
mkdir -p "$WINEPREFIX/drive_c/Downloads"
downloads=$WINEPREFIX/drive_c/Downloads
if [ "$mode" = package ]; then
  # The package carries the updater as a cabinet (built by the tool) and, as
  # the fetcher's fallback, uncompressed; it is embedded before signing, so
  # the signature covers it.
  "$WINE" "$maker_exe" embed "$(winpath "$setup_exe")" -o 'C:\Downloads\Setup-unsigned.exe' \
    --updater "$(winpath "$updater_exe")" "Update.exe_uncompressed=$(winpath "$updater_exe")" \
    >"$demo/maker.log" 2>&1 || { cat "$demo/maker.log"; fail "maker.exe embed failed"; }
  bash "$certs/sign-file.sh" signer "$downloads/Setup-unsigned.exe" "$downloads/Setup.exe" || fail "signing Setup.exe failed"
  rm -f "$downloads/Setup-unsigned.exe"
  # Stamped web parameters after signing: they go inside the certificate
  # table, the signature stays valid, and they are merged into "WWWParams".
  "$WINE" "$maker_exe" stamp 'C:\Downloads\Setup.exe' --in-place 'Source=demo&Mode=package' \
    >>"$demo/maker.log" 2>&1 || { cat "$demo/maker.log"; fail "maker.exe stamp failed"; }
  "$WINE" "$maker_exe" show 'C:\Downloads\Setup.exe' >"$demo/maker-show.log" 2>&1
  say "package: maker.exe show C:\Downloads\Setup.exe"
  tr -d '\r' <"$demo/maker-show.log" | sed 's/^/  /'
elif [ "$mode" = download ]; then
  # The partner's own link: the service stamps a copy of the signed Setup.exe.
  link="http://127.0.0.1/download/Setup.exe?Partner=$partner&Campaign=demo"
  code=$(curl -s -o "$downloads/Setup.exe" -w '%{http_code}' "$link")
  [ "$code" = 200 ] || { cat "$demo/service.log"; fail "the download service answered $code for $link"; }
  "$native_maker" show --ca "$certs/ca.pem" "$downloads/Setup.exe" >"$demo/maker-show.log" 2>&1
  say "download: $link"
  say "  maker show (native) of the copy:"
  sed 's/^/  /' "$demo/maker-show.log"
  "$native_maker" verify --ca "$certs/ca.pem" "$downloads/Setup.exe" >"$demo/native-verify.log" 2>&1
  say "  maker verify (native): exit code $?"
else
  bash "$certs/sign-file.sh" signer "$setup_exe" "$downloads/Setup.exe" || fail "signing Setup.exe failed"
fi
# The check Setup.exe makes before it starts an updater, as the maker runs it.
verify() {  # verify <label> <windows path>
  "$WINE" "$maker_exe" verify "$2" >"$demo/verify.log" 2>&1
  say "  $1: exit code $?"
  tr -d '\r' <"$demo/verify.log" | sed 's/^/    /'
}
say "verdicts: maker.exe verify"
verify "the updater the site serves" "$(winpath "$updater_exe")"
[ "$mode" = tampered ] && verify "the tampered updater" "$(winpath "$tampered")"
verify "Setup.exe" 'C:\Downloads\Setup.exe'
osslsigncode verify -CAfile "$certs/ca.pem" -in "$downloads/Setup.exe" >"$demo/osslsigncode.log" 2>&1
say "  Setup.exe by osslsigncode verify: $(tail -1 "$demo/osslsigncode.log")"

# ---- the run: the driver starts Setup.exe and answers the drive dialog
rm -f "$demo"/*.png "$demo/updater.log" "$demo"/marker*
export SETUP_DEMO_UPDATER_LOG
SETUP_DEMO_UPDATER_LOG=$(winpath "$demo/updater.log")
export SETUP_DEMO_UPDATER_CLOSE=5
say "run: Setup.exe under Wine on display $DISPLAY"
"$WINE" "$driver_exe" --pause "$(winpath "$demo/marker")" --timeout 150 'C:\Downloads\Setup.exe' \
  >"$demo/driver.log" 2>&1 &
driver_pid=$!
shots=""
shot() {  # shot <name>: the screen, trimmed to the windows on it
  import -window root -trim +repage "$demo/$1" 2>/dev/null && shots="$shots $demo/$1"
}
for _ in $(seq 1800); do
  kill -0 "$driver_pid" 2>/dev/null || break
  if [ -f "$demo/marker.ready" ] && [ ! -f "$demo/marker.done" ]; then
    shot setup-drive-dialog.png
    touch "$demo/marker.done"
  fi
  if [ -f "$demo/marker-error.ready" ] && [ ! -f "$demo/marker-error.done" ]; then
    shot setup-error.png
    touch "$demo/marker-error.done"
  fi
  sleep 0.1
done
wait "$driver_pid"
driver_pid=""
# Setup.exe does not wait for its updater: look for the updater's window.
for _ in $(seq 100); do
  if grep -q -- '^--' "$demo/updater.log" 2>/dev/null; then sleep 1.5; shot updater-window.png; break; fi
  sleep 0.1
done
# The updater closes itself; give it the time to, so that the prefix stops cleanly.
[ -f "$demo/updater.log" ] && sleep "$SETUP_DEMO_UPDATER_CLOSE"

# ---- what happened
"$WINE" reg query "HKLM\\$BRAND_FAMILY_KEY" /reg:$view >"$demo/registry.txt" 2>&1
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1
wine_started=""
status=0
say ""
say "== The driver (Setup.exe as the user sees it)"
tr -d '\r' <"$demo/driver.log" | grep '^driver:' | sed 's/^/  /'
say ""
# The branding's names in the window (and, when it was shown, the drive dialog).
if tr -d '\r' <"$demo/driver.log" | grep -qF "driver: window \"$BRAND_PRODUCT Setup\" says" &&
  tr -d '\r' <"$demo/driver.log" | grep '^driver: window ' | sed 's/.* says //' | grep -qF "$BRAND_PRODUCT"; then
  say "  ok:    the window names $BRAND_PRODUCT"
else
  say "  WRONG: the window does not name $BRAND_PRODUCT"; status=1
fi
if grep -q '^driver: drive dialog heading' "$demo/driver.log" &&
  ! tr -d '\r' <"$demo/driver.log" | grep '^driver: drive dialog heading' | grep -qF "$BRAND_PRODUCT"; then
  say "  WRONG: the drive dialog does not name $BRAND_PRODUCT"; status=1
fi
if [ "$mode" = down ] || [ "$mode" = tampered ]; then
  if [ "$mode" = down ]; then expected="Can't contact $BRAND_FAMILY site"; else expected="Update is not signed by $BRAND_PUBLISHER"; fi
  if grep -q "shows the error \"$expected\"" "$demo/driver.log"; then
    say "  ok:    the window showed \"$expected\" and stayed open"
  else
    say "  WRONG: no \"$expected\""; status=1
  fi
  if [ -f "$demo/updater.log" ]; then say "  WRONG: the updater was started"; status=1; else say "  ok:    no updater started"; fi
  if grep -q InstallDir "$demo/registry.txt"; then say "  WRONG: InstallDir written"; status=1; else say "  ok:    nothing stored in the registry"; fi
  left=$(ls "$WINEPREFIX/drive_c/$program_files/$BRAND_FAMILY" 2>/dev/null)
  if [ -z "$left" ]; then say "  ok:    no installation folder content"; else say "  WRONG: files left: $left"; status=1; fi
else
  say "== The site's access log ($prefix/logs/access.log)"
  if [ -s "$prefix/logs/access.log" ]; then sed 's/^/  /' "$prefix/logs/access.log"; else say "  (no request)"; fi
  log=$prefix/logs/access.log
  check() {  # check <description> <grep pattern> <wanted: yes|no>
    if grep -Eq "$2" "$log" 2>/dev/null; then got=yes; else got=no; fi
    if [ "$got" = "$3" ]; then say "  ok:    $1"; else say "  WRONG: $1"; status=1; fi
  }
  check "connection test file of the site" '"GET /secure/test_pattern.txt\?Rand=[0-9]+"' yes
  check "gateway query with the fingerprint" "\"GET /secure/gateway_new.php\\?Product=$BRAND_FAMILY&Bios=[0-9a-f]+.*&Rand=[0-9]+\"" yes
  if [ "$mode" = https ]; then
    check "connection test file of the download area, over TLS" "\"GET /$area/test_pattern.txt\\?Rand=[0-9]+\" .*scheme=https " yes
    check "the updater's cabinet, over TLS" "\"GET /$area/Update.exe\\?Rand=[0-9]+\" .*scheme=https status=200" yes
    check "no request to the download area over plain http" "\"GET /$area/.*scheme=http " no
  elif [ "$mode" = web ] || [ "$mode" = download ]; then
    check "connection test file of the download area" "\"GET /$area/test_pattern.txt\\?Rand=[0-9]+\"" yes
    check "the updater's cabinet" "\"GET /$area/Update.exe\\?Rand=[0-9]+\" .*status=200" yes
  else
    check "no request to the download area" "\"GET /$area/" no
  fi
  say ""
  say "== The updater's command line and folder (as the demo updater received them)"
  if [ -f "$demo/updater.log" ]; then
    tr -d '\r' <"$demo/updater.log" | grep -v '^--$' | sed 's/^/  /'
    grep -qF "Command line: \"C:\\$program_files\\$BRAND_FAMILY\\Update.exe\" /Setup=$BRAND_PRODUCT" "$demo/updater.log" ||
      { say "  WRONG: not started from C:\\$program_files\\$BRAND_FAMILY with /Setup=$BRAND_PRODUCT"; status=1; }
  else
    say "  the updater was not started"; status=1
  fi
  say ""
  say "== Registry values written (HKLM\\$BRAND_FAMILY_KEY, $view-bit view)"
  tr -d '\r' <"$demo/registry.txt" | grep -v '^$' | sed 's/^/  /'
  grep -q InstallDir "$demo/registry.txt" || { say "  WRONG: no InstallDir"; status=1; }
  if [ "$mode" = download ]; then
    check "the partner's download" "\"GET /download/Setup.exe\\?Partner=$partner&Campaign=demo\" .*status=200" yes
    if grep -q "WWWParams.*&Partner=$partner&Campaign=demo" "$demo/registry.txt"; then
      say "  ok:    WWWParams holds the partner's parameters"
    else
      say "  WRONG: the partner's parameters are not in WWWParams"; status=1
    fi
  fi
  if [ "$mode" = package ]; then
    grep -q 'WWWParams.*&Source=demo&Mode=package' "$demo/registry.txt" || { say "  WRONG: stamped parameters not merged"; status=1; }
    grep -q '/Bulk=C:\\Downloads\\Setup.exe' "$demo/updater.log" 2>/dev/null || { say "  WRONG: no /Bulk= with the setup's path"; status=1; }
  fi
fi
say ""
say "== Screenshots"
if [ -n "$shots" ]; then for s in $shots; do say "  $s"; done; else say "  (none taken)"; fi
say ""
[ -z "$win32" ] || mode="32-bit $mode"
if [ $status -eq 0 ]; then say "demo ($mode mode): everything as expected"; else say "demo ($mode mode): something went wrong (logs in $demo)"; fi
exit $status
