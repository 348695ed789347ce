#!/bin/bash
# Makes the signed and broken copies of a program that the trust tests
# serve, each under its own name:
#   signer.exe other.exe ... (every certificate of make-certs.sh)  signed by that certificate
#   unsigned.exe   no signature
#   flipped.exe    signed by signer, then one code byte changed
#   expired-timestamped.exe  signed by expired with a timestamp inside its
#                  validity (the signing tool's own authority, given that time)
#   NAME.sha256    the SHA-256 thumbprint of NAME's certificate, upper-case hex
#   NAME.pin       the SHA-256 of its public key (key-pin.sh); ca.pin the authority's
#   sign-variants.sh <certs folder> <program> <out folder>
set -eu
certs=$1; program=$2; out=$3
mkdir -p "$out"
rm -f "$out"/*.exe "$out"/*.sha256 "$out"/*.pin
osslsigncode remove-signature -in "$program" -out "$out/unsigned.exe" >/dev/null 2>&1 || cp "$program" "$out/unsigned.exe"
for name in signer other nousage untrusted selfsigned unpinned twonames fullwidth expired webonly; do
  bash "$certs/sign-file.sh" "$name" "$out/unsigned.exe" "$out/$name.exe"
  openssl x509 -in "$certs/$name.pem" -outform DER | sha256sum | cut -c1-64 | tr a-f A-F | tr -d '\n' >"$out/$name.sha256"
  bash "$(dirname "$0")/key-pin.sh" "$certs/$name.pem" | tr -d '\n' >"$out/$name.pin"
done
bash "$(dirname "$0")/key-pin.sh" "$certs/ca.pem" | tr -d '\n' >"$out/ca.pin"
osslsigncode sign -certs "$certs/expired.chain.pem" -key "$certs/expired.key" -h sha256 -n "Tamsu" \
  -TSA-certs "$certs/tsa.chain.pem" -TSA-key "$certs/tsa.key" -TSA-time "$(cat "$certs/expired.time")" \
  -in "$out/unsigned.exe" -out "$out/expired-timestamped.exe" >/dev/null
cp "$out/signer.exe" "$out/flipped.exe"
# The code section starts at 0x400 in these programs: a byte well inside it.
byte=$(od -An -tx1 -j 1100 -N 1 "$out/flipped.exe" | tr -d ' ')
printf "\\x$(printf '%02x' $((0x$byte ^ 0xff)))" | dd of="$out/flipped.exe" bs=1 seek=1100 conv=notrunc status=none
echo "signed variants of $program in $out"
