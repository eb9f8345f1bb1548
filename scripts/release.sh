#!/usr/bin/env bash
# Builds Setup.exe reproducibly, checks the vendor's distribution folder against
# the installer's own plan, signs Setup.exe when a certificate is given, and
# writes one reproducible zip and SHA256SUMS to OUT_DIR. Exit status 0 on success.
#
#   bash scripts/release.sh [--cert CERT.pem --key KEY.pem [--ca ROOT.pem]
#                            [--pass-file FILE] [--timestamp URL]] SOURCE_DIR OUT_DIR
#
# SOURCE_DATE_EPOCH fixes the signing time and the zip's times; unset, the
# time of the checked-out commit is used.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

for tool in cmake g++ i686-w64-mingw32-g++ osslsigncode python3; do
    command -v "$tool" >/dev/null || { bash "$root/scripts/install-deps.sh" >&2; break; }
done
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) ||
        { echo "release: set SOURCE_DATE_EPOCH (no git history to take it from)" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

echo "building Setup.exe (win32 preset) and setup-plan" >&2
(cd "$root" && cmake --preset win32 >/dev/null && cmake --build --preset win32 --target Setup >/dev/null &&
    cmake --preset native >/dev/null && cmake --build --preset native --target setup-plan >/dev/null) ||
    { echo "release: the build failed" >&2; exit 1; }

version=$(sed -n 's/^#define SETUP_VERSION_TEXT "\(.*\)"$/\1/p' "$root/app/resources/version.h")
exec python3 "$root/scripts/release.py" --setup-exe "$root/build/win32/Setup.exe" \
    --plan-tool "$root/build/native/setup-plan" --version "$version" "$@"
