#!/usr/bin/env python3
"""The release signed offline with a three-level chain, checked as a customer
checks it, and the signing faults that release nothing."""
import functools
import http.server
import os
import shlex
import shutil
import subprocess
import sys
import threading
import time
import zipfile

import named
import support
from release.common import sha256
from release.pe import authenticode_sha256
from sample import distribution as sample
from support import (BUILD, CODE_SIGNING, TOP, WORK, crl, customer_checks, expect, fresh, issue, openssl_fingerprint,
                     osslsigncode_verify, release_cmd, released, run_release, signing_args, sums_of, throwaway_ca)

test = named.Tests()


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def crl_server(folder):
    """A local HTTP server for the CRL address a certificate names, serving
    `folder`: empty (404) until a test puts the CRL there."""
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0),
                                             functools.partial(QuietHandler, directory=str(folder)))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f'http://127.0.0.1:{server.server_address[1]}/signer.crl'


def forge_sums(folder, ca):
    """SHA256SUMS.p7s redone with a TLS server certificate the same root
    vouches for, over the attacker's SHA256SUMS."""
    keys = ca['root'].parent
    issue(keys, 'tls', 'intermediate', '/CN=www.test.invalid',
          'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n')
    subprocess.run(['openssl', 'cms', '-sign', '-binary', '-noattr', '-md', 'sha256', '-in', 'SHA256SUMS',
                    '-signer', str(keys / 'tls.pem'), '-inkey', str(keys / 'tls.key'),
                    '-certfile', str(ca['intermediate']),
                    '-outform', 'DER', '-out', 'SHA256SUMS.p7s'], cwd=folder, check=True, capture_output=True)


def tamper(folder, member, data):
    """An attacker's copy: one file of the zip swapped, SHA256SUMS redone."""
    zip_path = next(folder.glob('*.zip'))
    with zipfile.ZipFile(zip_path) as z:
        entries = [(i, z.read(i)) for i in z.infolist()]
    with zipfile.ZipFile(zip_path, 'w') as z:
        for info, body in entries:
            z.writestr(info, data if info.filename == f'{TOP}/{member}' else body)
    scratch = fresh(f'{folder.name}-scratch')
    with zipfile.ZipFile(zip_path) as z:
        z.extractall(scratch)
    shutil.copy(zip_path, scratch)
    shutil.copy(folder / 'BUILDINFO', scratch)
    (folder / 'SHA256SUMS').write_text(sums_of(scratch, zip_path.name))


CUSTOMER_CASES = [  # what, member swapped, its new bytes, SHA256SUMS.p7s forged, the checks pass
    ('as released', None, None, False, True),
    ('a PDF swapped, SHA256SUMS redone', 'Data/Kesmark.pdf', sample.pdf('Forged'), False, False),
    ('a program swapped, SHA256SUMS redone', 'Orvo Tool.exe', sample.placeholder_exe('x', '4.3.1'), False,
     False),
    ('a PDF swapped, SHA256SUMS redone and signed by a TLS certificate under the same root', 'Data/Kesmark.pdf',
     sample.pdf('Forged'), True, False),
]

