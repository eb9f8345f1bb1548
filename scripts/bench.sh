#!/usr/bin/env bash
# Speed figures: the POSIX port against cp, Setup.exe under Wine against a
# program that only shows a task dialog, and call counts. Prints; asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
source lab/wine-build.sh
command -v strace >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq strace >/dev/null
cmake --preset native >/dev/null && cmake --build --preset native -j2 --target setup >/dev/null
PYTHONPATH="$PWD" python3 -P -m lab.bench
