#!/usr/bin/env bash
# Runs the customer's Linux block (the ```sh block under "What a customer
# checks" in docs/verifying.md), word for word, on a copy of RELEASE_DIR,
# which holds the release with ROOT.pem and VENDOR_SHA256. osslsigncode 2.6 and later fetch the CRL the
# signer names, as a customer's would: CRL_FILE is served at its address
# (throwaway-chain.sh's CRL_URL) meanwhile.
#
#   bash .github/ci/customer-check.sh RELEASE_DIR CRL_FILE
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 2 ] || { echo "usage: customer-check.sh RELEASE_DIR CRL_FILE" >&2; exit 2; }
block=$(awk '/^#+ What a customer checks/ { in_part = 1 }
    in_part && /^```sh$/ { in_block = 1; next }
    in_block && /^```$/ { exit }
    in_block' "$root/docs/verifying.md")
[ -n "$block" ] || { echo "error: no sh block under \"What a customer checks\" in docs/verifying.md" >&2; exit 1; }
customer=$(mktemp -d "${TMPDIR:-/tmp}/customer.XXXXXX")
served=$customer/served
mkdir "$served"
cp "$2" "$served/signer.crl"
python3 -m http.server 8739 --bind 127.0.0.1 --directory "$served" >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; rm -rf "$customer"' EXIT
for _ in $(seq 50); do
    python3 -c 'import urllib.request; urllib.request.urlopen("http://127.0.0.1:8739/signer.crl")' 2>/dev/null && break
    sleep 0.1
done
cp "$1"/*.zip "$1"/BUILDINFO "$1"/SHA256SUMS "$1"/SHA256SUMS.p7s "$1"/ROOT.pem "$customer"/
VENDOR_SHA256=$(cat "$1/VENDOR_SHA256")
export VENDOR_SHA256
(cd "$customer" && bash -c "$block")
