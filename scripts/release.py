#!/usr/bin/env python3
"""Checks a vendor's distribution folder against the installer's own plan,
assembles it with the built Setup.exe, signs Setup.exe when a certificate is
given, and packs a reproducible zip with SHA256SUMS. Run by release.sh, which
builds Setup.exe and setup-plan first.

usage: release.py --setup-exe EXE --plan-tool SETUP_PLAN --version V
                  [--cert CERT.pem --key KEY.pem [--ca ROOT.pem] [--pass-file F] [--timestamp URL]]
                  SOURCE_DIR OUT_DIR
"""
import argparse
import hashlib
import json
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

LANGUAGES = {0: 'Czech', 1: 'English', 2: 'German', 3: 'Swedish', 4: 'Russian'}
SHELL_LINK_CLSID = bytes.fromhex('0114020000000000c000000000000046')
PROGRAMS = ('Orvo Tool.exe', 'Orvo Dustrel.exe')
PRODUCT = 'Orvo_Tool-Setup'


class ReleaseError(Exception):
    pass


def plan_sources(plan_tool):
    """Every distribution file the plan reads, in the plan's order, from the product's own tables."""
    plan = json.loads(subprocess.run([plan_tool], check=True, capture_output=True, text=True).stdout)
    names = [s['source'] for part in ('install', 'desktop') for s in plan[part] if s['source']]
    names += [p for p in plan['language_pdfs'].values() if p]
    return list(dict.fromkeys(names))


def folder_index(root):
    """Lower-cased relative Windows name -> the host paths that carry it."""
    index = {}
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files) + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
            path = Path(folder, name)
            index.setdefault(str(path.relative_to(root)).replace('/', '\\').lower(), []).append(path)
    return index


def is_pe(data):
    if len(data) < 64 or data[:2] != b'MZ':
        return False
    offset = struct.unpack_from('<I', data, 0x3C)[0]
    return offset + 24 <= len(data) and data[offset:offset + 4] == b'PE\0\0'


def is_shell_link(data):
    return len(data) >= 20 and struct.unpack_from('<I', data, 0)[0] == 0x4C and data[4:20] == SHELL_LINK_CLSID


def content_problem(name, data):
    """What is wrong with a present, non-empty file of the plan, or None."""
    lower = name.lower()
    if lower in (p.lower() for p in PROGRAMS) and not is_pe(data):
        return 'is not a Windows program (no MZ header with a PE signature)'
    if lower.endswith('.lnk') and not is_shell_link(data):
        return 'is not a shell link (no 0x4C header with the shell-link class id)'
    if lower.endswith('.pdf') and not data.startswith(b'%PDF-'):
        return 'is not a PDF (does not begin with %PDF-)'
    if lower == 'dlangv.dat':
        if len(data) != 4:
            return f'is {len(data)} bytes; a language file is exactly 4'
        code = struct.unpack('<i', data)[0]
        if code not in LANGUAGES:
            return f'holds language code {code}; only 0 to 4 show a completion text'
    return None


def check(source_dir, sources):
    """(files: name -> host path, errors, notes) of the folder against the plan."""
    index = folder_index(source_dir)
    files, errors = {}, []
    for name in sources:
        paths = index.pop(name.lower(), [])
        if not paths:
            errors.append(f'{name}: missing')
            continue
        if len(paths) > 1:
            errors.append(f'{name}: present {len(paths)} times, in names that differ only in case')
            continue
        path = paths[0]
        st = os.lstat(path)
        if not stat.S_ISREG(st.st_mode):
            errors.append(f'{name}: not a regular file')
        elif st.st_size == 0:
            errors.append(f'{name}: empty')
        elif problem := content_problem(name, path.read_bytes()):
            errors.append(f'{name}: {problem}')
        else:
            files[name] = path
    notes = []
    for name, paths in sorted(index.items()):
        shown = str(paths[0].relative_to(source_dir)).replace('/', '\\')
        if name == 'setup.exe':
            notes.append(f'{shown}: replaced by the built Setup.exe')
        else:
            notes.append(f'{shown}: not used by the installer, left out of the release')
    return files, errors, notes


def authenticode_sha256(data):
    """The PE image hash Authenticode signs: the file without its checksum,
    its certificate-table entry and the certificate table itself. An unsigned
    file is hashed as the signer pads it, to a multiple of 8 bytes."""
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    optional = pe + 24
    checksum = optional + 64
    security = optional + (96 if struct.unpack_from('<H', data, optional)[0] == 0x10B else 112) + 4 * 8
    table, size = struct.unpack_from('<II', data, security)
    body = data[security + 8:table] if size else data[security + 8:] + b'\0' * (-len(data) % 8)
    return hashlib.sha256(data[:checksum] + data[checksum + 4:security] + body).hexdigest()


def sign(exe, args, epoch, work):
    """Signs `exe` in place; returns the signer's subject."""
    signed = work / 'signed.exe'
    cmd = ['osslsigncode', 'sign', '-certs', args.cert, '-key', args.key, '-h', 'sha256', '-n', 'Setup',
           '-time', str(epoch), '-in', str(exe), '-out', str(signed)]
    if args.pass_file:
        cmd[2:2] = ['-readpass', args.pass_file]
    if args.timestamp:
        cmd[2:2] = ['-ts', args.timestamp]
    run_tool(cmd, 'signing failed')
    verify = ['osslsigncode', 'verify', '-in', str(signed)] + (['-CAfile', args.ca] if args.ca else [])
    out = run_tool(verify, 'the signature does not verify' + ('' if args.ca else ' against the system\'s roots'))
    subject = next((line.split(':', 1)[1].strip() for line in out.splitlines()
                    if line.strip().startswith('Subject:')), 'unknown')
    shutil.move(signed, exe)
    return subject


