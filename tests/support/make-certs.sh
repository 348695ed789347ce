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
#   expired       "<publisher>", code signing, issued by ca, valid for the first
#                 minute of ca (expired.time: a time inside it, for timestamps)
#   tsa           "Tamsu Test Timestamps", time stamping, issued by ca, valid from
#                 ca's start; tsa.cnf configures `openssl ts -reply` with it
#   webinter      an authority issued by ca, limited to server authentication
#   webonly       "<publisher>", code signing, issued by webinter
# sign: sign-file.sh in this folder signs IN into OUT with a NAME's chain.
set -eu
out=$1
publisher=${2:-Brannock}
[ -f "$out/done" ] && [ -f "$out/tsa.cnf" ] && [ -f "$out/webonly.pem" ] && exit 0
mkdir -p "$out"
cd "$out"

cat >ext.cnf <<'EOF'
[codesign]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[timestamping]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=critical,timeStamping
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

if [ ! -f done ]; then
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
fi

# Added later to a folder made before (its authority and pins stay).
# Both count from the authority's own start (nothing can lie before it in
# a chain judged at a time): expired is valid for its first minute, so it
# has expired by the time the tests sign with it (the folder is made when
# the build is configured), and a timestamp of its middle (expired.time)
# lies inside its validity and the authority's. A validity not counted
# from now needs the authority's own tool.
ca_start=$(openssl x509 -in ca.pem -noout -startdate | cut -d= -f2)
ca_end=$(openssl x509 -in ca.pem -noout -enddate | cut -d= -f2)
echo $(($(date -u -d "$ca_start" +%s) + 30)) >expired.time
mkdir -p ca-db && : >ca-db/index.txt && echo 1000 >ca-db/serial
cat >ca-db/ca.cnf <<'EOF'
[ca]
default_ca=test
[test]
dir=ca-db
database=$dir/index.txt
new_certs_dir=$dir
serial=$dir/serial
default_md=sha256
policy=any
unique_subject=no
[any]
commonName=supplied
EOF
issue() {  # name common-name extension-section start end
  openssl req -new -utf8 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" >/dev/null 2>&1
  openssl ca -batch -config ca-db/ca.cnf -cert ca.pem -keyfile ca.key -in "$1.csr" -out "$1.pem" -notext \
    -startdate "$(date -u -d "$4" +%Y%m%d%H%M%SZ)" -enddate "$(date -u -d "$5" +%Y%m%d%H%M%SZ)" \
    -extfile ext.cnf -extensions "$3" >/dev/null 2>&1
  cat "$1.pem" ca.pem >"$1.chain.pem"
  rm -f "$1.csr"
}
issue expired "$publisher" codesign "$ca_start" "$ca_start + 1 minute"
issue tsa "Tamsu Test Timestamps" timestamping "$ca_start" "$ca_end"
cat >tsa.cnf <<EOF
[tsa]
default_tsa=test
[test]
serial=$PWD/tsa.serial
signer_cert=$PWD/tsa.pem
certs=$PWD/ca.pem
signer_key=$PWD/tsa.key
signer_digest=sha256
default_policy=1.3.6.1.4.1.61000.1
digests=sha256,sha384,sha512,sha1
accuracy=secs:1
ess_cert_id_alg=sha256
EOF
echo 01 >tsa.serial
# The web-only chain (also added later).
[ -f webonly.pem ] || { leaf webinter "Web Test Authority" ca webinter; leaf webonly "$publisher" webinter codesign; }
