#!/bin/bash
# The download handler behind nginx: each partner's link gives its own copy,
# still signed, carrying its own parameters where Setup.exe reads them; a
# link with anything else gets 400 and nothing is stamped.
#   download_handler_test.sh MAKER SETUP_EXE CERTS BUILD
# It serves on 127.<octet>.90.1, the octet of the build folder's bench.
set -u
maker=$1 setup=$2 certs=$3 build=$4
work=$build/download-handler
address=127.$(( ($(cksum <<<"$build" | cut -d' ' -f1) % 200) + 20 )).90.1
[ -x "$maker" ] || { echo "no native maker's tool at $maker (the native build makes it)"; exit 1; }
support=$(cd "$(dirname "$0")/../support" && pwd)
rm -rf "$work"
mkdir -p "$work"
bash "$certs/sign-file.sh" signer "$setup" "$work/Signed.exe" || exit 1
bash "$support/download-site.sh" start "$work" "$address" "$maker" "$work/Signed.exe" || exit 1
trap 'bash "$support/download-site.sh" stop "$work"' EXIT
passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then passed=$((passed + 1)); else echo "FAILED: $1"; failed=$((failed + 1)); fi
}
differ() { ! cmp -s "$1" "$2"; }
url=http://$address/download/Setup.exe
long=$(printf 'x%.0s' $(seq 250))

# Two partners: two copies, signed, each with its own block after the signature.
for query in "Partner=acme&Campaign=winter" "Partner=globex-2.eu&Campaign=spring_sale"; do
  out=$work/$(echo "$query" | cut -d'&' -f1 | cut -d= -f2).exe
  code=$(curl -s -o "$out" -w '%{http_code}' "$url?$query")
  check "$query: 200" [ "$code" = 200 ]
  check "$query: osslsigncode accepts the copy" osslsigncode verify -CAfile "$certs/ca.pem" -in "$out" >/dev/null
  check "$query: maker verify accepts the copy" "$maker" verify --ca "$certs/ca.pem" "$out" >/dev/null
  # The first block of the walk is the one Setup.exe reads.
  check "$query: the copy carries its parameters in the signature" \
    grep -qF ": \"$query\" [in the signature: its signer's unsigned attribute]" \
    <("$maker" show "$out" | grep -m1 'parameter block')
done
check "two partners, two copies" differ "$work/acme.exe" "$work/globex-2.eu.exe"

# Refused: a 400 with a line of text, no file, and the stamping tool never ran.
while IFS='|' read -r query why; do
  body=$work/refused.out
  # A space is no URL: curl would not send it, but the handler must refuse it.
  if [[ $query != *" "* ]]; then
    code=$(curl -s -o "$body" -w '%{http_code}' "$url?$query")
    check "'$query' ($why): 400" [ "$code" = 400 ]
    check "'$query': no file" [ "$(head -c 2 "$body")" != MZ ]
  fi
  # Run directly too: a client may send what curl and nginx would mend.
  check "'$query' run directly: 400" grep -q '^Status: 400' <(QUERY_STRING=$query REQUEST_METHOD=GET \
    SETUP_DOWNLOAD_DIR=$work/nginx/download bash "$work/nginx/download/handler.sh")
done <<EOF
Partner=acme&Evil=1|a key outside the list
Partner Campaign=x|two keys of the list as one
Partner=ac%20me|an escaped space
Partner=a;b|a semicolon
Partner=a/../b|a slash
Partner=acme&Partner=other|a key twice
Partner=&Campaign=x|an empty value
Partner|no value
Partner=a&&Campaign=b|an empty entry
Partner=acme&|a trailing separator
|no parameters
Partner=$long&Campaign=x|over 258 characters
EOF
check "a query of 258 characters is taken" [ "$(curl -s -o /dev/null -w '%{http_code}' "$url?Partner=${long:0:238}&Campaign=x1")" = 200 ]
check "no stamping failed" [ "$(grep -c 'download handler' "$work/fcgiwrap.log")" = 0 ]
check "nginx logged the refusals" [ "$(grep -c 'status=400' "$work/nginx/logs/access.log")" = 11 ]
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
