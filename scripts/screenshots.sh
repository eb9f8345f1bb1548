#!/usr/bin/env bash
# Writes a picture of every box Setup.exe can show to docs/boxes/, from real
# runs under Wine. Run it again whenever a text changes, and commit the PNGs.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
arch=$(bash scripts/wine-arch.sh)
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" -j2 >/dev/null
echo "pictures of the ${arch} build of Setup.exe under Wine"
SETUP_WINDOWS_BUILD="$PWD/build/$arch" SETUP_WINE_ARCH="$arch" PYTHONDONTWRITEBYTECODE=1 python3 scripts/screenshots.py
