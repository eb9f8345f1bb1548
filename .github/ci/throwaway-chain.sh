#!/usr/bin/env bash
# A throwaway root -> intermediate -> code-signing chain in DIR, as public
# code-signing certificates come and as the release tests make theirs:
# root.pem, intermediate.pem, signer.pem (its key signer.key, encrypted, the
# passphrase in pass, both mode 600), signer-chain.pem (signer, then the
# intermediate) and signer.crl, the intermediate's list revoking nothing. The
# signer names that list at a local address (CRL_URL below), which only the
# Linux customer check serves: on Windows nothing answers there. Valid for
# 30 days: a job run again later still checks the same release.
#
#   bash .github/ci/throwaway-chain.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: throwaway-chain.sh DIR" >&2; exit 2; }
cd "$1"
umask 077
printf 'throwaway passphrase\n' >pass
days=30
CRL_URL=http://127.0.0.1:8739/signer.crl

openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days "$days" \
    -subj '/CN=Setup CI Throwaway Root' \
    -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,cRLSign' 2>/dev/null

issue() {  # NAME ISSUER SUBJECT EXTENSIONS [KEY OPTIONS]
    local name=$1 issuer=$2 subject=$3 extensions=$4
    shift 4
    openssl req -newkey rsa:2048 "$@" -keyout "$name.key" -out "$name.csr" -subj "$subject" 2>/dev/null
    printf '%b' "$extensions" >"$name.cnf"
    openssl x509 -req -in "$name.csr" -CA "$issuer.pem" -CAkey "$issuer.key" -CAcreateserial \
        -out "$name.pem" -days "$days" -extfile "$name.cnf" 2>/dev/null
}
issue intermediate root '/CN=Setup CI Throwaway Intermediate' \
    'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n' -nodes
issue signer intermediate '/CN=Setup CI Throwaway Signer/O=Test Vendor' \
    "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\ncrlDistributionPoints=URI:$CRL_URL\n" \
    -passout file:pass
cat signer.pem intermediate.pem >signer-chain.pem
: >index.txt
echo 01 >crlnumber
printf '[ca]\ndefault_ca = ci\n[ci]\ndatabase = index.txt\ncrlnumber = crlnumber\ndefault_md = sha256\ndefault_crl_days = %s\n' \
    "$days" >ca.cnf
openssl ca -config ca.cnf -keyfile intermediate.key -cert intermediate.pem -gencrl -out signer.crl 2>/dev/null
chmod 644 ./*.pem signer.crl
echo "throwaway chain in $PWD: signer $(openssl x509 -in signer.pem -noout -fingerprint -sha256)"
