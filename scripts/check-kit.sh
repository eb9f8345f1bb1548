#!/usr/bin/env bash
# Makes the check kit a vendor runs on a Windows test machine:
# OUT_DIR/Orvo_Tool-Setup-check-<version>.zip with setup-check.exe, the
# file-operation contract suite for Windows, a distribution and README.txt.
# Everything Windows in it is built by the reproducible win32 preset (i686).
#
#   bash scripts/check-kit.sh [--release RELEASE.zip] OUT_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

release=()
if [ "${1:-}" = --release ]; then
    [ $# -ge 2 ] || { echo "usage: check-kit.sh [--release RELEASE.zip] OUT_DIR" >&2; exit 2; }
    release=(--release "$(cd "$(dirname "$2")" && pwd)/$(basename "$2")")
    shift 2
fi
[ $# -eq 1 ] || { echo "usage: check-kit.sh [--release RELEASE.zip] OUT_DIR" >&2; exit 2; }
out="$1"

for tool in cmake i686-w64-mingw32-g++ python3; do
    command -v "$tool" >/dev/null || { bash "$root/scripts/install-deps.sh" >&2; break; }
done
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=315532800
fi

echo "building setup-check.exe, fileops_contract.exe and Setup.exe (win32 preset)" >&2
(cd "$root" && cmake --preset win32 >/dev/null &&
    cmake --build --preset win32 -j2 --target setup-check fileops_contract Setup >/dev/null) ||
    { echo "check-kit: the build failed" >&2; exit 1; }

version=$(sed -n 's/^#define SETUP_VERSION_TEXT "\(.*\)"$/\1/p' "$root/app/resources/version.h")
exec python3 "$root/scripts/check_kit.py" --build "$root/build/win32" --version "$version" \
    --epoch "$SOURCE_DATE_EPOCH" "${release[@]}" "$out"
