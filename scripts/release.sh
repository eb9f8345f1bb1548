#!/usr/bin/env bash
# Builds Setup.exe and setup-plan from the checked-out commit in a fresh
# temporary folder, checks the vendor's distribution folder against the
# installer's own plan, signs the programs when a certificate is given, and
# writes one reproducible zip, SHA256SUMS (and SHA256SUMS.p7s) to OUT_DIR.
# Installs nothing. Exit status 0 on success, 1 on any error. Usage:
# `bash scripts/release.sh --help` (the text lives in release.py).
#
# SOURCE_DATE_EPOCH fixes the signing time and the zip's times; unset, the
# time of the checked-out commit is used.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

missing=()
need() { command -v "$1" >/dev/null || missing+=("$1 (Debian package $2)"); }
need git git
need cmake cmake
need make make
need g++ g++
need i686-w64-mingw32-g++ g++-mingw-w64-i686-win32
need i686-w64-mingw32-windres binutils-mingw-w64-i686
python=$(bash "$root/scripts/release-python.sh") || { missing+=("$python"); python=; }
for arg in "$@"; do
    case "$arg" in
    -h | --help)
        [ -z "$python" ] || exec "$python" "$root/scripts/release.py" --help
        ;;
    --cert | --cert=*)
        need osslsigncode osslsigncode
        need openssl openssl
        ;;
    esac
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "error: missing: $(printf '%s, ' "${missing[@]}" | sed 's/, $//'); nothing was released" >&2
    exit 1
fi

commit=$(git -C "$root" rev-parse --verify HEAD 2>/dev/null) ||
    { echo "error: $root is not a git checkout with a commit; nothing was released" >&2; exit 1; }
changed=$(git -C "$root" diff --name-only HEAD | paste -sd ' ' -)
if [ -n "$changed" ]; then
    echo "error: tracked files differ from commit $commit: $changed; commit or stash them; nothing was released" >&2
    exit 1
fi
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
echo "commit: $commit"
echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"

# A wrong passphrase or a full OUT_DIR ends the run before the build.
"$python" "$root/scripts/release.py" --preflight "$@" </dev/null || exit 1

# The commit's own tree in a fresh folder: no cache, flag or edit of build/
# or of the work tree reaches the release.
work=$(mktemp -d "${TMPDIR:-/tmp}/release-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
git -C "$root" archive "$commit" | tar -x -C "$work/src"
echo "building Setup.exe (win32 preset) and setup-plan from $commit" >&2
# CMake takes CXXFLAGS, LDFLAGS and more from the environment on first
# configure: the build sees only this allow-list, so the caller's cannot
# change Setup.exe.
clean_env=(env -i "PATH=$PATH" "HOME=${HOME:-/}" "TMPDIR=${TMPDIR:-/tmp}" LANG=C.UTF-8 TZ=UTC
    "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH")
if ! (cd "$work/src" && "${clean_env[@]}" bash -ec 'cmake --preset win32
    cmake --build --preset win32 --target Setup -j2
    cmake --preset native
    cmake --build --preset native --target setup-plan -j2') >"$work/build.log" 2>&1; then
    tail -n 20 "$work/build.log" >&2
    echo "error: the build of $commit failed (its last lines above); nothing was released" >&2
    exit 1
fi

# The toolchain that built Setup.exe, as CMake found it: printed here and
# written to BUILDINFO.
compiler=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' \
    "$work"/src/build/win32/CMakeFiles/*/CMakeCXXCompiler.cmake)
linker=$(sed -n 's/^CMAKE_LINKER:[A-Z]*=//p' "$work/src/build/win32/CMakeCache.txt")
first_line() { "${clean_env[@]}" "$@" --version 2>&1 | head -n 1; }
{
    echo "commit: $commit"
    echo "compiler: $(first_line "$compiler")"
    echo "binutils: $(first_line "$linker")"
    echo "cmake: $(first_line cmake)"
} >"$work/build-info"
tail -n +2 "$work/build-info"

status=0
"$python" "$work/src/scripts/release.py" --checked --setup-exe "$work/src/build/win32/Setup.exe" \
    --plan-tool "$work/src/build/native/setup-plan" --build-info "$work/build-info" "$@" </dev/null || status=$?
exit "$status"
