#!/usr/bin/env bash
# Makes the check kit a vendor runs on a Windows test machine:
# OUT_DIR/Orvo_Tool-Setup-check-<version>.zip with setup-check.exe, the
# file-operation contract suite for Windows, a distribution and README.txt.
# Everything Windows in it is the checked-out commit's own build by the
# reproducible win32 preset (i686), made in a fresh folder. Installs nothing.
#
#   bash scripts/check-kit.sh [--release RELEASE.zip] [--cert CERT.pem --key KEY [...]] OUT_DIR
#
# The version in the name is the release's (from its zip's name), else Setup's own.
# --cert, --key and the release's other signing options (their one list is
# SIGNING_OPTIONS in release/common.py) sign the kit's programs as the
# release signs Setup.exe. Only the vendor's own public code-signing
# certificate makes SmartScreen and Smart App Control treat them as the
# vendor's; a throwaway certificate does not.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export PYTHONPATH="$root"
usage() { echo "usage: check-kit.sh [--release RELEASE.zip] [--cert CERT.pem --key KEY [...]] OUT_DIR" >&2; exit 2; }

release=()
signing=()
signing_options=" $(python3 -P -c 'from release.common import SIGNING_OPTIONS; print(*SIGNING_OPTIONS)' 2>/dev/null || true) "
while [ $# -gt 1 ]; do
    case "$1" in
    --release)
        [ -f "$2" ] || usage
        release=(--release "$(cd "$(dirname "$2")" && pwd)/$(basename "$2")")
        ;;
    *)
        [ "${signing_options#* "$1" }" != "$signing_options" ] || break
        signing+=("$1" "$2")
        ;;
    esac
    shift 2
done
[ $# -eq 1 ] || usage
out="$1"

missing=()
for pair in git:git cmake:cmake make:make g++:g++ python3:python3 i686-w64-mingw32-g++:g++-mingw-w64-i686-win32 \
    i686-w64-mingw32-windres:binutils-mingw-w64-i686; do
    command -v "${pair%%:*}" >/dev/null || missing+=("${pair%%:*} (Debian package ${pair#*:})")
done
[ -d /usr/src/googletest ] || missing+=("GoogleTest sources (Debian package googletest)")
python=python3
if [ "${#signing[@]}" -gt 0 ]; then
    command -v osslsigncode >/dev/null || missing+=("osslsigncode (Debian package osslsigncode)")
    command -v openssl >/dev/null || missing+=("openssl (Debian package openssl)")
    python=$(bash "$root/release/python.sh") || { missing+=("$python"); python=python3; }
fi
if [ "${#missing[@]}" -gt 0 ]; then
    echo "error: missing: $(printf '%s, ' "${missing[@]}" | sed 's/, $//')" >&2
    exit 1
fi

commit=$(git -C "$root" rev-parse --verify HEAD)
changed=$(git -C "$root" diff --name-only HEAD | paste -sd ' ' -)
if [ -n "$changed" ]; then
    echo "error: tracked files differ from commit $commit: $changed; commit or stash them" >&2
    exit 1
fi
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}

work=$(mktemp -d "${TMPDIR:-/tmp}/check-kit-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "building setup-check.exe, fileops_contract.exe and Setup.exe from $commit (win32 preset)" >&2
if ! SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH bash "$root/release/clean-build.sh" "$root" "$commit" "$work/src" \
    setup-check fileops_contract Setup; then
    echo "error: the build of $commit failed (its last lines above)" >&2
    exit 1
fi
"$python" -P -m kit.package --build "$work/src/build/win32" --plan-tool "$work/src/build/native/setup-plan" \
    --epoch "$SOURCE_DATE_EPOCH" "${release[@]}" "${signing[@]}" "$out"
