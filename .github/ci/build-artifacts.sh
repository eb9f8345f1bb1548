#!/usr/bin/env bash
# What the Windows jobs need, made from the checked-out commit on Debian 12:
#   OUT/kit/       the check kit zip (scripts/check-kit.sh), this commit's Setup.exe and the sample in its dist
#   OUT/Setup.exe  that Setup.exe, unsigned
#   OUT/sample/    the sample distribution the release is made from
#   OUT/release/   a release of the sample signed by a throwaway root -> intermediate -> code-signing
#                  chain made here, with ROOT.pem and the signer's fingerprint as VENDOR_SHA256
# The release is checked with the customer's Linux block (docs/verifying.md) before anything is kept.
#
#   bash .github/ci/build-artifacts.sh OUT
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 1 ] || { echo "usage: build-artifacts.sh OUT" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
[ -z "$(ls -A "$out")" ] || { echo "error: $out is not empty" >&2; exit 1; }

bash "$root/scripts/install-deps.sh"

keys=$(mktemp -d "${TMPDIR:-/tmp}/ci-keys.XXXXXX")
trap 'rm -rf "$keys"' EXIT
bash "$root/.github/ci/throwaway-chain.sh" "$keys"

bash "$root/scripts/check-kit.sh" "$out/kit"
kit=$(echo "$out"/kit/Orvo_Tool-Setup-check-*.zip)
unzip -p "$kit" '*/dist/Setup.exe' >"$out/Setup.exe"

# The sample is written from the plan printer of a build of this commit.
(cd "$root" && cmake --preset native >/dev/null && cmake --build --preset native -j2 --target setup-plan >/dev/null)
PYTHONPATH="$root" python3 -P -m sample.distribution "$out/sample" --language 1
# The signing time must fall inside the chain's validity, which began just now.
SOURCE_DATE_EPOCH=$(date +%s) bash "$root/scripts/release.sh" --cert "$keys/signer-chain.pem" --key "$keys/signer.key" \
    --pass-file "$keys/pass" --ca "$keys/root.pem" "$out/sample" "$out/release"
cp "$keys/root.pem" "$out/release/ROOT.pem"
openssl x509 -in "$keys/signer.pem" -noout -fingerprint -sha256 | sed 's/^.*=//' >"$out/release/VENDOR_SHA256"

# Two fresh builds of one commit: the kit's Setup.exe is the one the release signed.
built=$(sha256sum "$out/Setup.exe" | cut -d' ' -f1)
released=$(sed -n 's/^setup-exe-unsigned-sha256: //p' "$out/release/BUILDINFO")
[ "$built" = "$released" ] || { echo "error: the kit's Setup.exe ($built) is not the release's build ($released)" >&2; exit 1; }

bash "$root/.github/ci/customer-check.sh" "$out/release" "$keys/signer.crl"
echo "artifacts in $out:"
(cd "$out" && find . -type f -print0 | sort -z | xargs -0 sha256sum)
