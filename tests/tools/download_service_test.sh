#!/bin/bash
# The download service (maker serve) behind nginx and its cache: each link
# gives its own copy, still signed, carrying its parameters where Setup.exe
# reads them; anything else gets 400 and nothing is stamped; repeats come
# from the cache; a new base is taken on SIGHUP without a request lost.
#   download_service_test.sh MAKER SETUP_EXE CERTS BUILD
# It serves on 127.<octet>.90.1, the octet of the build folder's bench.
set -u
maker=$1 setup=$2 certs=$3 build=$4
work=$build/download-service
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
url=http://$address/download/Setup.exe
long=$(printf 'x%.0s' $(seq 250))
# ask OUT METHOD QUERY [PARAM=VALUE...]: straight to the service's socket,
# as any client could; OUT.head and OUT.body.
ask() {
  python3 "$support/fcgi_request.py" "$work/nginx/run/download.sock" "${@:2}" >"$1.raw"
  python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); h, _, b = d.partition(b"\r\n\r\n")
open(sys.argv[1][:-4] + ".head", "wb").write(h + b"\r\n"); open(sys.argv[1][:-4] + ".body", "wb").write(b)' "$1.raw"
}
differ() { ! cmp -s "$1" "$2"; }
absent() { ! grep -E "$@"; }
text_only() { [ -s "$1" ] && ! grep -q MZ "$1"; }
field() { sed -n "s/^$2: \(.*\)\r$/\1/p" "$1.head"; }  # field OUT NAME

# Two partners through nginx: two copies, signed, each with its parameters
# in the signature (the first block of the walk, the one Setup.exe reads).
for query in "Partner=acme&Campaign=winter" "Partner=globex-2.eu&Campaign=spring_sale"; do
  out=$work/$(echo "$query" | cut -d'&' -f1 | cut -d= -f2).exe
  code=$(curl -s -o "$out" -w '%{http_code}' "$url?$query")
  check "$query: 200" [ "$code" = 200 ]
  check "$query: osslsigncode accepts the copy" osslsigncode verify -CAfile "$certs/ca.pem" -in "$out" >/dev/null
  check "$query: maker verify accepts the copy" "$maker" verify --ca "$certs/ca.pem" "$out" >/dev/null
  check "$query: the copy carries its parameters in the signature" \
    grep -qF ": \"$query\" [in the signature: its signer's unsigned attribute]" \
    <("$maker" show "$out" | grep -m1 'parameter block')
done
check "two partners, two copies" differ "$work/acme.exe" "$work/globex-2.eu.exe"

# The service's answers: method|query|extra parameter|status|why.
ask "$work/good" GET "Partner=acme&Campaign=winter"
tag=$(field "$work/good" ETag)
while IFS='|' read -r method query extra status why; do
  out=$work/row
  ask "$out" "$method" "$query" ${extra:+"$extra"}
  check "$method '$query' ($why): $status" grep -q "^Status: $status" "$out.head"
  case $status in
    200)
      check "'$query': the body is the stamped copy, whole" cmp -s "$out.body" "$work/good.body"
      check "'$query': its length" [ "$(field "$out" Content-Length)" = "$(stat -c %s "$work/good.body")" ]
      check "'$query': the same tag" [ "$(field "$out" ETag)" = "$tag" ]
      check "'$query': cacheable" grep -q '^Cache-Control: public, max-age=[1-9]' "$out.head" ;;
    304) check "'$query': the tag, no body" [ "$(field "$out" ETag)|$(stat -c %s "$out.body")" = "$tag|0" ] ;;
    *) check "'$query': no file, a line of text" text_only "$out.body" ;;
  esac
done <<EOF
GET|Partner=acme&Campaign=winter||200|the same link again
GET|Partner=acme&Evil=1||400|a key outside the list
GET|Partner Campaign=x||400|two keys of the list as one
GET|Partner=acme&Partner=other||400|a key twice
GET|Partner=a;b||400|a semicolon
GET|Partner=ac%20me||400|an escaped space
GET|Partner=a/../b||400|a slash
GET|Partner=&Campaign=x||400|an empty value
GET|Partner||400|no value
GET|Partner=a&&Campaign=b||400|an empty entry
GET|Partner=acme&||400|a trailing separator
GET|||400|no parameters
GET|Partner=$long&Campaign=x||400|over 258 characters
POST|Partner=acme||405|another method
GET|Partner=acme&Campaign=winter|HTTP_IF_NONE_MATCH=W/"old", $tag|304|the copy the client holds
GET|Partner=acme&Campaign=winter|HTTP_IF_NONE_MATCH="old"|200|another copy
EOF
check "a tag is strong" grep -q '^"[0-9a-f]\{32\}"$' <<<"$tag"
ask "$work/head" HEAD "Partner=acme&Campaign=winter"
check "HEAD: the GET's length and tag, no body" \
  [ "$(field "$work/head" Content-Length)|$(field "$work/head" ETag)|$(stat -c %s "$work/head.body")" = \
    "$(stat -c %s "$work/good.body")|$tag|0" ]
ask "$work/taken" GET "Partner=${long:0:238}&Campaign=x1"
check "a query of 258 characters is taken" grep -q '^Status: 200' "$work/taken.head"

# Repeats through nginx come from its cache, with the service's tag.
for i in 1 2 3; do curl -s -D "$work/cached$i.head" -o "$work/cached$i.body" "$url?Partner=acme&Campaign=winter"; done
check "a repeat is a cache hit" grep -q '^X-Cache: HIT' "$work/cached3.head"
check "the cache serves the same bytes" cmp -s "$work/cached3.body" "$work/good.body"
check "nginx answers If-None-Match: 304" \
  [ "$(curl -s -o /dev/null -w '%{http_code}' -H "If-None-Match: $tag" "$url?Partner=acme&Campaign=winter")" = 304 ]
check "through nginx, refused: 400" [ "$(curl -s -o /dev/null -w '%{http_code}' "$url?Partner=acme&Evil=1")" = 400 ]

# A new base on SIGHUP, while requests keep coming: every one answered.
bash "$certs/sign-file.sh" other "$setup" "$work/Other.exe" || exit 1
cp "$work/Other.exe" "$work/nginx/download/Setup.exe.new"
chmod a+r "$work/nginx/download/Setup.exe.new"
seq 100 | xargs -P 4 -I{} sh -c 'python3 "$0" "$1" GET "Partner=p$2&Campaign=reload" | head -1' \
  "$support/fcgi_request.py" "$work/nginx/run/download.sock" {} 2>/dev/null | grep -c '^Status: 200' >"$work/during" &
sleep 0.3
mv "$work/nginx/download/Setup.exe.new" "$work/nginx/download/Setup.exe"
kill -HUP $(cat "$work/service.pid")
wait
check "no request lost while the base changed ($(cat "$work/during") of 100)" [ "$(cat "$work/during")" = 100 ]
ask "$work/new" GET "Partner=acme&Campaign=winter"
check "the new base: another tag" [ "$(field "$work/new" ETag)" != "$tag" ]
check "the new base: its signer" grep -q 'signed by "Other Maker"' <("$maker" show "$work/new.body")
check "every responder took it" [ "$(grep -c 'new base' "$work/service.log")" = "$(wc -w <"$work/service.pid")" ]
check "no sanitizer report, no stamping failure" absent 'Sanitizer|runtime error|stamping' "$work/service.log" \
  "$work/nginx/logs/error.log"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
