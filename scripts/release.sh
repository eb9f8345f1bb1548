#!/usr/bin/env bash
# Builds Setup.exe and setup-plan from the checked-out commit in a fresh
# temporary folder, checks the vendor's distribution folder against the
# installer's own plan, signs the programs when a certificate is given, and
# writes one reproducible zip, SHA256SUMS (and SHA256SUMS.p7s) to OUT_DIR.
# Installs nothing. Exit status 0 on success, 1 on any error. Usage:
# `bash scripts/release.sh --help` (the text lives in release/__main__.py).
#
# SOURCE_DATE_EPOCH fixes the signing time and the zip's times; unset, the
# time of the checked-out commit is used.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export PYTHONPATH="$root"

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
python=$(bash "$root/release/python.sh") || { missing+=("$python"); python=; }
for arg in "$@"; do
    case "$arg" in
    -h | --help)
        [ -z "$python" ] || exec "$python" -P -m release --help
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
step "$python" -P -m release --preflight "$@" </dev/null || exit 1

work=$(mktemp -d "${TMPDIR:-/tmp}/release-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "building Setup.exe (win32 preset) and setup-plan from $commit" >&2
# The build's tools start with Ctrl+C ignored, as background jobs do: they are
# stopped with SIGTERM.
step_signal=TERM
if ! step bash "$root/release/clean-build.sh" "$root" "$commit" "$work/src" Setup; then
    echo "error: the build of $commit failed (its last lines above); nothing was released" >&2
    exit 1
fi
# The toolchain that built Setup.exe: printed here and written to BUILDINFO.
{ echo "commit: $commit"; cat "$work/src/build-tools"; } >"$work/build-info"
tail -n +2 "$work/build-info"
step_signal=''

status=0
step env PYTHONPATH="$work/src" "$python" -P -m release --checked --setup-exe "$work/src/build/win32/Setup.exe" \
    --plan-tool "$work/src/build/native/setup-plan" --build-info "$work/build-info" "$@" </dev/null || status=$?
exit "$status"
