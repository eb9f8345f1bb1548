#!/usr/bin/env bash
# Prints the python3 that can import what the release command reads with:
# pefile (version resources, Authenticode digests) and pylnk (shortcuts). The
# one probe the command and its tests share: Debian's python3-pefile and
# python3-liblnk serve Debian's own python3, which may not be the first
# python3 on PATH. If none can, prints what Debian's python3 lacks, in the
# words of release.sh's list of missing tools, and exits with status 1.
declare -A package=([pefile]=python3-pefile [pylnk]=python3-liblnk)
for candidate in python3 /usr/bin/python3; do
    if command -v "$candidate" >/dev/null && "$candidate" -c 'import pefile, pylnk' 2>/dev/null; then
        command -v "$candidate"
        exit 0
    fi
done
lacking=()
for module in pefile pylnk; do
    /usr/bin/python3 -c "import $module" 2>/dev/null || lacking+=("${package[$module]}")
done
[ -x /usr/bin/python3 ] || lacking=(python3 "${lacking[@]}")
echo "python3 with pefile and pylnk (Debian packages: ${lacking[*]})"
exit 1
