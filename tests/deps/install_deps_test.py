#!/usr/bin/env python3
"""scripts/install-deps.sh against an apt-get and a dpkg that keep their state
in a folder: the i386 index arrives only from an update made after i386 was
added, and an update may fail a given number of times, as a mirror in
mid-sync does."""
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

SCRIPT = Path(__file__).resolve().parents[2] / 'scripts' / 'install-deps.sh'

# The fakes: arches (foreign architectures), installed (pkg:arch lines),
# indexes (arches whose index arrived), update-fails (updates still to fail).
APT_GET = r'''#!/bin/bash
s=$FAKE_STATE
case "$1" in
update)
    n=$(cat "$s/update-fails")
    if [ "$n" -gt 0 ] && grep -qx i386 "$s/arches"; then
        echo $((n - 1)) > "$s/update-fails"; echo "E: Failed to fetch binary-i386/Packages.xz" >&2; exit 100
    fi
    { echo amd64; cat "$s/arches"; } > "$s/indexes" ;;
install)
    shift
    for p in "$@"; do
        case "$p" in -*) continue ;; esac
        arch=amd64; [ "${p#*:}" != "$p" ] && arch=${p#*:}
        grep -qx "$arch" "$s/indexes" || { echo "E: Unable to locate package $p" >&2; exit 100; }
        echo "${p%%:*}:$arch" >> "$s/installed"
    done ;;
esac
'''
DPKG = r'''#!/bin/bash
s=$FAKE_STATE
case "$1" in
--print-foreign-architectures) cat "$s/arches" ;;
--add-architecture) echo "$2" >> "$s/arches" ;;
--remove-architecture)
    grep -q ":$2$" "$s/installed" && { echo "dpkg: error: cannot remove architecture '$2'" >&2; exit 2; }
    grep -vx "$2" "$s/arches" > "$s/a"; mv "$s/a" "$s/arches" ;;
esac
'''
DPKG_QUERY = r'''#!/bin/bash
s=$FAKE_STATE
if [ $# -eq 3 ]; then
    p=$3; [ "${p#*:}" = "$p" ] && p=$p:amd64
    grep -qx "$p" "$s/installed" && printf 'install ok installed'
else
    sed 's/.*:\(.*\)/\1 install ok installed/' "$s/installed"
fi
'''
HOST = ['cmake', 'g++', 'make', 'libgtest-dev', 'googletest', 'python3', 'util-linux', 'file', 'clang',
        'libclang-rt-14-dev', 'g++-mingw-w64-i686-win32', 'g++-mingw-w64-x86-64-win32', 'binutils-mingw-w64-i686',
        'wine', 'wine64', 'xvfb', 'osslsigncode', 'openssl', 'python3-pefile', 'python3-liblnk', 'liblnk-utils',
        'unzip', 'softhsm2', 'libengine-pkcs11-openssl', 'opensc-pkcs11', 'faketime']


def run(arches, installed, update_fails):
    with tempfile.TemporaryDirectory() as d:
        state, bin_ = Path(d, 'state'), Path(d, 'bin')
        state.mkdir()
        bin_.mkdir()
        for name, text in [('apt-get', APT_GET), ('dpkg', DPKG), ('dpkg-query', DPKG_QUERY), ('sudo', 'exec "$@"\n')]:
            (bin_ / name).write_text(text)
            (bin_ / name).chmod(0o755)
        (state / 'arches').write_text(''.join(a + '\n' for a in arches))
        (state / 'installed').write_text(''.join(p + '\n' for p in installed))
        (state / 'indexes').write_text('amd64\n')
        (state / 'update-fails').write_text(f'{update_fails}\n')
        env = dict(os.environ, PATH=f'{bin_}:{os.environ["PATH"]}', FAKE_STATE=str(state), SETUP_APT_PAUSE='0')
        r = subprocess.run(['bash', str(SCRIPT)], env=env, capture_output=True, text=True, timeout=60)
        return (r.returncode, (state / 'arches').read_text().split(), 'wine32:i386' in (state / 'installed').read_text(),
                [line for line in r.stderr.splitlines() if 'the Wine tests will run' in line])


class Wine32(unittest.TestCase):
    def test_a_failed_i386_index_is_fetched_again_and_never_leaves_i386_bare(self):
        host = [p + ':amd64' for p in HOST]
        fallback = ['wine32:i386 could not be installed: the Wine tests will run the x86_64 build under 64-bit Wine']
        cases = [
            # name, foreign arches before, installed before, updates that fail: arches after, wine32, lines
            ('index fails once', [], host, 1, ['i386'], True, []),
            ('index fails every time', [], host, 9, [], False, fallback),
            ('i386 left bare by an earlier run', ['i386'], host, 9, [], False, fallback),
            ('another i386 package keeps i386', ['i386'], host + ['libc6:i386'], 9, ['i386'], False, fallback),
            ('already installed', ['i386'], host + ['wine32:i386'], 9, ['i386'], True, []),
        ]
        for name, arches, installed, fails, arches_after, wine32, lines in cases:
            with self.subTest(name):
                self.assertEqual(run(arches, installed, fails), (0, arches_after, wine32, lines))


if __name__ == '__main__':
    sys.exit(unittest.main())
