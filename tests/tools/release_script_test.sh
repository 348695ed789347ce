#!/bin/bash
# The release command on a fresh clone, with the second brand and an
# authority of its own: the shipped image pins that authority and carries no
# key of the test authority, every signature is timestamped by a local
# authority, the verifications pass, the native tool shows the signer compiled
# in, and a test build is told apart.
#   release_script_test.sh TEST_CERTS UPDATER TEST_SETUP WORK
set -u
test_certs=$1 updater=$2 test_setup=$3 work=$4
repo=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"
git clone --quiet "$repo" "$work/clone" || { echo "cannot clone $repo"; exit 1; }
certs=$work/certs
bash "$repo/tests/support/make-certs.sh" "$certs" "Acme Widgets Code Signing" >"$work/certs.log" 2>&1 ||
  { cat "$work/certs.log"; exit 1; }
# The authority has an address of its own (release_recipe's is 127.0.0.25).
tsa=http://127.0.0.26:8318/
python3 "$repo/tests/support/timestamp_authority.py" "$certs" 127.0.0.26 8318 >"$work/tsa.log" 2>&1 &
tsa_pid=$!
trap 'kill $tsa_pid 2>/dev/null' EXIT
for _ in $(seq 50); do grep -q ready "$work/tsa.log" 2>/dev/null && break; sleep 0.1; done
start=$(date +%s)
(cd "$work/clone" && bash scripts/release.sh --branding branding/example.cmake --chain "$certs/signer.chain.pem" \
  --key "$certs/signer.key" --roots "$certs/ca.pem" --updater "$updater" --tsa "$tsa" --stamp "Partner=acme") \
  >"$work/release.log" 2>&1 || { tail -40 "$work/release.log"; echo "FAILED: the release command"; exit 1; }
echo "from a fresh clone to a signed, stamped release: $(($(date +%s) - start)) s"
release=$work/clone/release/example
maker=$work/clone/build-release/example/native/tools/maker/maker
pin=$(bash "$repo/tests/support/key-pin.sh" "$certs/ca.pem")
test_pin=$(bash "$repo/tests/support/key-pin.sh" "$test_certs/ca.pem")
status=0
expect() {  # expect DESCRIPTION COMMAND...
  if "${@:2}" >/dev/null 2>&1; then echo "ok: $1"; else echo "FAILED: $1"; status=1; fi
}
shown=$("$maker" show --ca "$certs/ca.pem" "$release/Setup.exe")
echo "$shown"
expect "the image pins the maker's authority" grep -qaF "$pin" "$release/Setup.exe"
expect "the image carries no key of the test authority" bash -c '! grep -qaF "$1" "$2"' - "$test_pin" "$release/Setup.exe"
expect "show prints the compiled pins" grep -qF "compiled in: pins \"$pin\"" <<<"$shown"
expect "show prints the compiled publisher" grep -qF 'compiled in: publisher "Acme Widgets Code Signing"' <<<"$shown"
expect "the release is not marked as a test build" bash -c '! grep -q "TEST build" <<<"$1"' - "$shown"
expect "the release's Setup.exe verifies" grep -qF "$release/Setup.exe: trusted" "$work/release.log"
expect "show names the signing time" grep -q 'signing time .* UTC, timestamped by "Tamsu Test Timestamps"' <<<"$shown"
timestamped() {  # signed, and its timestamp verifies
  local said
  said=$(osslsigncode verify -CAfile "$certs/ca.pem" -TSA-CAfile "$certs/ca.pem" -in "$1" 2>&1) &&
    grep -q "Timestamp Server Signature verification: ok" <<<"$said"
}
for signed in cab/NewUpdate.exe site/Update.exe Setup-stamped.exe; do
  expect "$signed is signed and keeps its timestamp" timestamped "$release/$signed"
done
refused=$(cd "$work/clone" && bash scripts/release.sh --branding branding/example.cmake \
  --chain "$certs/signer.chain.pem" --key "$certs/signer.key" --roots "$certs/ca.pem" --updater "$updater" 2>&1)
expect "without --tsa the release command refuses" grep -qF -- "--tsa is missing" <<<"$refused"
cabinet=$("$maker" verify --ca "$certs/ca.pem" "$release/site/Update.exe")
expect "verify on a cabinet says it checks programs only" grep -qF "verify checks programs only" <<<"$cabinet"
expect "a test build is marked as one" grep -qF "a TEST build" <<<"$("$maker" show "$test_setup")"
exit $status
