#!/usr/bin/env python3
"""Checks a vendor's distribution folder against the installer's own plan,
assembles it with the built Setup.exe, signs the programs when a certificate
is given, and writes a reproducible zip, SHA256SUMS and its signature. Run by
release.sh, which builds Setup.exe and setup-plan from the commit first.

usage: release.py (--preflight | [--checked] --setup-exe EXE --plan-tool SETUP_PLAN) [--version V]
                  [--cert CERT.pem --key KEY.pem|pkcs11:URI [--pkcs11-module SO] [--ca ROOT.pem]
                   [--crl CRL.pem] [--pass-file F] [--timestamp URL]]
                  SOURCE_DIR OUT_DIR
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

import pefile

from release_signing import ReleaseError, Signer, shown
from reproducible_zip import pack

LANGUAGES = {0: 'Czech', 1: 'English', 2: 'German', 3: 'Swedish', 4: 'Russian'}
SHELL_LINK_CLSID = bytes.fromhex('0114020000000000c000000000000046')
PROGRAMS = ('Orvo Tool.exe', 'Orvo Dustrel.exe')
PRODUCT = 'Orvo_Tool-Setup'
VERSION = re.compile(r'[0-9A-Za-z][0-9A-Za-z.+_-]*')
SECURITY = pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_SECURITY']
RESOURCE = pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']


def plan_sources(plan_tool):
    """Every distribution file the plan reads, in the plan's order, from the product's own tables."""
    plan = json.loads(subprocess.run([plan_tool], check=True, capture_output=True, text=True).stdout)
    names = [s['source'] for part in ('install', 'desktop') for s in plan[part] if s['source']]
    names += [p for p in plan['language_pdfs'].values() if p]
    return list(dict.fromkeys(names))


def windows_name(path, root):
    return str(path.relative_to(root)).replace('/', '\\')


def folder_index(root):
    """Lower-cased relative Windows name -> the host paths that carry it.
    Links to folders are entries, never walked."""
    index = {}
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files) + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
            path = Path(folder, name)
            index.setdefault(windows_name(path, root).lower(), []).append(path)
    return index


def pe_image(data):
    try:
        return pefile.PE(data=data, fast_load=True)
    except pefile.PEFormatError:
        return None


def is_shell_link(data):
    return len(data) >= 20 and struct.unpack_from('<I', data, 0)[0] == 0x4C and data[4:20] == SHELL_LINK_CLSID


def language_problem(data):
    if data.strip(b'0123456789\r\n \t-') == b'' and any(c in data for c in b'0123456789\r\n'):
        return f'holds the text {data[:16]!r} where a 4-byte number belongs (write the code as binary)'
    if len(data) != 4:
        return f'is {len(data)} bytes; a language file is exactly 4'
    code = struct.unpack('<i', data)[0]
    if code not in LANGUAGES:
        return f'holds language code {code}; only 0 to 4 show a completion text'
    return None


def content_problem(name, data):
    """What is wrong with a present, non-empty file of the plan, or None."""
    lower = name.lower()
    if lower in (p.lower() for p in PROGRAMS) and not pe_image(data):
        return 'is not a Windows program (no valid PE headers)'
    if lower.endswith('.lnk') and not is_shell_link(data):
        return 'is not a shell link (no 0x4C header with the shell-link class id)'
    if lower.endswith('.pdf') and not data.startswith(b'%PDF-'):
        return 'is not a PDF (does not begin with %PDF-)'
    if lower == 'dlangv.dat':
        return language_problem(data)
    return None


def link_problem(path):
    kind = 'folder' if path.is_dir() else 'file'
    return f'is a symbolic link to {shown(os.readlink(path))}; give the {kind} itself'


def file_problem(name, path):
    st = os.lstat(path)
    if stat.S_ISLNK(st.st_mode):
        return link_problem(path)
    if not stat.S_ISREG(st.st_mode):
        return 'not a regular file'
    if st.st_size == 0:
        return 'empty'
    return content_problem(name, path.read_bytes())


def check(source_dir, sources):
    """(files: name -> host path, errors, notes) of the folder against the plan."""
    index = folder_index(source_dir)
    errors, files, linked = [], {}, set()
    for key, paths in list(index.items()):
        if any(p.is_symlink() and p.is_dir() for p in paths):
            linked.add(key)
            errors.append(f'{windows_name(paths[0], source_dir)}: {link_problem(paths[0])}')
            del index[key]
    for name in sources:
        if name.lower().rsplit('\\', 1)[0] in linked:
            continue
        paths = index.pop(name.lower(), [])
        if not paths:
            errors.append(f'{name}: missing')
        elif len(paths) > 1:
            errors.append(f'{name}: present {len(paths)} times, in names that differ only in case')
        elif problem := file_problem(name, paths[0]):
            errors.append(f'{name}: {problem}')
        else:
            files[name] = paths[0]
    notes = []
    for key, paths in sorted(index.items()):
        name = shown(windows_name(paths[0], source_dir))
        if name != windows_name(paths[0], source_dir):
            errors.append(f'{name}: the name is not UTF-8, so Windows would show other letters; rename it')
        elif key == 'setup.exe':
            notes.append(f'{name}: replaced by the built Setup.exe')
        else:
            notes.append(f'{name}: not used by the installer, left out of the release')
    return files, errors, notes


def version_strings(data):
    """The version resource's strings of a PE image, {key: value}."""
    pe = pe_image(data)
    pe.parse_data_directories(directories=[RESOURCE])
    strings = {}
    for info in getattr(pe, 'FileInfo', []):
        for entry in info:
            for table in getattr(entry, 'StringTable', []):
                strings.update({k.decode('utf-8', 'replace'): v.decode('utf-8', 'replace').strip('\0 ')
                                for k, v in table.entries.items()})
    return strings


