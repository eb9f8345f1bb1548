#!/usr/bin/env bash
# Builds one commit, for the release and the check kit alike: the commit's
# own files (git archive) in a fresh folder, with no cache, flag or edit of
# build/ or of the work tree. CMake takes CXXFLAGS, LDFLAGS and more from the
# environment on first configure, so the build sees only an allow-list.
# Builds WIN32_TARGET... with the win32 preset and the plan printer with the
# native one, and writes the toolchain that built them to SRC_DIR/build-tools.
#
#   bash release/clean-build.sh ROOT COMMIT SRC_DIR WIN32_TARGET...
#
# The output goes to SRC_DIR/build.log; on a failure its last lines go to
# stderr and the status is 1. SOURCE_DATE_EPOCH must be set.
set -euo pipefail
[ $# -ge 4 ] || { echo "usage: clean-build.sh ROOT COMMIT SRC_DIR WIN32_TARGET..." >&2; exit 2; }
root=$1 commit=$2 src=$3
shift 3
mkdir -p "$src"
git -C "$root" archive "$commit" | tar -x -C "$src"
clean_env=(env -i "PATH=$PATH" "HOME=${HOME:-/}" "TMPDIR=${TMPDIR:-/tmp}" LANG=C.UTF-8 TZ=UTC
    "SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:?}")
if ! "${clean_env[@]}" bash -ec 'cd "$0"
    cmake --preset win32
    cmake --build --preset win32 -j2 --target "$@"
    cmake --preset native
    cmake --build --preset native -j2 --target setup-plan' "$src" "$@" >"$src/build.log" 2>&1; then
    tail -n 20 "$src/build.log" >&2
    exit 1
fi

# The toolchain as CMake found it.
compiler=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$src"/build/win32/CMakeFiles/*/CMakeCXXCompiler.cmake)
linker=$(sed -n 's/^CMAKE_LINKER:[A-Z]*=//p' "$src/build/win32/CMakeCache.txt")
first_line() { "${clean_env[@]}" "$@" --version 2>&1 | head -n 1; }
{
    echo "compiler: $(first_line "$compiler")"
    echo "binutils: $(first_line "$linker")"
    echo "cmake: $(first_line cmake)"
} >"$src/build-tools"
