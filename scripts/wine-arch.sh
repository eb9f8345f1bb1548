#!/usr/bin/env bash
# Prints the Wine architecture the tests can use here: win32 where this host
# runs 32-bit code (the product's own), win64 where the kernel has 32-bit
# execution switched off and only 64-bit Wine runs.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo win32
else
    echo win64
fi