def release_version(override, program):
    """--version, else the ProductVersion of Orvo Tool.exe, else its FileVersion."""
    if override is not None:
        version, origin = override, '--version'
    else:
        strings = version_strings(program.read_bytes())
        key = next((k for k in ('ProductVersion', 'FileVersion') if strings.get(k)), None)
        if key is None:
            raise ReleaseError('Orvo Tool.exe has no version resource; give the version with --version V')
        version, origin = strings[key], f'{key} of Orvo Tool.exe'
    if not VERSION.fullmatch(version):
        raise ReleaseError(f'{origin} {version!r} cannot name a file: use letters, digits and . + _ -, '
                           'beginning with a letter or digit' + ('' if override is not None else '; give --version V'))
    return version, origin


def authenticode_sha256(data):
    """The PE image hash Authenticode signs: the file without its checksum,
    its certificate-table entry and the certificate table itself. An unsigned
    file is hashed as the signer pads it, to a multiple of 8 bytes."""
    pe = pe_image(data)
    if pe is None:
        raise ReleaseError('not a PE image')
    checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset('CheckSum')
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
    security = entry.get_file_offset()
    table, size = entry.VirtualAddress, entry.Size
    body = data[security + 8:table] if size else data[security + 8:] + b'\0' * (-len(data) % 8)
    return hashlib.sha256(data[:checksum] + data[checksum + 4:security] + body).hexdigest()


def is_signed(data):
    return pe_image(data).OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY].Size != 0


def sign_programs(signer, folder, epoch, work):
    """Signs each unsigned program as Setup.exe is signed; keeps a signed one
    byte for byte once it verifies. Returns {name: (how, subject, digest)}."""
    done = {}
    for name in PROGRAMS + ('Setup.exe',):
        exe = folder / name
        data = exe.read_bytes()
        if is_signed(data):
            subject = signer.verify(exe, name)
            done[name] = ('kept, signed at input', subject, authenticode_sha256(data))
            continue
        signed = work / 'signed.exe'
        signer.sign(exe, name[:-len('.exe')], epoch, signed)
        subject = signer.verify(signed, name)
        before, after = authenticode_sha256(data), authenticode_sha256(signed.read_bytes())
        if before != after:
            raise ReleaseError(f'the signed {name} holds other code: Authenticode digest {after}, '
                               f'before signing {before}')
        shutil.move(signed, exe)
        done[name] = ('signed here', subject, after)
    return done


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


class Output:
    """OUT_DIR written under temporary names and renamed into place only when
    every file is complete; on any failure it is left as it was found."""

    def __init__(self, folder):
        self.folder, self.pending, self.placed = folder, [], []
        self.created = []

    def __enter__(self):
        missing = [p for p in [self.folder, *self.folder.parents] if not p.exists()]
        for folder in reversed(missing):
            folder.mkdir()
            self.created.append(folder)
        return self

    def partial(self, name):
        path = self.folder / f'.{name}.partial'
        self.pending.append((path, self.folder / name))
        return path

    def commit(self):
        for partial, final in self.pending:
            os.replace(partial, final)
            self.placed.append(final)

    def __exit__(self, kind, value, trace):
        if kind is None:
            return
        for path in [p for p, _ in self.pending] + self.placed:
            path.unlink(missing_ok=True)
        for folder in reversed(self.created):
            folder.rmdir()
        if issubclass(kind, OSError):
            raise ReleaseError(f'writing {shown(self.folder)} failed ({value.strerror or value}); '
                               'it is left as it was found') from None


