#!/usr/bin/env bash
# Prints the Wine architecture the tests can use here: win32 where 32-bit Wine
# runs (the product's own), win64 where only 64-bit Wine does: wine32 is not
# installed, or the kernel has 32-bit execution switched off.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo win32
else
    echo win64
fi
