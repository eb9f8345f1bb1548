#!/usr/bin/env bash
# Chooses the Wine path of the tests and prints it on two lines: the prefix
# architecture (win32 or win64), then which build it proves and why.
# SETUP_WINE_ARCH=win32 or win64 asks for one path; without it the shipped
# i686 build runs wherever 32-bit Wine does.
set -euo pipefail

runs() { "$1" --version >/dev/null 2>&1; }
i686='the shipped i686 Setup.exe under 32-bit Wine'
x86_64='the x86_64 build under 64-bit Wine'

case "${SETUP_WINE_ARCH:-}" in
win32)
    runs /usr/lib/wine/wine || { echo "SETUP_WINE_ARCH=win32, but 32-bit Wine does not run here" >&2; exit 1; }
    printf 'win32\n%s: SETUP_WINE_ARCH=win32 asked for it\n' "$i686" ;;
win64)
    runs /usr/lib/wine/wine64 || { echo "SETUP_WINE_ARCH=win64, but 64-bit Wine does not run here" >&2; exit 1; }
    printf 'win64\n%s: SETUP_WINE_ARCH=win64 asked for it\n' "$x86_64" ;;
'')
    if runs /usr/lib/wine/wine; then
        printf 'win32\n%s: it runs here\n' "$i686"
    elif dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
        printf 'win64\n%s: 32-bit Wine is installed, but this kernel runs no 32-bit code\n' "$x86_64"
    else
        printf 'win64\n%s: 32-bit Wine is not installed\n' "$x86_64"
    fi ;;
*)
    echo "SETUP_WINE_ARCH must be win32 or win64, not '${SETUP_WINE_ARCH}'" >&2
    exit 1 ;;
esac
