#!/usr/bin/env bash
# Prints the python3 that can import pefile, the one probe the release
# command and its tests share: Debian's python3-pefile serves Debian's own
# python3, which may not be the first python3 on PATH. Exit status 1 if none.
for candidate in python3 /usr/bin/python3; do
    if command -v "$candidate" >/dev/null && "$candidate" -c 'import pefile' 2>/dev/null; then
        command -v "$candidate"
        exit 0
    fi
done
exit 1