@test
def signed_release_verifies_and_holds_the_build():
    """Signed offline with a three-level chain: every program verifies
    against the root alone, Setup.exe's Authenticode digest is the build's,
    and the report names the signer's fingerprint. A program signed at input,
    at another time, is kept byte for byte and reported as kept; the other
    files are byte-identical to the first release. The customer's Linux
    block, word for word, passes on the release (fetching the CRL the
    certificate names, as a customer would) and fails on a copy with one
    file swapped or with SHA256SUMS re-signed by another certificate."""
    served = fresh('served')
    ca = throwaway_ca(fresh('keys'), crl_url=crl_server(served))
    vendor = openssl_fingerprint(ca['leaf'])
    source = sample.write(fresh('signed-source'), language=0)
    releases = []
    for run in ('signed-1', 'signed-2'):
        out = WORK / run
        shutil.rmtree(out, ignore_errors=True)
        proc = run_release(source, out, *signing_args(ca))
        expect(proc.returncode, 0, f'exit status ({proc.stderr})')
        expect('signer: /CN=Throwaway Signer/O=Test Vendor' in proc.stdout, True, f'signer in {proc.stdout}')
        expect(f"signer's SHA-256 fingerprint (--cert): {vendor}" in proc.stdout, True, 'fingerprint in the report')
        expect('revocation: not checked' in proc.stdout, True, 'revocation in the report')
        zip_path, folder = released(out, signed=True)
        releases.append({p.name: sha256(p) for p in folder.rglob('*') if p.is_file()})
        for exe in sorted(folder.glob('*.exe')):
            verify = osslsigncode_verify().split() + ['-CAfile', str(ca['root']), '-in', str(exe)]
            expect(subprocess.run(verify, capture_output=True).returncode, 0, f'{exe.name} verifies')
        expect(f"warning: {ca['pass_']} can be read by group or others" in proc.stdout, run == 'signed-2',
               'a warning for a pass file others can read')
        # The second run gets a program signed an hour later, which must be
        # kept, and a pass file that others can read.
        presigned = WORK / 'presigned.exe'
        subprocess.run(['osslsigncode', 'sign', '-certs', str(ca['cert']), '-key', str(ca['key']), '-readpass',
                        str(ca['pass_']), '-h', 'sha256', '-time', str(int(support.EPOCH) + 3600),
                        '-in', str(source / 'Orvo Dustrel.exe'), '-out', str(presigned)],
                       check=True, capture_output=True)
        kept = sha256(presigned)
        shutil.move(presigned, source / 'Orvo Dustrel.exe')
        ca['pass_'].chmod(0o644)
    expect(releases[1].pop('Orvo Dustrel.exe'), kept, 'the program signed at input, kept byte for byte')
    expect('Orvo Dustrel.exe  [kept, signed at input by --cert]' in proc.stdout, True,
           f'reported as kept: {proc.stdout}')
    releases[0].pop('Orvo Dustrel.exe')
    expect(releases[0] == releases[1], True, 'the other files signed the same twice')
    signed = (folder / 'Setup.exe').read_bytes()
    expect(signed != BUILD.read_bytes(), True, 'Setup.exe carries a signature')
    expect(authenticode_sha256(signed), authenticode_sha256(BUILD.read_bytes()), 'digest')
    shutil.copy(crl(ca['root'].parent), served / 'signer.crl')
    for case, (what, member, data, forged, passes) in enumerate(CUSTOMER_CASES):
        customer = fresh(f'customer-{case}')
        for name in ('BUILDINFO', 'SHA256SUMS', 'SHA256SUMS.p7s', zip_path.name):
            shutil.copy(out / name, customer)
        shutil.copy(ca['root'], customer / 'ROOT.pem')
        if member:
            tamper(customer, member, data)
        if forged:
            forge_sums(customer, ca)
        proc = subprocess.run(['bash', '-c', customer_checks()], cwd=customer, capture_output=True, text=True,
                              env=dict(os.environ, VENDOR_SHA256=vendor))
        output = proc.stdout + proc.stderr
        expect((proc.returncode == 0, 'all checks passed' in output), (passes, passes), f'{what}: {output}')
        if forged:
            expect('CMS Verification successful' in output, True, f'{what}: the forged signature verifies')


def code_changing_signer(folder):
    """An osslsigncode first on PATH that changes one code byte before it signs."""
    real = shutil.which('osslsigncode')
    stand_in = folder / 'osslsigncode'
    stand_in.write_text(f"""#!{sys.executable}
import subprocess, sys, pefile
args = sys.argv[1:]
if args[:1] == ['sign']:
    at = args.index('-in') + 1
    data = bytearray(open(args[at], 'rb').read())
    data[pefile.PE(data=bytes(data)).sections[0].PointerToRawData] ^= 0xFF
    open('{folder}/changed.exe', 'wb').write(data)
    args[at] = '{folder}/changed.exe'
sys.exit(subprocess.call(['{real}'] + args, close_fds=False))
""")
    stand_in.chmod(0o755)
    return dict(os.environ, PATH=f'{folder}:{os.environ["PATH"]}')


