#!/bin/bash
# Runs the maker guide's release recipe as it stands, with the test
# certificates and a local timestamping authority, and checks what it made: a
# signed, timestamped Setup.exe carrying the signed updater, and a stamped
# copy that is still signed and keeps its timestamp; then the same with a
# certificate that has expired since.
#   release_recipe_test.sh CERTS UPDATER OUT
set -u
certs=$1 updater=$2 out=$3
repo=$(cd "$(dirname "$0")/../.." && pwd)
recipe=$(awk '/^### A release by hand, step by step/ { on = 1 } on && /^```$/ && started { exit } on && started { print }
              on && /^```sh$/ { started = 1 }' "$repo/docs/maker.md")
[ -n "$recipe" ] || { echo "no recipe in docs/maker.md"; exit 1; }
rm -rf "$out"
cd "$repo"
# The authority listens on an address of its own (the tests run in a private network namespace).
tsa=http://127.0.0.25:8318/
python3 tests/support/timestamp_authority.py "$certs" 127.0.0.25 8318 >"$out.tsa.log" 2>&1 &
tsa_pid=$!
trap 'kill $tsa_pid 2>/dev/null' EXIT
for _ in $(seq 50); do grep -q ready "$out.tsa.log" 2>/dev/null && break; sleep 0.1; done
CHAIN=$certs/signer.chain.pem KEY=$certs/signer.key ROOTS=$certs/ca.pem UPDATER=$updater OUT=$out TSA=$tsa \
  bash -e -c "$recipe" >"$out.log" 2>&1 || { cat "$out.log" "$out.tsa.log"; echo "the recipe failed"; exit 1; }
maker=build/native/tools/maker/maker
status=0
expect() {  # expect DESCRIPTION COMMAND...
  if "${@:2}" >/dev/null 2>&1; then echo "ok: $1"; else echo "FAILED: $1"; status=1; fi
}
shown=$("$maker" show --ca "$certs/ca.pem" "$out/Setup-acme.exe")
echo "$shown"
ossl_verify() { osslsigncode verify -CAfile "$certs/ca.pem" -TSA-CAfile "$certs/ca.pem" -in "$1"; }
expect "the copy is signed" ossl_verify "$out/Setup-acme.exe"
expect "the copy keeps its timestamp" grep -q "Timestamp Server Signature verification: ok" \
  <<<"$(ossl_verify "$out/Setup-acme.exe" 2>&1)"
expect "show names the signing time" grep -q 'signing time .* UTC, timestamped by "Tamsu Test Timestamps"' <<<"$shown"
expect "maker verify passes the copy" "$maker" verify --ca "$certs/ca.pem" "$out/Setup-acme.exe"
expect "the copy carries the stamp" grep -qF '"Partner=acme&Campaign=winter" [in the signature: its signer'\''s unsigned attribute]' <<<"$shown"
expect "the signature covers the package" grep -q 'compound file of .* bytes \[signed\]' <<<"$shown"
expect "the package holds the signed updater" grep -q 'Update.exe_uncompressed .* (program)' <<<"$shown"
expect "the cabinet is signed and timestamped" grep -q "Timestamp Server Signature verification: ok" \
  <<<"$(ossl_verify "$out/site/Update.exe" 2>&1)"

# A certificate expired since, timestamped inside its validity (the signing
# tool's own authority, given that time), then stamped: both checks pass it
# (maker_test holds that they refuse it without the timestamp).
osslsigncode sign -certs "$certs/expired.chain.pem" -key "$certs/expired.key" -h sha256 -TSA-certs "$certs/tsa.chain.pem" \
  -TSA-key "$certs/tsa.key" -TSA-time "$(cat "$certs/expired.time")" -in "$out/Setup-unsigned.exe" -out "$out/expired.exe" >/dev/null
"$maker" stamp "$out/expired.exe" -o "$out/expired-acme.exe" "Partner=acme" >/dev/null
expect "expired, timestamped, stamped: osslsigncode passes it" ossl_verify "$out/expired-acme.exe"
expect "expired, timestamped, stamped: maker verify passes it" "$maker" verify --ca "$certs/ca.pem" "$out/expired-acme.exe"
exit $status
