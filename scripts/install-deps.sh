#!/usr/bin/env bash
# Installs what the builds, tests and release command need on a Debian 12
# machine (root or sudo). Idempotent: packages already present are left as they are.
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

packages=(cmake g++ make libgtest-dev googletest python3 util-linux file clang libclang-rt-14-dev
          g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686
          wine wine64 xvfb osslsigncode openssl python3-pefile python3-liblnk liblnk-utils unzip
          softhsm2 libengine-pkcs11-openssl opensc-pkcs11 faketime)

missing_of() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

# A mirror caught mid-sync fails an index now and then; the lists that did
# arrive are usually enough, so the update's error alone stops nothing.
install() {
    local attempt tries=$1
    shift
    for attempt in $(seq "$tries"); do
        $SUDO apt-get update -qq || echo "apt-get update reported an error (attempt $attempt)" >&2
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@" >/dev/null &&
            return 0
        [ "$attempt" -lt "$tries" ] && sleep "${SETUP_APT_PAUSE:-20}"
    done
    return 1
}

mapfile -t missing < <(missing_of "${packages[@]}")
if [ "${#missing[@]}" -gt 0 ]; then
    echo "installing: ${missing[*]}"
    install 3 "${missing[@]}"
fi

# 32-bit Wine runs the product itself, where the kernel executes 32-bit code.
# Without it the Wine tests run the x86_64 build (lab/wine-arch.sh), so a
# failed install is reported, not fatal. Its index comes only with the i386
# architecture, and a mirror in mid-sync fails it now and then: refreshed once
# more. i386 is never left added with no i386 package installed.
drop_bare_i386() {
    dpkg --print-foreign-architectures | grep -qx i386 || return 0
    dpkg-query -W -f='${Architecture} ${Status}\n' 2>/dev/null | grep -q '^i386 install ok installed$' ||
        $SUDO dpkg --remove-architecture i386
}

if [ -n "$(missing_of wine32:i386)" ]; then
    echo "installing: wine32:i386"
    trap drop_bare_i386 EXIT
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    if ! install 2 wine32:i386; then
        drop_bare_i386
        echo "wine32:i386 could not be installed: the Wine tests will run the x86_64 build under 64-bit Wine" >&2
    fi
    trap - EXIT
fi
