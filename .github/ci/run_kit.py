#!/usr/bin/env python3
"""Runs the check kit on this Windows runner against its own dist and judges
the run (kit_verdict.py): extracts the one kit zip in KIT_DIR into FOLDER,
runs setup-check.exe there, keeps its output as FOLDER/setup-check-output.txt
beside the kit's report folder (for upload), and exits 1 when the run fails
the job.

usage: run_kit.py KIT_DIR FOLDER
"""
import subprocess
import sys
import zipfile
from pathlib import Path

from kit_verdict import verdict  # beside this script, which Python puts first on its path

MINUTES = 30  # the kit takes a few; a box nobody can read waits no longer


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__.rsplit('usage: ', 1)[1].strip())
    zips, folder = sorted(Path(sys.argv[1]).glob('*.zip')), Path(sys.argv[2])
    if len(zips) != 1:
        raise SystemExit(f'{sys.argv[1]} holds {len(zips)} zips, not one kit')
    kit_zip = zips[0]
    with zipfile.ZipFile(kit_zip) as z:
        z.extractall(folder)
    kits = [p for p in folder.iterdir() if (p / 'setup-check.exe').is_file()]
    if len(kits) != 1:
        raise SystemExit(f'{kit_zip} holds {len(kits)} folders with setup-check.exe, not one')
    try:
        proc = subprocess.run([str(kits[0] / 'setup-check.exe')], cwd=kits[0], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=MINUTES * 60)
        out, status = proc.stdout.decode('utf-8', 'replace'), proc.returncode
    except subprocess.TimeoutExpired as e:
        out, status = (e.output or b'').decode('utf-8', 'replace'), f'none: ended after {MINUTES} minutes'
    (folder / 'setup-check-output.txt').write_text(out, encoding='utf-8')
    print(out)
    print(f'setup-check exit status {status}')
    problems, accepted = verdict(out, status)
    for scenario, part, why in accepted:
        print(f'let through: {scenario} inconclusive: {part} (expected on a hosted runner: {why})')
    for problem in problems:
        print(f'::error::{problem}')
    print('the kit run passes' if not problems else f'the kit run fails the job: {len(problems)} reason(s) above')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