def sums_signing_swapped(folder, keys):
    """An openssl first on PATH that signs SHA256SUMS with `keys`' other.pem
    and other.key in place of the signer's."""
    real = shutil.which('openssl')
    stand_in = folder / 'openssl'
    stand_in.write_text(f"""#!{sys.executable}
import subprocess, sys
args = sys.argv[1:]
if args[:2] == ['cms', '-sign']:
    args[args.index('-signer') + 1] = '{keys}/other.pem'
    args[args.index('-inkey') + 1] = '{keys}/other.key'
sys.exit(subprocess.call(['{real}'] + args, close_fds=False))
""")
    stand_in.chmod(0o755)
    return dict(os.environ, PATH=f'{folder}:{os.environ["PATH"]}')


@test
def signing_faults_release_nothing():
    """A wrong passphrase at a terminal, a signer that changes the code, a
    program signed by someone the root does not know (--ca given, or the
    system's roots being SSL_CERT_FILE), a certificate its CRL revokes,
    SHA256SUMS signed by another certificate of the same intermediate: each
    ends within seconds in one error line, and OUT_DIR is never made."""
    ca = throwaway_ca(fresh('fault-keys'))
    issue(WORK / 'fault-keys', 'other', 'intermediate', '/CN=Other Signer/O=Test Vendor', CODE_SIGNING, encrypted=True)
    wrong = WORK / 'fault-keys' / 'wrong-pass'
    wrong.write_text('not it\n')
    wrong.chmod(0o600)
    foreign = throwaway_ca(fresh('foreign-keys'))
    ca_epoch = support.EPOCH
    bin_folder = fresh('stand-in')
    cases = [
        ('wrong passphrase at a terminal', dict(pass_file=wrong), None, 'terminal',
         f'cannot decrypt {ca["key"]} with the passphrase in {wrong}'),
        ('a signer that changes the code', {}, None, code_changing_signer(bin_folder), 'holds other code'),
        ('a program signed by another certificate', {}, 'Orvo Tool.exe', None,
         'the signature of Orvo Tool.exe does not verify'),
        ('a revoked certificate, its CRL given', dict(crl=crl(WORK / 'fault-keys', revoke=True)), None, None,
         'the signature of Orvo Tool.exe does not verify'),
        ('without --ca, a program signed by another certificate', dict(ca=None), 'Orvo Tool.exe',
         dict(os.environ, SSL_CERT_FILE=str(ca['root'])),
         "the signature of Orvo Tool.exe does not verify against the system's roots"),
        ('SHA256SUMS signed by another certificate of the same intermediate', {}, None,
         sums_signing_swapped(fresh('stand-in-openssl'), WORK / 'fault-keys'),
         'SHA256SUMS.p7s names another signer than --cert'),
    ]
    for what, replace, presigned, env, message in cases:
        source = sample.write(fresh('fault-source'), language=1)
        if presigned:
            signed = WORK / 'presigned.exe'
            subprocess.run(['osslsigncode', 'sign', '-certs', str(foreign['cert']), '-key', str(foreign['key']),
                            '-readpass', str(foreign['pass_']), '-in', str(source / presigned), '-out', str(signed)],
                           check=True, capture_output=True)
            shutil.move(signed, source / presigned)
        out = WORK / 'fault-out'
        shutil.rmtree(out, ignore_errors=True)
        support.EPOCH = ca_epoch
        cmd = release_cmd(source, out, *signing_args(ca, **replace))
        started = time.monotonic()
        if env == 'terminal':
            proc = subprocess.run(['script', '-qec', shlex.join(cmd), '/dev/null'], capture_output=True, text=True,
                                  timeout=30)
            output = proc.stdout.replace('\r', '')
        else:
            proc = subprocess.run(cmd, capture_output=True, text=True, env=env, timeout=120)
            output = proc.stderr
        expect(proc.returncode, 1, f'{what}: exit status ({output})')
        expect(time.monotonic() - started < 20, True, f'{what}: ended within seconds')
        errors = [line for line in output.splitlines() if line.startswith('error:')]
        expect(len(errors) == 1 and message in errors[0], True, f'{what}: errors {errors}')
        expect(out.exists(), False, f'{what}: OUT_DIR made')


if __name__ == '__main__':
    sys.exit(test.main(sys.argv))
