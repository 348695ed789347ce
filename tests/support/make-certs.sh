#!/bin/bash
# Makes the code-signing certificates the tests and the demo sign with, into
# one folder (keys stay there; never commit them). Made once: a folder that
# holds "done" is left as it is.
#   make-certs.sh <folder> [publisher]
# Files (each certificate PEM with its key NAME.key; NAME.chain.pem is the
# certificate followed by its issuer, as the signing tool takes it):
#   ca            the test authority (trust it in the prefix to test trust)
#   signer        "<publisher>", code signing, issued by ca
#   other         "Other Maker", code signing, issued by ca
#   nousage       "<publisher>", digital signature only (no code-signing usage), issued by ca
#   untrusted-ca  an authority nobody trusts
#   untrusted     "<publisher>", code signing, issued by untrusted-ca
#   other-ca      a second authority the test prefix trusts, not pinned
#   unpinned      "<publisher>", code signing, issued by other-ca
#   twonames      common names "<publisher>" and "Mallory Ltd", code signing, issued by ca
#   fullwidth     "Ｂｒａｎｎｏｃｋ" (full-width letters), code signing, issued by ca
#   selfsigned    "<publisher>", code signing, its own issuer
#   webinter      an authority issued by ca, limited to server authentication
#   webonly       "<publisher>", code signing, issued by webinter
# sign: sign-file.sh in this folder signs IN into OUT with a NAME's chain.
set -eu
out=$1
publisher=${2:-Brannock}
[ -f "$out/done" ] && [ -f "$out/webonly.pem" ] && exit 0
mkdir -p "$out"
cd "$out"
# A folder made before webonly was added keeps its keys (builds pin them).
older=""
[ -f done ] && [ -f fullwidth.pem ] && older=1

cat >ext.cnf <<'EOF'
[codesign]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[webinter]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
extendedKeyUsage=serverAuth
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[nousage]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EOF

authority() {  # name common-name
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout "$1.key" -out "$1.pem" -subj "/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" >/dev/null 2>&1
  cp "$1.pem" "$1.chain.pem"
}
leaf() {  # name common-name issuer extension-section
  openssl req -new -utf8 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" >/dev/null 2>&1
  openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -CAcreateserial -sha256 -days 3650 \
    -extfile ext.cnf -extensions "$4" -out "$1.pem" >/dev/null 2>&1
  cat "$1.pem" "$3.pem" >"$1.chain.pem"
  rm -f "$1.csr"
}

if [ -z "$older" ]; then
authority ca "Tamsu Test Authority"
authority untrusted-ca "Untrusted Test Authority"
authority other-ca "Other Test Authority"
leaf signer "$publisher" ca codesign
leaf other "Other Maker" ca codesign
leaf nousage "$publisher" ca nousage
leaf untrusted "$publisher" untrusted-ca codesign
leaf unpinned "$publisher" other-ca codesign
leaf twonames "$publisher/CN=Mallory Ltd" ca codesign
leaf fullwidth "Ｂｒａｎｎｏｃｋ" ca codesign
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout selfsigned.key -out selfsigned.pem \
  -subj "/CN=$publisher" -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
cp selfsigned.pem selfsigned.chain.pem
openssl x509 -in ca.pem -outform DER -out ca.der
openssl x509 -in other-ca.pem -outform DER -out other-ca.der
fi
leaf webinter "Web Test Authority" ca webinter
leaf webonly "$publisher" webinter codesign

cat >sign-file.sh <<'EOF'
#!/bin/bash
# sign-file.sh NAME IN OUT: signs a PE file with NAME's certificate chain (SHA-256).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
rm -f "$3"
osslsigncode sign -certs "$here/$1.chain.pem" -key "$here/$1.key" -h sha256 -n "Tamsu" -in "$2" -out "$3" >/dev/null
EOF
chmod +x sign-file.sh
touch done
