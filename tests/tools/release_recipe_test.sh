#!/bin/bash
# Runs the maker guide's release recipe as it stands, with the test certificates,
# and checks what it made: a signed Setup.exe carrying the signed updater,
# and a stamped copy that is still signed.
#   release_recipe_test.sh CERTS UPDATER OUT
set -u
certs=$1 updater=$2 out=$3
repo=$(cd "$(dirname "$0")/../.." && pwd)
recipe=$(awk '/^### A release by hand, step by step/ { on = 1 } on && /^```$/ && started { exit } on && started { print }
              on && /^```sh$/ { started = 1 }' "$repo/docs/maker.md")
[ -n "$recipe" ] || { echo "no recipe in docs/maker.md"; exit 1; }
rm -rf "$out"
cd "$repo"
CHAIN=$certs/signer.chain.pem KEY=$certs/signer.key ROOTS=$certs/ca.pem UPDATER=$updater OUT=$out \
  bash -e -c "$recipe" >"$out.log" 2>&1 || { cat "$out.log"; echo "the recipe failed"; exit 1; }
maker=build/native/tools/maker/maker
status=0
expect() {  # expect DESCRIPTION COMMAND...
  if "${@:2}" >/dev/null 2>&1; then echo "ok: $1"; else echo "FAILED: $1"; status=1; fi
}
shown=$("$maker" show --ca "$certs/ca.pem" "$out/Setup-acme.exe")
echo "$shown"
expect "the copy is signed" osslsigncode verify -CAfile "$certs/ca.pem" -in "$out/Setup-acme.exe"
expect "the copy carries the stamp" grep -qF '"Partner=acme&Campaign=winter" [in the signature: its signer'\''s unsigned attribute]' <<<"$shown"
expect "the signature covers the package" grep -q 'compound file of .* bytes \[signed\]' <<<"$shown"
expect "the package holds the signed updater" grep -q 'Update.exe_uncompressed .* (program)' <<<"$shown"
expect "the cabinet is signed" osslsigncode verify -CAfile "$certs/ca.pem" -in "$out/site/Update.exe"
exit $status
