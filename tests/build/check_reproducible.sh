#!/usr/bin/env bash
# Two clean builds of Setup.exe from the same sources, in different folders and
# at different times, must be byte-identical; prints the hash.
# usage: check_reproducible.sh SOURCE_DIR WORK_DIR [REFERENCE_EXE]
set -euo pipefail
src=$1 work=$2 reference=${3:-}
rm -rf "$work"
build() {
    local dir=$work/$1
    SOURCE_DATE_EPOCH=$2 cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    SOURCE_DATE_EPOCH=$2 cmake --build "$dir" --target Setup -j2 >/dev/null
    sha256sum "$dir/Setup.exe" | cut -d' ' -f1
}
first=$(build one 1700000000)
sleep 2
second=$(build "another folder" 1800000000)
echo "first build:  $first"
echo "second build: $second"
status=0
[ "$first" = "$second" ] || { echo "FAILED: the two builds differ"; status=1; }
if [ -n "$reference" ]; then
    third=$(sha256sum "$reference" | cut -d' ' -f1)
    echo "test build:   $third ($reference)"
    [ "$first" = "$third" ] || { echo "FAILED: the test command's build differs"; status=1; }
fi
rm -rf "$work"
[ $status -eq 0 ] && echo "reproducible: Setup.exe sha256 $first"
exit $status
