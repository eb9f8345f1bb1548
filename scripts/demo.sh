#!/usr/bin/env bash
# Builds Setup.exe, writes a sample distribution and runs the installer on it
# under Wine in a throwaway prefix on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-build.sh
echo "running ${SETUP_WINE_PATH}"
python3 scripts/demo.py
