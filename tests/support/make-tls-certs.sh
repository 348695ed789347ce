#!/bin/bash
# Makes a fresh TLS test authority and server certificates into a folder
# (keys stay there; never commit them). Every run makes a new authority.
#   make-tls-certs.sh <folder> <host>...
# Each host (a name or a dotted address) is named as a DNS entry, and an
# address also as an IP entry: Wine matches a numeric host only by text.
# Files (NAME.pem with NAME.key; NAME.chain.pem is the certificate and its
# issuer; ca.der the authority to trust):
#   good        issued by ca for the hosts
#   untrusted   issued by an authority nobody trusts, for the hosts
#   wrongname   issued by ca for wrong-name.test only
#   expired     issued by ca for the hosts, valid only in 2020
#   selfsigned  its own issuer, for the hosts
set -eu
out=$1
shift
rm -rf "$out"
mkdir -p "$out"
cd "$out"
names=""
for h in "$@"; do
  names="$names,DNS:$h"
  [[ $h =~ ^[0-9.]+$ ]] && names="$names,IP:$h"
done
names=${names#,}

cat >ca.cnf <<CNF
[ca]
default_ca = tls
[tls]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = \${ENV::TLS_NAMES}
CNF
touch index.txt
echo 1000 >serial

authority() {  # name common-name
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -keyout "$1.key" -out "$1.pem" -subj "/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" >/dev/null 2>&1
}
leaf() {  # name issuer names start end
  openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=Tamsu test host" >/dev/null 2>&1
  TLS_NAMES=$3 openssl ca -batch -notext -config ca.cnf -cert "$2.pem" -keyfile "$2.key" -in "$1.csr" \
    -out "$1.pem" -extensions leaf -startdate "$4" -enddate "$5" >/dev/null 2>&1
  cat "$1.pem" "$2.pem" >"$1.chain.pem"
  rm -f "$1.csr"
}

stamp=$(date -u +%Y%m%d%H%M%S)
start=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
end=$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)
authority ca "Tamsu TLS Test Authority $stamp"
authority untrusted-ca "Untrusted TLS Authority $stamp"
leaf good ca "$names" "$start" "$end"
leaf untrusted untrusted-ca "$names" "$start" "$end"
leaf wrongname ca "DNS:wrong-name.test" "$start" "$end"
leaf expired ca "$names" 20200101000000Z 20201231000000Z
TLS_NAMES=$names openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -keyout selfsigned.key \
  -out selfsigned.pem -subj "/CN=Tamsu test host" -addext "subjectAltName=$names" >/dev/null 2>&1
cp selfsigned.pem selfsigned.chain.pem
openssl x509 -in ca.pem -outform DER -out ca.der
rm -f ./*.old index.txt* serial* [0-9A-F][0-9A-F]*.pem 2>/dev/null || true
echo "TLS certificates for: $*"
