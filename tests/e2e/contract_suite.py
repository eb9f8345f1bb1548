#!/usr/bin/env python3
"""The file-operation contract suite (tests/unit/fileops_test.cpp, built with
MinGW) against the Win32 backend under Wine, in a fresh prefix. Prints the
suite's counts and every skipped case with its reason; fails on any failure."""
import re
import shutil
import subprocess
import sys
import time

from lab.wine import NO_DAC_OVERRIDE, arch, loader, wineserver, windows_build
from checked import Scenario


def main():
    t0 = time.time()
    s = Scenario('fileops_contract')
    try:
        # Without the file-permission privilege, as the read-only attribute binds a Windows user.
        proc = subprocess.run(NO_DAC_OVERRIDE + [loader(), str(windows_build() / 'fileops_contract.exe')], env=s.env,
                              capture_output=True, text=True, errors='replace', timeout=300)
    finally:
        subprocess.run([wineserver(), '-k'], env=s.env, timeout=60)
    out = proc.stdout
    print(out)
    passed = len(re.findall(r'^\[       OK \]', out, re.M))
    failed = sorted(set(re.findall(r'^\[  FAILED  \] (\S+) \(', out, re.M)))
    # A skipped case's reason is the line GoogleTest prints just before it.
    skipped = re.findall(r'^(.+)\n\[  SKIPPED \] (\S+) \(', out, re.M)
    ran = re.search(r'^\[==========\] (\d+) tests? from', out, re.M)
    print(f'contract suite on the Win32 backend under Wine ({arch()}): {passed} passed, {len(skipped)} skipped, '
          f'{len(failed)} failed, in {time.time() - t0:.1f} s')
    for reason, name in skipped:
        print(f'skipped {name}: {reason}')
    if proc.returncode != 0 or failed or not ran or passed == 0:
        print(f'exit status {proc.returncode}; failed: {failed}', file=sys.stderr)
        return 1
    shutil.rmtree(s.root)
    return 0


if __name__ == '__main__':
    sys.exit(main())
