#!/usr/bin/env python3
"""Checks a vendor's distribution folder against the installer's own plan,
assembles it with the built Setup.exe, signs the programs when a certificate
is given, and writes a reproducible zip, SHA256SUMS and its signature. Run by
release.sh, which builds Setup.exe and setup-plan from the commit first."""
import argparse
import os
import re
import shutil
import signal
import sys
import tempfile
from pathlib import Path

from lab import plan as printed
from .common import SIGNING_OPTIONS, ReleaseError, Stopped, sha256, shown, stop_on_signals
from .distribution import check
from .output import Output, check_out_dir
from .pe import authenticode_sha256, release_version
from .report import build_info, report
from .signing import Signer, sign_programs
from .reproducible_zip import pack

# The one usage text: release.sh prints it too.
USAGE = """bash scripts/release.sh [--version V]
           [--cert CERT.pem --key pkcs11:token=...;object=... --pkcs11-module MODULE.so --pass-file PIN_FILE]
           [--cert CERT.pem --key KEY.pem --pass-file FILE]
           [--chain INTERMEDIATES.pem] [--ca ROOT.pem] [--crl CRL.pem] [--timestamp URL [--tsa-ca TSA-ROOT.pem]]
           [--allow-signer SHA256-FINGERPRINT] [--version-mismatch-ok]  SOURCE_DIR OUT_DIR"""
SIGNING_ONLY = ('chain', 'ca', 'crl', 'pass_file', 'pkcs11_module', 'timestamp', 'tsa_ca', 'allow_signer')
FINGERPRINT = re.compile(r'[0-9A-Fa-f]{2}(:?[0-9A-Fa-f]{2}){31}')


def preflight(args, work):
    """What can fail before anything is built: the folders, the version
    given, the key and its pass file. The signer, when signing."""
    source_dir, out_dir = Path(args.source_dir).resolve(), Path(args.out_dir).absolute()
    if not source_dir.is_dir():
        raise ReleaseError(f'{shown(args.source_dir)}: not a folder')
    check_out_dir(out_dir, source_dir)
    if args.version is not None:
        release_version(args.version, None)
    signer = Signer(args, work, warn=not args.checked, key_checked=args.checked) if args.cert else None
    return source_dir, out_dir, signer


def check_options(args):
    if bool(args.cert) != bool(args.key):
        raise ReleaseError('--cert and --key go together')
    given = [f"--{name.replace('_', '-')}" for name in SIGNING_ONLY if getattr(args, name)]
    if given and not args.cert:
        raise ReleaseError(f'{", ".join(given)}: only with --cert and --key')
    if args.timestamp and not re.match(r'https?://', args.timestamp):
        raise ReleaseError(f'--timestamp {args.timestamp}: give the authority\'s http:// or https:// address')
    if args.allow_signer:
        if not FINGERPRINT.fullmatch(args.allow_signer):
            raise ReleaseError(f'--allow-signer {args.allow_signer}: give a SHA-256 fingerprint, 64 hex digits '
                               '(colons allowed), as openssl x509 -noout -fingerprint -sha256 prints it')
        digits = args.allow_signer.replace(':', '').upper()
        args.allow_signer = ':'.join(digits[i:i + 2] for i in range(0, 64, 2))


def release(args):
    with tempfile.TemporaryDirectory(prefix='release-') as tmp:
        work = Path(tmp)
        source_dir, out_dir, signer = preflight(args, work)
        if args.preflight:
            return
        plan = printed.load(args.plan_tool)
        files, errors, notes = check(source_dir, plan)
        for note in notes:
            print(f'note: {note}')
        if errors:
            print(f'nothing was released: {len(errors)} problem(s) in {shown(source_dir)}')
            raise ReleaseError('\nerror: '.join(errors))
        version, origin = release_version(args.version, files['Orvo Tool.exe'], args.version_mismatch_ok)
        top = f"{plan['release']}-{version}"
        stage = work / 'stage'
        for name, path in files.items():
            target = stage / top / name.replace('\\', '/')
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(path, target)
        shutil.copyfile(args.setup_exe, stage / top / 'Setup.exe')
        build_digest = authenticode_sha256((stage / top / 'Setup.exe').read_bytes())
        signed = sign_programs(signer, stage / top, args.epoch, work) if signer else {}
        info = build_info(args, files, stage / top, version, signer, sha256(args.setup_exe))
        with Output(out_dir) as out:
            zip_path, sums_path = out.partial(f'{top}.zip'), out.partial('SHA256SUMS')
            pack(stage, top, zip_path, args.epoch)
            info_path = out.partial('BUILDINFO')
            info_path.write_text(''.join(f'{key}: {value}\n' for key, value in info))
            listed = [(sha256(zip_path), f'{top}.zip'), (sha256(info_path), 'BUILDINFO')]
            listed += [(sha256(p), str(p.relative_to(stage))) for p in sorted((stage / top).rglob('*')) if p.is_file()]
            sums_path.write_text(''.join(f'{digest}  {name}\n' for digest, name in listed))
            if signer:
                signer.sign_sums(sums_path, out.partial('SHA256SUMS.p7s'))
            sums_stamp = signer.timestamp_sums(sums_path, out.partial('SHA256SUMS.tsr')) if args.timestamp else None
            out.commit()
        report(stage / top, files, version, origin, signer, signed, sha256(args.setup_exe), build_digest, out,
               sums_stamp)


def main(argv):
    ap = argparse.ArgumentParser(usage=USAGE, description=__doc__.splitlines()[0])
    internal = ap.add_argument_group('given by release.sh')
    internal.add_argument('--preflight', action='store_true', help='only check what can fail before the build')
    internal.add_argument('--checked', action='store_true', help='the preflight ran: do not warn twice')
    internal.add_argument('--setup-exe')
    internal.add_argument('--plan-tool')
    internal.add_argument('--epoch', default=os.environ.get('SOURCE_DATE_EPOCH'))
    internal.add_argument('--build-info', help='the commit and toolchain lines release.sh found')
    ap.add_argument('--version')
    ap.add_argument('--version-mismatch-ok', action='store_true')
    for option in SIGNING_OPTIONS:
        ap.add_argument(option)
    ap.add_argument('source_dir')
    ap.add_argument('out_dir')
    args = ap.parse_args(argv[1:])
    try:
        check_options(args)
        if args.epoch is None or not str(args.epoch).isdigit():
            raise ReleaseError('SOURCE_DATE_EPOCH must be set to a time in seconds')
        args.epoch = int(args.epoch)
        if not args.preflight and not (args.setup_exe and args.plan_tool):
            raise ReleaseError('--setup-exe and --plan-tool are needed, or --preflight')
        release(args)
    except ReleaseError as e:
        print(f'error: {e}', file=sys.stderr)
        return 1
    except (KeyboardInterrupt, Stopped) as e:
        signum = getattr(e, 'signum', signal.SIGINT)
        print(f'error: stopped by {signal.Signals(signum).name}; nothing was released, OUT_DIR is as it was found',
              file=sys.stderr)
        return 128 + signum
    except OSError as e:
        print(f'error: {shown(e.filename) + ": " if e.filename else ""}{e.strerror or e}',
              file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    stop_on_signals()
    sys.exit(main(sys.argv))
