#!/usr/bin/env python3
"""The check kit's two programs run as the user who starts them: each carries
a manifest asking for no elevation (else Windows' installer detection asks
to elevate a 32-bit program named like setup-check), declares Windows 10 and
11, and binds version 6 of the common controls, which the kit's own task
dialog needs."""
import re
import sys

import pe as pefile

WINDOWS_10_AND_11 = '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a'


def problems(path):
    manifest = pefile.load(path).resources().get((pefile.RT_MANIFEST, 1), [b''])[0].decode('utf-8')
    wanted = {
        'no manifest': bool(manifest),
        'not asInvoker': re.search(r'<requestedExecutionLevel level="asInvoker" uiAccess="false"/>', manifest),
        'Windows 10 and 11 not declared': f'<supportedOS Id="{{{WINDOWS_10_AND_11}}}"/>' in manifest,
        'no common controls 6': re.search(r'name="Microsoft\.Windows\.Common-Controls" version="6\.0\.0\.0"', manifest),
    }
    return [what for what, ok in wanted.items() if not ok]


def main(paths):
    failed = 0
    for path in paths:
        found = problems(path)
        print(('FAILED  ' if found else 'ok      ') + path + (': ' + ', '.join(found) if found else ''))
        failed += bool(found)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
