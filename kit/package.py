#!/usr/bin/env python3
"""Assembles the check kit: setup-check.exe, the file-operation contract suite
built for Windows, a distribution to check and README.txt, in one folder, and
packs it as a reproducible zip. Run by check-kit.sh, which builds the programs
first; the Wine test assembles the same folder from the build its Wine runs.

usage: python3 -m kit.package --build DIR --epoch N [--version V] [--release RELEASE.zip] [--plan-tool SETUP_PLAN]
                    [--cert CERT.pem --key KEY [the release's other signing options]] OUT_DIR

With --cert and --key the kit's programs are signed as the release signs
Setup.exe. Only the vendor's own public code-signing certificate makes
SmartScreen and Smart App Control treat them as the vendor's; a throwaway
certificate signs them but earns no such trust.
"""
import argparse
import shutil
import sys
import tempfile
import zipfile
from pathlib import Path

from lab import plan
from release.common import SIGNING_OPTIONS as SIGNING
from release.reproducible_zip import pack
from sample import distribution as sample

PROGRAMS = ('setup-check.exe', 'fileops_contract.exe')

README = """\
Setup check kit {version}

Checks that this Setup.exe and the distribution in the folder "dist" work on
this Windows machine. Use a test machine: the kit refuses to start where
C:\\Orvo_Tool, C:\\Orvo_Tool Data or any of the installer's desktop items exist.

Open a terminal in this folder as an ordinary user (no administrator rights
needed; not "Run as administrator"): type cmd in Explorer's address bar here
for Command Prompt, or right-click the folder and choose "Open in Terminal".
In Command Prompt run:

    setup-check                 (checks the distribution in "dist")
    setup-check DIST_FOLDER     (checks another distribution folder)
    setup-check --only NAME     (one scenario; NAME as its line begins)

In PowerShell put .\\ before it: .\\setup-check, .\\setup-check --only NAME.
If Windows says "Windows protected your PC" and you trust the sender of this
kit, click "More info", then "Run anyway".

Run one kit at a time; a second one refuses to start. Do not use the machine
while it runs (a few minutes). The kit first reads a task dialog and a
message box of its own (the "self-test" line). It prints one line per
scenario (ok, FAIL: why, skipped: why, or inconclusive: what it could not
check) and ends with "N passed, N failed, N skipped, N inconclusive".
Exit status: 0 nothing failed or was inconclusive, 1 something failed or the
kit stopped early, 2 it did not start, 3 an error of the kit's own, 4 nothing
failed but something was inconclusive.
After each first installation it asks the shell where the desktop shortcuts
lead: each must open its own installed target, which must be there.
Each run makes a folder of its own, setup-check-reports\\YYYY-MM-DD HH.MM.SSZ
beside setup-check.exe (the start in UTC): a picture of every box goes into
its pictures folder as the run goes, and report.txt (this system's facts, the
text of every box, what the shell read of each shortcut) is written when the
run ends, also after Ctrl+C. Earlier runs' folders are kept.

What to send back, to the vendor who sent you this kit:
  - the whole output: copy the terminal's text, or in Command Prompt run
    setup-check > output.txt 2>&1 (in PowerShell:
    cmd /c "setup-check > output.txt 2>&1") and send output.txt;
  - the exit status: echo %ERRORLEVEL% in Command Prompt, $LASTEXITCODE in
    PowerShell, right after the run;
  - the run's dated folder, the newest under setup-check-reports (the last
    lines of the output name it), zipped as it is, report.txt and pictures
    together. After an interrupted run, the earlier run's folder too.

While a scenario runs it installs into C:\\Orvo_Tool and C:\\Orvo_Tool Data,
places the installer's items on the desktop, and in one scenario points the
"Desktop" value of HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\
Shell Folders at a folder of its own. After every scenario it removes both
folders and those desktop items and restores the value, also after Ctrl+C.
While the value is replaced, the kit keeps the original in
HKCU\\Software\\setup-check and a RunOnce entry: after a crash, a logoff or a
power cut, the next logon restores it (keep this folder until then), and so
does the kit's next start. It works in setup-check-work beside itself,
removed at the end. Nothing else is left but the reports and their pictures.
"""


def assemble(build, folder, release_zip=None, version='', language=1, plan_tool=None):
    """The kit's folder: the programs from `build`, the distribution (the
    release's own, else the sample with the build's Setup.exe), README.txt."""
    folder = Path(folder)
    folder.mkdir(parents=True)
    for name in PROGRAMS:
        shutil.copy2(Path(build) / name, folder / name)
    dist = folder / 'dist'
    if release_zip:
        with tempfile.TemporaryDirectory() as tmp, zipfile.ZipFile(release_zip) as z:
            z.extractall(tmp)
            tops = [p for p in Path(tmp).iterdir() if p.is_dir()]
            if len(tops) != 1 or not (tops[0] / 'Setup.exe').is_file():
                raise SystemExit(f'check-kit: {release_zip} holds no release folder with Setup.exe')
            shutil.copytree(tops[0], dist)
    else:
        sample.write(dist, language, plan_tool=plan_tool)
        shutil.copy2(Path(build) / 'Setup.exe', dist / 'Setup.exe')
    (folder / 'README.txt').write_bytes(README.format(version=version).replace('\n', '\r\n').encode())
    return folder


def release_version(release_zip, name):
    """The version in a release zip's name (NAME-VERSION.zip), or None."""
    stem = Path(release_zip).name.removesuffix('.zip') if release_zip else ''
    return stem[len(name) + 1:] if stem.startswith(name + '-') and len(stem) > len(name) + 1 else None


def sign(signer, folder, epoch, work):
    """Signs each of the kit's programs in place, each verified before it is kept."""
    for name in PROGRAMS:
        signed = Path(work) / 'signed.exe'
        signer.sign(folder / name, name[:-len('.exe')], epoch, signed)
        print(f'{name}: signed for {signer.verify(signed, name)}')
        shutil.move(signed, folder / name)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--build', required=True)
    ap.add_argument('--version', help="the kit's version (default: the release's, else Setup's own)")
    ap.add_argument('--epoch', type=int, required=True)
    ap.add_argument('--release')
    ap.add_argument('--plan-tool', help='the plan printer the sample is written from')
    for option in SIGNING:
        ap.add_argument(option)
    ap.add_argument('out_dir')
    args = ap.parse_args()
    if bool(args.cert) != bool(args.key):
        raise SystemExit('check-kit: --cert and --key go together')
    if any(getattr(args, o[2:].replace('-', '_')) for o in SIGNING[2:]) and not args.cert:
        raise SystemExit('check-kit: the other signing options need --cert and --key')
    printed = plan.load(args.plan_tool)
    version = args.version or release_version(args.release, printed['release']) or printed['setup_version']
    top = f"{printed['release']}-check-{version}"
    out = Path(args.out_dir)
    out.mkdir(parents=True, exist_ok=True)
    zip_path = out / f'{top}.zip'
    with tempfile.TemporaryDirectory() as stage, tempfile.TemporaryDirectory() as work:
        folder = assemble(args.build, Path(stage) / top, args.release, version, plan_tool=args.plan_tool)
        if args.cert:  # only signing needs the release's modules (pefile, openssl)
            from release.common import ReleaseError
            from release.signing import Signer
            try:
                sign(Signer(args, work), folder, args.epoch, work)
            except ReleaseError as e:
                raise SystemExit(f'check-kit: {e}; no kit was made')
        pack(Path(stage), top, zip_path, args.epoch)
    print(f'{zip_path} ({zip_path.stat().st_size:,} bytes)')


if __name__ == '__main__':
    main()
