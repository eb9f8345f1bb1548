"""What the release command prints once OUT_DIR is complete."""
import struct
from pathlib import Path

from . import shortcuts
from .common import ReleaseError, sha256, shown
from .distribution import LANGUAGES, PROGRAMS, windows_name
from .pe import authenticode_sha256

BUILT_BY = ('commit', 'compiler', 'binutils', 'cmake')


def build_info(args, files, folder, version, signer, build_sha256):
    """BUILDINFO's (key, value) lines: what a customer needs to rebuild the
    release and compare. The commit and toolchain come from release.sh."""
    given = {}
    if args.build_info:
        for line in Path(args.build_info).read_text().splitlines():
            key, _, value = line.partition(': ')
            given[key] = value
    missing = [k for k in BUILT_BY if not given.get(k)] if args.build_info else []
    if missing:
        raise ReleaseError(f'{shown(args.build_info)}: no {", ".join(missing)} line')
    info = [(k, given.get(k, 'unknown (Setup.exe given with --setup-exe, not built by release.sh)'))
            for k in BUILT_BY]
    info += [('source-date-epoch', str(args.epoch)), ('version', version), ('setup-exe-unsigned-sha256', build_sha256)]
    info += [('authenticode-sha256', f'{authenticode_sha256((folder / n).read_bytes())}  {n}')
             for n in ('Setup.exe',) + PROGRAMS]
    info += [('input-sha256', f'{sha256(path)}  {name}') for name, path in sorted(files.items())]
    if signer:
        info += [('signer', signer.cert.subject), ('signer-sha256-fingerprint', signer.cert.fingerprint)]
    else:
        info += [('signer', 'none (unsigned release)')]
    return info


def report(folder, files, version, origin, signer, signed, build_sha256, build_digest, out, sums_stamp=None):
    language = struct.unpack('<i', files['dLangv.dat'].read_bytes())[0]
    print(f'version: {version} ({origin})')
    print(f'files ({sum(1 for p in folder.rglob("*") if p.is_file())}):')
    for path in sorted(p for p in folder.rglob('*') if p.is_file()):
        how = f'  [{signed[path.name][0]}]' if path.name in signed else ''
        print(f'  {path.stat().st_size:>10,}  {windows_name(path, folder)}{how}')
    print(f'language code: {language} ({LANGUAGES[language]})')
    for name in sorted(n for n in files if n.lower().endswith('.lnk')):
        print(f'shortcut: {shortcuts.describe(name, folder / name)}')
    if signer:
        for subject in sorted({s for _, s, _, _ in signed.values()}):
            print(f'signer: {subject}')
        print(f'signer\'s SHA-256 fingerprint (--cert): {signer.cert.fingerprint}')
        print(f'revocation: {signer.revocation()}')
        for name, (_, _, _, stamp) in signed.items():
            print(f'timestamp, {name}: ' + (f'{stamp[0]} by {stamp[1]}' if stamp else 'none'))
        if sums_stamp:
            print(f'timestamp, SHA256SUMS (SHA256SUMS.tsr): {sums_stamp[0]} by {sums_stamp[1]} ({signer.timestamp})')
    else:
        print('signed: nothing (no --cert): the programs, Setup.exe and SHA256SUMS carry no signature')
    print(f'sha256 of the unsigned build of Setup.exe: {build_sha256}')
    print(f'Authenticode digest, reproducible build of Setup.exe: {build_digest}')
    for name, (_, _, digest, _) in signed.items():
        print(f'Authenticode digest, released {name}: {digest}')
    for path in out.placed:
        print(f'released: {path} ({path.stat().st_size:,} bytes, sha256 {sha256(path)})')
