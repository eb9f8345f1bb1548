#!/usr/bin/env bash
# Every test: native units and the real Setup.exe under Wine. Ends with ctest's summary.
# SETUP_WINE_ARCH=win32 or win64 picks the Wine path where both run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

chosen=$(bash lab/wine-arch.sh)
arch=${chosen%%$'\n'*}
proven="Wine tests run ${chosen#*$'\n'}"
echo "$proven"

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2
if [ "$arch" = win64 ]; then
    cmake --preset win64 >/dev/null
    cmake --build --preset win64 -j2
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
cmake --preset native -DSETUP_WINDOWS_BUILD="$PWD/build/$arch" -DSETUP_WINE_ARCH="$arch" \
    -DSETUP_PRODUCT_BUILD="$PWD/build/win32" -DSETUP_FUZZ_BUILD="$PWD/build/fuzz" >/dev/null
cmake --build --preset native -j2
cd build/native
echo "$proven"
ctest --output-on-failure -j2