def check_out_dir(out_dir, source_dir):
    if out_dir.is_symlink() or (out_dir.exists() and not out_dir.is_dir()):
        raise ReleaseError(f'{shown(out_dir)}: not a folder; give an empty or new folder')
    if out_dir.exists() and any(out_dir.iterdir()):
        raise ReleaseError(f'{shown(out_dir)}: not empty; give an empty or new folder')
    if out_dir == source_dir or source_dir in out_dir.parents:
        raise ReleaseError(f'{shown(out_dir)}: inside the distribution folder')


def preflight(args, work):
    """What can fail before anything is built: the folders, the version
    given, the key and its pass file. The signer, when signing."""
    source_dir, out_dir = Path(args.source_dir).resolve(), Path(args.out_dir).absolute()
    if not source_dir.is_dir():
        raise ReleaseError(f'{shown(args.source_dir)}: not a folder')
    check_out_dir(out_dir, source_dir)
    if args.version is not None:
        release_version(args.version, None)
    return source_dir, out_dir, Signer(args, work, warn=not args.checked) if args.cert else None


def release(args):
    with tempfile.TemporaryDirectory(prefix='release-') as tmp:
        work = Path(tmp)
        source_dir, out_dir, signer = preflight(args, work)
        if args.preflight:
            return
        files, errors, notes = check(source_dir, plan_sources(args.plan_tool))
        for note in notes:
            print(f'note: {note}')
        if errors:
            print(f'nothing was released: {len(errors)} problem(s) in {shown(source_dir)}')
            raise ReleaseError('\nerror: '.join(errors))
        version, origin = release_version(args.version, files['Orvo Tool.exe'])
        top = f'{PRODUCT}-{version}'
        stage = work / 'stage'
        for name, path in files.items():
            target = stage / top / name.replace('\\', '/')
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(path, target)
        shutil.copyfile(args.setup_exe, stage / top / 'Setup.exe')
        build_digest = authenticode_sha256((stage / top / 'Setup.exe').read_bytes())
        signed = sign_programs(signer, stage / top, args.epoch, work) if signer else {}
        with Output(out_dir) as out:
            zip_path, sums_path = out.partial(f'{top}.zip'), out.partial('SHA256SUMS')
            pack(stage, top, zip_path, args.epoch)
            listed = [(sha256(zip_path), f'{top}.zip')]
            listed += [(sha256(p), str(p.relative_to(stage))) for p in sorted((stage / top).rglob('*')) if p.is_file()]
            sums_path.write_text(''.join(f'{digest}  {name}\n' for digest, name in listed))
            if signer:
                signer.sign_sums(sums_path, out.partial('SHA256SUMS.p7s'))
            out.commit()
        report(stage / top, files, version, origin, signer, signed, sha256(args.setup_exe), build_digest, out)


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


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--preflight', action='store_true', help='only check what can fail before the build')
    ap.add_argument('--checked', action='store_true', help='the preflight ran: do not warn twice')
    ap.add_argument('--setup-exe')
    ap.add_argument('--plan-tool')
    ap.add_argument('--version')
    ap.add_argument('--epoch', default=os.environ.get('SOURCE_DATE_EPOCH'))
    for option in ('--cert', '--key', '--ca', '--crl', '--pass-file', '--pkcs11-module', '--timestamp'):
        ap.add_argument(option)
    ap.add_argument('source_dir')
    ap.add_argument('out_dir')
    args = ap.parse_args(argv[1:])
    try:
        if bool(args.cert) != bool(args.key):
            raise ReleaseError('--cert and --key go together')
        if (args.ca or args.crl or args.pass_file or args.pkcs11_module or args.timestamp) and not args.cert:
            raise ReleaseError('--ca, --crl, --pass-file, --pkcs11-module and --timestamp need --cert and --key')
        if args.epoch is None or not str(args.epoch).isdigit():
            raise ReleaseError('SOURCE_DATE_EPOCH must be set to a time in seconds')
        args.epoch = int(args.epoch)
        if not args.preflight and not (args.setup_exe and args.plan_tool):
            raise ReleaseError('--setup-exe and --plan-tool are needed, or --preflight')
        release(args)
    except ReleaseError as e:
        print(f'error: {e}', file=sys.stderr)
        return 1
    except OSError as e:
        print(f'error: {shown(e.filename) + ": " if e.filename else ""}{e.strerror or e}',
              file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
