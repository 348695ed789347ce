#!/bin/bash
# The download handler (a CGI program, run by fcgiwrap behind nginx): a copy
# of the signed Setup.exe stamped with the download link's parameters,
#   GET /download/Setup.exe?Partner=acme&Campaign=winter
# Only the keys in SETUP_DOWNLOAD_KEYS (default: Partner Campaign), each at
# most once, with values of letters, digits, "-", "_" and "."; the query at
# most 258 characters (what the parameter block holds). Anything else gets
# 400 and no file. The stamp goes into the signature, as its signer's
# unsigned attribute, so the copy stays signed. It keeps no state: any
# number of servers can run it.
# From the server (FastCGI parameters): SETUP_DOWNLOAD_DIR, the folder with
# the signed Setup.exe and the native maker's tool ("maker").
set -u
set -f
dir=${SETUP_DOWNLOAD_DIR:-}
keys=" ${SETUP_DOWNLOAD_KEYS:-Partner Campaign} "
query=${QUERY_STRING:-}

answer() {  # answer STATUS TEXT
  printf 'Status: %s\r\nContent-Type: text/plain\r\nCache-Control: no-store\r\n\r\n%s\n' "$1" "$2"
  exit 0
}
refuse() { answer "400 Bad Request" "$1"; }
# Each key of the list compared whole: "Partner Campaign" is no key.
known() {
  local k IFS=' '
  for k in $keys; do [ "$k" = "$1" ] && return 0; done
  return 1
}

[ "${REQUEST_METHOD:-}" = GET ] || [ "${REQUEST_METHOD:-}" = HEAD ] || answer "405 Method Not Allowed" "GET only"
[ -n "$dir" ] && [ -f "$dir/Setup.exe" ] && [ -x "$dir/maker" ] || answer "500 Internal Server Error" "not set up"
[ -n "$query" ] || refuse "no parameters: give e.g. ?Partner=acme&Campaign=winter"
case $query in "&"* | *"&") refuse "an empty entry" ;; esac
[ ${#query} -le 258 ] || refuse "the parameters take ${#query} characters; at most 258"
seen=" "
IFS='&'
for entry in $query; do
  case $entry in
    *=*) key=${entry%%=*} value=${entry#*=} ;;
    *) refuse "an entry without a value" ;;
  esac
  known "$key" || refuse "unknown key"
  case $seen in *" $key "*) refuse "a key given twice" ;; esac
  case $value in "" | *[!A-Za-z0-9._-]*) refuse "values take letters, digits, -, _ and . only" ;; esac
  seen="$seen$key "
done
unset IFS

# Stamped whole before the answer starts: a failure is a 500, never half a file.
copy=$(mktemp) || answer "500 Internal Server Error" "no room"
trap 'rm -f "$copy"' EXIT
if ! why=$("$dir/maker" stamp "$dir/Setup.exe" -o - "$query" 2>&1 >"$copy"); then
  echo "download handler: $why" >&2
  answer "500 Internal Server Error" "stamping failed"
fi
printf 'Status: 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: %s\r\n' "$(wc -c <"$copy")"
printf 'Content-Disposition: attachment; filename="Setup.exe"\r\nCache-Control: no-store\r\n\r\n'
[ "$REQUEST_METHOD" = HEAD ] || cat "$copy"
