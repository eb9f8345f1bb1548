#!/usr/bin/env bash
# Runs the README's customer block (the ```sh block under "What a customer
# checks"), word for word, on a copy of RELEASE_DIR, which holds the release
# with ROOT.pem and VENDOR_SHA256.
#
#   bash .github/ci/customer-check.sh RELEASE_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 1 ] || { echo "usage: customer-check.sh RELEASE_DIR" >&2; exit 2; }
block=$(awk '/^### What a customer checks/ { in_part = 1 }
    in_part && /^```sh$/ { in_block = 1; next }
    in_block && /^```$/ { exit }
    in_block' "$root/README.md")
[ -n "$block" ] || { echo "error: no sh block under \"What a customer checks\" in README.md" >&2; exit 1; }
customer=$(mktemp -d "${TMPDIR:-/tmp}/customer.XXXXXX")
trap 'rm -rf "$customer"' EXIT
cp "$1"/*.zip "$1"/BUILDINFO "$1"/SHA256SUMS "$1"/SHA256SUMS.p7s "$1"/ROOT.pem "$customer"/
VENDOR_SHA256=$(cat "$1/VENDOR_SHA256")
export VENDOR_SHA256
(cd "$customer" && bash -c "$block")
