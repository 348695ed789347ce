#!/bin/bash
# Prints the pin of a certificate (PEM): the SHA-256 of its DER-encoded
# SubjectPublicKeyInfo, upper-case hex, as SETUP_UPDATER_PINS takes it.
#   key-pin.sh <cert.pem>
set -eo pipefail
openssl x509 -in "$1" -noout -pubkey | openssl pkey -pubin -outform DER | sha256sum | cut -c1-64 | tr a-f A-F
