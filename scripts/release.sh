#!/bin/bash
# The release: builds the shipped Setup.exe of a branding with no test
# authority, builds the native maker's tool with the same publisher and pins,
# then signs, embeds, verifies and stamps (docs/maker.md walks through it).
#   bash scripts/release.sh --branding FILE --chain PEM --key PEM --roots PEM --updater EXE --tsa URL
#                           [--pin HEX]... [--out DIR] [--build DIR] [--stamp TEXT]
# --chain: the code-signing certificate followed by its issuers (PEM); --key:
# its private key; --roots: the roots users trust (PEM); --tsa: the URL of the
# RFC 3161 timestamping authority that times every signature, so that it keeps
# passing after the certificate expires (the certificate's vendor names one).
# Pins: --pin, else the branding's BRAND_PINS, else the keys of the
# certificates in --roots.
# The builds go to --build (default build-release/<branding's name>), the
# release to --out (default release/<branding's name>).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
branding="" chain="" key="" roots="" updater="" tsa="" out="" build="" stamp="" pins=()
usage() {
  sed -n '5,10p' "$0" | sed 's/^# *//' >&2
  echo "release: $*" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case $1 in
    --branding|--chain|--key|--roots|--updater|--tsa|--out|--build|--stamp|--pin)
      [ $# -ge 2 ] || usage "$1 needs a value"
      case $1 in
        --branding) branding=$2 ;; --chain) chain=$2 ;; --key) key=$2 ;; --roots) roots=$2 ;;
        --updater) updater=$2 ;; --tsa) tsa=$2 ;; --out) out=$2 ;; --build) build=$2 ;; --stamp) stamp=$2 ;;
        --pin) pins+=("$2") ;;
      esac
      shift 2 ;;
    *) usage "unexpected \"$1\"" ;;
  esac
done
for need in branding chain key roots updater; do
  [ -n "${!need}" ] || usage "--$need is missing"
  [ -f "${!need}" ] || usage "--$need: no file ${!need}"
done
# Signatures without a timestamp die with the certificate: refuse to make them.
[ -n "$tsa" ] || usage "--tsa is missing: the RFC 3161 URL of your timestamping authority"
absolute() { (cd "$(dirname "$1")" && printf '%s/%s' "$PWD" "$(basename "$1")"); }
branding=$(absolute "$branding") chain=$(absolute "$chain") key=$(absolute "$key")
roots=$(absolute "$roots") updater=$(absolute "$updater")
name=$(basename "$branding" .cmake)
build=${build:-build-release/$name}
out=${out:-release/$name}
mkdir -p "$build" "$out"
build=$(cd "$build" && pwd) out=$(cd "$out" && pwd)
say() { printf 'release: %s\n' "$*"; }
fail() { printf 'release: %s\n' "$*" >&2; exit 1; }

# Pins: given, else the branding's, else every root's key.
if [ ${#pins[@]} -eq 0 ] && ! grep -Eq '^set\(BRAND_PINS "[0-9A-Fa-f]' "$branding"; then
  while IFS= read -r -d '' certificate; do
    pins+=("$(printf '%s' "$certificate" | openssl x509 -noout -pubkey | openssl pkey -pubin -outform DER |
      sha256sum | cut -c1-64 | tr a-f A-F)")
  done < <(awk '/-----BEGIN CERTIFICATE-----/ { c = "" } { c = c $0 "\n" }
                /-----END CERTIFICATE-----/ { printf "%s%c", c, 0 }' "$roots")
  [ ${#pins[@]} -gt 0 ] || fail "no certificate in $roots to pin"
fi
settings=(-DSETUP_BRANDING="$branding" -DSETUP_TESTS=OFF)
if [ ${#pins[@]} -gt 0 ]; then settings+=(-DSETUP_UPDATER_PINS="$(IFS=';'; echo "${pins[*]}")"); fi

# A release folder never held a test build: its cache would keep the authority.
for folder in "$build/win32" "$build/native"; do
  if grep -q '^SETUP_TEST_AUTHORITY:PATH=.\+' "$folder/CMakeCache.txt" 2>/dev/null; then
    fail "$folder was configured with a test authority: use a new --build folder"
  fi
done
say "1. build: the shipped Setup.exe ($build/win32) and the native tool ($build/native)"
cmake -S . -B "$build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-i686.cmake" \
  -DSETUP_TEST_AUTHORITY= "${settings[@]}" >"$out/build.log" 2>&1 || { cat "$out/build.log"; fail "configure failed"; }
cmake --build "$build/win32" --target Setup >>"$out/build.log" 2>&1 || { tail -30 "$out/build.log"; fail "build failed"; }
cmake -S . -B "$build/native" -G Ninja -DSETUP_TEST_AUTHORITY= -DSETUP_SANITIZE=OFF "${settings[@]}" \
  >>"$out/build.log" 2>&1 || { cat "$out/build.log"; fail "configure of the native tool failed"; }
cmake --build "$build/native" --target maker >>"$out/build.log" 2>&1 ||
  { tail -30 "$out/build.log"; fail "build of the native tool failed"; }
source "$build/win32/branding.sh"
[ "$BRAND_TEST_BUILD" = 0 ] || fail "the build pins a test authority"
maker=$build/native/tools/maker/maker

say "2. sign the updater and its cabinet (the download area's Update.exe), every signature timestamped by $tsa"
rm -rf "$out/cab" "$out/site"
mkdir -p "$out/cab" "$out/site"
sign() {
  osslsigncode sign -certs "$chain" -key "$key" -h sha256 -ts "$tsa" -in "$1" -out "$2" >"$out/sign.log" 2>&1 ||
    { cat "$out/sign.log"; fail "signing $1 failed (is the timestamping authority $tsa reachable?)"; }
}
sign "$updater" "$out/cab/NewUpdate.exe"
(cd "$out/cab" && gcab -c -z ../Update.cab NewUpdate.exe)
sign "$out/Update.cab" "$out/site/Update.exe"
cp "$out/cab/NewUpdate.exe" "$out/site/Update.exe_uncompressed"

say "3. embed the signed updater in Setup.exe, 4. sign Setup.exe (the signature covers the package)"
"$maker" embed "$build/win32/Setup.exe" -o "$out/Setup-unsigned.exe" --updater "$out/cab/NewUpdate.exe" \
  "Update.exe_uncompressed=$out/cab/NewUpdate.exe"
sign "$out/Setup-unsigned.exe" "$out/Setup.exe"
rm -f "$out/Setup-unsigned.exe"

say "5. verify what users run: the updater, the cabinet's signature, Setup.exe"
"$maker" verify --ca "$roots" "$out/cab/NewUpdate.exe"
osslsigncode verify -CAfile "$roots" -TSA-CAfile "$roots" -in "$out/site/Update.exe" >"$out/cabinet-verify.log" 2>&1 ||
  { cat "$out/cabinet-verify.log"; fail "the cabinet's signature does not verify"; }
"$maker" verify --ca "$roots" "$out/Setup.exe"
shown=$("$maker" show --ca "$roots" "$out/Setup.exe")
printf '%s\n' "$shown"
grep -q 'signing time .*, timestamped by' <<<"$shown" || fail "$out/Setup.exe carries no timestamp"

if [ -n "$stamp" ]; then
  say "6. stamp a copy: $out/Setup-stamped.exe"
  "$maker" stamp "$out/Setup.exe" -o "$out/Setup-stamped.exe" "$stamp"
fi
say "done: $out/Setup.exe (signed), $out/site/ (the download area's Update.exe and Update.exe_uncompressed)"
