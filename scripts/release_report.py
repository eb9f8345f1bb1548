"""What the release command prints once OUT_DIR is complete."""
import struct

from release_common import sha256
from release_distribution import LANGUAGES, windows_name


def report(folder, files, version, origin, signer, signed, build_sha256, build_digest, out):
    language = struct.unpack('<i', files['dLangv.dat'].read_bytes())[0]
    print(f'version: {version} ({origin})')
    print(f'files ({sum(1 for p in folder.rglob("*") if p.is_file())}):')
    for path in sorted(p for p in folder.rglob('*') if p.is_file()):
        how = f'  [{signed[path.name][0]}]' if path.name in signed else ''
        print(f'  {path.stat().st_size:>10,}  {windows_name(path, folder)}{how}')
    print(f'language code: {language} ({LANGUAGES[language]})')
    if signer:
        for subject in sorted({s for _, s, _ in signed.values()}):
            print(f'signer: {subject}')
        print(f'revocation: {signer.revocation()}')
    else:
        print('signed: nothing (no --cert): the programs, Setup.exe and SHA256SUMS carry no signature')
    print(f'sha256 of the unsigned build of Setup.exe: {build_sha256}')
    print(f'Authenticode digest, reproducible build of Setup.exe: {build_digest}')
    for name, (_, _, digest) in signed.items():
        print(f'Authenticode digest, released {name}: {digest}')
    for path in out.placed:
        print(f'released: {path} ({path.stat().st_size:,} bytes, sha256 {sha256(path)})')
