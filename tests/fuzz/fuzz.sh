#!/usr/bin/env bash
# Longer fuzz runs of the language-file and user-dirs readers.
# usage: tests/fuzz/fuzz.sh [SECONDS_EACH]   (default 600)
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2 >/dev/null
for target in userdirs language; do
    corpus=build/fuzz/corpus/$target
    mkdir -p "$corpus"
    echo "== $target"
    build/fuzz/${target}_fuzz -max_total_time="${1:-600}" -rss_limit_mb=4096 "$corpus" 2>&1 | grep -E '^Done|ERROR|SUMMARY'
done
