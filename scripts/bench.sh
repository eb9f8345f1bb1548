#!/usr/bin/env bash
# Speed figures: the POSIX port against cp, Setup.exe under Wine against a
# program that only shows a task dialog, and call counts. Prints; asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
command -v strace >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq strace >/dev/null
arch=$(bash scripts/wine-arch.sh)
cmake --preset "$arch" >/dev/null && cmake --build --preset "$arch" -j2 >/dev/null
cmake --preset native >/dev/null && cmake --build --preset native -j2 --target setup >/dev/null
SETUP_WINDOWS_BUILD="$PWD/build/$arch" SETUP_WINE_ARCH="$arch" python3 scripts/bench.py