def run_tool(cmd, failure):
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if proc.returncode != 0:
        tail = '\n'.join((proc.stdout + proc.stderr).strip().splitlines()[-6:])
        raise ReleaseError(f'{failure}:\n{tail}')
    return proc.stdout + proc.stderr


def pack(stage, top, zip_path, epoch):
    """Entries sorted, times from SOURCE_DATE_EPOCH, fixed modes: the same
    inputs give the same bytes."""
    when = max(epoch, 315532800)  # a zip cannot date before 1980
    stamp = time.gmtime(when)[:6]
    entries = sorted(p for p in (stage / top).rglob('*'))
    with zipfile.ZipFile(zip_path, 'w') as z:
        for path in [stage / top] + entries:
            rel = str(path.relative_to(stage)) + ('/' if path.is_dir() else '')
            info = zipfile.ZipInfo(rel, stamp)
            info.create_system = 3
            if path.is_dir():
                info.external_attr = (0o40755 << 16) | 0x10
                z.writestr(info, b'')
            else:
                info.external_attr = 0o100644 << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, path.read_bytes(), compresslevel=9)


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def release(args):
    source_dir, out_dir = Path(args.source_dir).resolve(), Path(args.out_dir).resolve()
    if not source_dir.is_dir():
        raise ReleaseError(f'{source_dir}: not a folder')
    if out_dir.exists() and any(out_dir.iterdir()):
        raise ReleaseError(f'{out_dir}: not empty; give an empty or new folder')
    if out_dir == source_dir or source_dir in out_dir.parents:
        raise ReleaseError(f'{out_dir}: inside the distribution folder')
    files, errors, notes = check(source_dir, plan_sources(args.plan_tool))
    for note in notes:
        print(f'note: {note}')
    if errors:
        for error in errors:
            print(f'error: {error}', file=sys.stderr)
        raise ReleaseError(f'{len(errors)} problem(s) in {source_dir}; nothing was released')

    epoch = int(args.epoch)
    top = f'{PRODUCT}-{args.version}'
    with tempfile.TemporaryDirectory(prefix='release-') as tmp:
        work = Path(tmp)
        stage = work / 'stage'
        for name, path in files.items():
            target = stage / top / name.replace('\\', '/')
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(path, target)
        exe = stage / top / 'Setup.exe'
        shutil.copyfile(args.setup_exe, exe)
        unsigned_digest = authenticode_sha256(exe.read_bytes())
        signer = sign(exe, args, epoch, work) if args.cert else 'none (unsigned)'
        signed_digest = authenticode_sha256(exe.read_bytes())
        if signed_digest != unsigned_digest:
            raise ReleaseError(f'the signed Setup.exe holds other code: Authenticode digest {signed_digest}, '
                               f'reproducible build {unsigned_digest}')
        zip_name = f'{top}.zip'
        pack(stage, top, work / zip_name, epoch)
        sums = f'{sha256(work / zip_name)}  {zip_name}\n{sha256(exe)}  {top}/Setup.exe\n'
        (work / 'SHA256SUMS').write_text(sums)
        out_dir.mkdir(parents=True, exist_ok=True)
        shutil.move(work / zip_name, out_dir / zip_name)
        shutil.move(work / 'SHA256SUMS', out_dir / 'SHA256SUMS')
        report(stage / top, files, signer, unsigned_digest, signed_digest, out_dir / zip_name, exe, epoch)


def report(folder, files, signer, unsigned_digest, signed_digest, zip_path, exe, epoch):
    language = struct.unpack('<i', files['dLangv.dat'].read_bytes())[0]
    print(f'files ({len(files) + 1}):')
    for path in sorted(p for p in folder.rglob('*') if p.is_file()):
        print(f'  {path.stat().st_size:>10,}  {str(path.relative_to(folder)).replace("/", chr(92))}')
    print(f'language code: {language} ({LANGUAGES[language]})')
    print(f'signer: {signer}')
    print(f'signing and zip time (SOURCE_DATE_EPOCH): {epoch}')
    print(f'Authenticode digest, reproducible build: {unsigned_digest}')
    print(f'Authenticode digest, released Setup.exe: {signed_digest}')
    print(f'sha256 Setup.exe: {sha256(exe)}')
    print(f'sha256 {zip_path.name}: {sha256(zip_path)}')
    print(f'released: {zip_path} and {zip_path.parent / "SHA256SUMS"}')


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--setup-exe', required=True)
    ap.add_argument('--plan-tool', required=True)
    ap.add_argument('--version', required=True)
    ap.add_argument('--epoch', default=os.environ.get('SOURCE_DATE_EPOCH'))
    ap.add_argument('--cert')
    ap.add_argument('--key')
    ap.add_argument('--ca')
    ap.add_argument('--pass-file')
    ap.add_argument('--timestamp')
    ap.add_argument('source_dir')
    ap.add_argument('out_dir')
    args = ap.parse_args(argv[1:])
    try:
        if bool(args.cert) != bool(args.key):
            raise ReleaseError('--cert and --key go together')
        if (args.ca or args.pass_file or args.timestamp) and not args.cert:
            raise ReleaseError('--ca, --pass-file and --timestamp need --cert and --key')
        if args.epoch is None or not str(args.epoch).isdigit():
            raise ReleaseError('SOURCE_DATE_EPOCH must be set to a time in seconds')
        release(args)
    except (ReleaseError, subprocess.CalledProcessError) as e:
        print(f'release failed: {e}', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
