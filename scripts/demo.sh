#!/usr/bin/env bash
# Builds Setup.exe, writes a sample distribution and runs the installer on it
# under Wine in a throwaway prefix on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
source lab/wine-build.sh
echo "running ${SETUP_WINE_PATH}"
PYTHONPATH="$PWD" python3 -P -m lab.demo
