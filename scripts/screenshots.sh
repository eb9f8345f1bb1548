#!/usr/bin/env bash
# Writes a picture of every box Setup.exe can show to docs/boxes/, from real
# runs under Wine. Run it again whenever a text changes, and commit the PNGs.
set -euo pipefail
cd "$(dirname "$0")/.."
source lab/wine-build.sh
echo "pictures of ${SETUP_WINE_PATH}"
PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$PWD" python3 -P -m lab.screenshots
