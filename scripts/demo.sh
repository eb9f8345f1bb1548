#!/usr/bin/env bash
# Builds Setup.exe, writes a sample distribution and runs the installer on it
# under Wine in a throwaway prefix on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
arch=$(bash scripts/wine-arch.sh)
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" -j2 >/dev/null
echo "running the ${arch} build of Setup.exe under Wine"
SETUP_WINDOWS_BUILD="$PWD/build/$arch" SETUP_WINE_ARCH="$arch" python3 scripts/demo.py
