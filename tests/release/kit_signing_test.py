#!/usr/bin/env python3
"""The check kit's packager signing its two programs with the release's
certificate and key."""
import subprocess
import sys
import zipfile

import named
import support
from release.signing import offline_flags
from support import BUILD, expect, fresh, signing_args, throwaway_ca

test = named.Tests()


@test
def check_kit_signs_its_programs():
    """The kit's packager with the release's --cert and --key: both programs in the
    kit's zip verify against the root alone and name the signer; with --cert
    alone nothing is made."""
    ca = throwaway_ca(fresh('kit-keys'))
    out = fresh('kit-out')
    base = [sys.executable, '-P', '-m', 'kit.package', '--build', str(BUILD.parent), '--version', 'test',
            '--epoch', support.EPOCH]
    half = subprocess.run(base + ['--cert', str(ca['cert']), str(out)], capture_output=True, text=True)
    expect((half.returncode, list(out.iterdir())), (1, []), f'--cert alone ({half.stderr.strip()})')
    proc = subprocess.run(base + signing_args(ca) + [str(out)], capture_output=True, text=True)
    expect(proc.returncode, 0, f'exit status ({proc.stderr})')
    with zipfile.ZipFile(out / 'Orvo_Tool-Setup-check-test.zip') as z:
        z.extractall(out / 'unpacked')
    for name in ('setup-check.exe', 'fileops_contract.exe'):
        exe = out / 'unpacked' / 'Orvo_Tool-Setup-check-test' / name
        verified = subprocess.run(['osslsigncode', 'verify', '-in', str(exe), '-CAfile', str(ca['root']),
                                   *offline_flags()], capture_output=True, text=True)
        expect((verified.returncode, 'Throwaway Signer' in verified.stdout), (0, True), f'{name} verified')


if __name__ == '__main__':
    sys.exit(test.main(sys.argv))
