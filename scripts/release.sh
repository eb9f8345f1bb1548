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

# A pass file given as a pipe, <(...), can be read only once: it is read here
# and handed to each step on descriptor 3, byte for byte, never to a file.
args=() secret='' piped=''
while [ $# -gt 0 ]; do
    case "$1" in
    --pass-file=*) set -- --pass-file "${1#--pass-file=}" "${@:2}" ;;
    esac
    if [ "$1" = --pass-file ] && [ $# -ge 2 ] && [ -e "$2" ] && [ ! -f "$2" ] && [ ! -d "$2" ]; then
        secret=$(cat -- "$2" && printf x) && secret=${secret%x} && piped=1
        args+=(--pass-file /dev/fd/3)
        shift 2
        continue
    fi
    args+=("$1")
    shift
done
set -- ${args[@]+"${args[@]}"}

# Each step runs in a session of its own, so a Ctrl+C at the terminal reaches
# it once, through here; a signal to this script goes to the running step,
# which cleans up after itself, and the release stops.
step_pid='' step_signal='' stopped=''
exec 9>&2  # this script's stderr, for a step whose own is redirected
forward() {
    stopped=$1
    [ -z "$step_pid" ] || kill -s "${step_signal:-$1}" -- "-$step_pid" 2>/dev/null || true
}
for sig in INT TERM HUP; do
    trap "forward $sig" "$sig"
done
step() {
    local status=0
    if [ -n "$piped" ]; then
        setsid "$@" 3< <(printf '%s' "$secret") &
    else
        setsid "$@" &
    fi
    step_pid=$!
    wait "$step_pid" || status=$?
    while kill -0 "$step_pid" 2>/dev/null; do
        status=0
        wait "$step_pid" || status=$?
    done
    step_pid=''
    if [ -n "$stopped" ]; then
        # The release steps say so themselves; the build cannot.
        [ -z "$step_signal" ] || echo "error: stopped by SIG$stopped during the build; nothing was released" >&9
        exit $((128 + $(kill -l "$stopped")))
    fi
    return "$status"
}

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
step "$python" "$root/scripts/release.py" --preflight "$@" </dev/null || exit 1

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
# The build's tools start with Ctrl+C ignored, as background jobs do: they are
# stopped with SIGTERM.
step_signal=TERM
if ! step "${clean_env[@]}" bash -ec 'cd "$0"
    cmake --preset win32
    cmake --build --preset win32 --target Setup -j2
    cmake --preset native
    cmake --build --preset native --target setup-plan -j2' "$work/src" >"$work/build.log" 2>&1; then
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
step_signal=''

status=0
step "$python" "$work/src/scripts/release.py" --checked --setup-exe "$work/src/build/win32/Setup.exe" \
    --plan-tool "$work/src/build/native/setup-plan" --build-info "$work/build-info" "$@" </dev/null || status=$?
exit "$status"
