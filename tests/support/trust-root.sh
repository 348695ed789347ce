#!/bin/bash
# Trusts a root certificate (DER) in a Wine prefix: the machine's "Root"
# store, through the registry, where the store keeps it. A running wineserver
# for the prefix is expected (its output stays out of the caller's pipes).
#   trust-root.sh <prefix> <cert.der>
# SETUP_WINE names another wine loader (the 32-bit bench's).
set -eu
export WINEPREFIX=$1
der=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The store's key is the certificate's SHA-1; its "Blob" holds one
# serialized element: the certificate property (32), encoding 1, length, DER.
sha1=$(sha1sum "$der" | cut -c1-40 | tr a-f A-F)
size=$(stat -c %s "$der")
length=$(printf '%02x,%02x,%02x,%02x' $((size & 255)) $((size >> 8 & 255)) $((size >> 16 & 255)) $((size >> 24 & 255)))
bytes=$(od -An -v -tx1 "$der" | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\%s]\r\n' "$sha1"
  printf '"Blob"=hex:20,00,00,00,01,00,00,00,%s,%s\r\n' "$length" "$bytes"
} >"$work/root.reg"
# Wine sees the host's files on drive Z:.
WINEDEBUG=-all "${SETUP_WINE:-/usr/lib/wine/wine64}" reg import "Z:${work//\//\\}\\root.reg" >"$work/import.log" 2>&1 ||
  { cat "$work/import.log" >&2; exit 1; }
echo "trusted $sha1 in $WINEPREFIX"
