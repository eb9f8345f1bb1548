#!/usr/bin/env python3
"""The release command's checks, signature and reproducible zip, on the
sample distribution. One test per process, named on the command line.

Environment (set by CTest): SETUP_PRODUCT_BUILD (folder of the i686 build with
Setup.exe), SETUP_PLAN_TOOL (setup-plan), RELEASE_WORK (a scratch folder).
"""
import functools
import http.server
import os
import re
import resource
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
import expected_plan
from release.common import sha256
from release.pe import authenticode_sha256
from release.signing import offline_flags
from sample import distribution as sample

WORK = Path(os.environ.get('RELEASE_WORK', '/tmp/release-test'))
EPOCH = '1767225600'  # 2026-01-01
TOP = f"Orvo_Tool-Setup-{sample.VERSIONS['Orvo Tool.exe']}"
BUILD = Path(os.environ.get('SETUP_PRODUCT_BUILD', '.')) / 'Setup.exe'


def release_cmd(source, out, *extra):
    return [sys.executable, '-P', '-m', 'release', '--setup-exe', str(BUILD),
            '--plan-tool', os.environ['SETUP_PLAN_TOOL'], '--epoch', EPOCH, *extra, str(source), str(out)]


def run_release(source, out, *extra, **kw):
    return subprocess.run(release_cmd(source, out, *extra), capture_output=True, text=True, **kw)


def expect(actual, wanted, what):
    if actual != wanted:
        raise AssertionError(f'{what}: expected {wanted!r}, got {actual!r}')


def fresh(name):
    path = WORK / name
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return path


def sums_of(folder, zip_name):
    """SHA256SUMS as it must read: the zip, BUILDINFO, then every extracted file."""
    files = sorted(p for p in (folder / TOP).rglob('*') if p.is_file())
    lines = [(sha256(folder / n), n) for n in (zip_name, 'BUILDINFO')]
    lines += [(sha256(p), str(p.relative_to(folder))) for p in files]
    return ''.join(f'{d}  {n}\n' for d, n in lines)


def released(out, signed=False):
    """The zip of a successful release, after checking OUT_DIR, the entries'
    times and SHA256SUMS against the extracted files."""
    names = sorted(p.name for p in out.iterdir())
    expect(names, ['BUILDINFO', f'{TOP}.zip', 'SHA256SUMS'] + ['SHA256SUMS.p7s'] * signed, 'what the release left')
    zip_path = out / names[1]
    stamp = time.gmtime(int(EPOCH) & ~1)[:6]  # a zip keeps even seconds
    with zipfile.ZipFile(zip_path) as z:
        expect({i.date_time for i in z.infolist()}, {stamp}, 'entry times (SOURCE_DATE_EPOCH)')
        files = sorted(n for n in z.namelist() if not n.endswith('/'))
        extracted = fresh(f'{out.name}-extracted')
        z.extractall(extracted)
    want = sorted(f'{TOP}/{expected_plan.host(n)}' for n in expected_plan.sources())
    expect(files, sorted(want + [f'{TOP}/Setup.exe']), 'files in the zip')
    shutil.copy(zip_path, extracted)
    shutil.copy(out / 'BUILDINFO', extracted)
    expect((out / 'SHA256SUMS').read_text(), sums_of(extracted, zip_path.name), 'SHA256SUMS')
    return zip_path, extracted / TOP


def other_case(folder):
    """The same distribution as a Windows copy may spell it: DATA, KESMARK.PDF."""
    (folder / 'Data').rename(folder / 'DATA')
    (folder / 'DATA' / 'Kesmark.pdf').rename(folder / 'DATA' / 'KESMARK.PDF')
    return folder


def sample_release_is_reproducible():
    """Two releases of the sample distribution, the second spelled in other
    letter case, give byte-identical zips named after the program's version;
    the unused Rakoviny.txt is a note, the exe is the build's, unchanged, and
    the report says that nothing is signed."""
    sources = [sample.write(fresh('sample'), language=1),
               other_case(sample.write(fresh('sample-case'), language=1))]
    zips = []
    for run, source in zip(('first', 'other-case'), sources):
        out = WORK / run
        shutil.rmtree(out, ignore_errors=True)
        proc = run_release(source, out)
        expect(proc.returncode, 0, f'exit status ({proc.stderr})')
        expect('Rakoviny.txt: not used by the installer' in proc.stdout, True, 'Rakoviny note')
        expect('signed: nothing' in proc.stdout, True, f'unsigned in the report: {proc.stdout}')
        zip_path, folder = released(out)
        expect((folder / 'Setup.exe').read_bytes(), BUILD.read_bytes(), 'Setup.exe in the zip')
        zips.append(zip_path.read_bytes())
    expect(zips[0] == zips[1], True, 'the two zips are byte-identical')


def issue(folder, name, issuer, subject, extensions, days='2', encrypted=False):
    """name.key and name.pem, issued by issuer.pem with the given extensions."""
    def openssl(*args):
        subprocess.run(['openssl', *args], cwd=folder, check=True, capture_output=True)
    key = ['-passout', 'file:pass'] if encrypted else ['-nodes']
    openssl('req', '-newkey', 'rsa:2048', *key, '-keyout', f'{name}.key', '-out', f'{name}.csr', '-subj', subject)
    (folder / f'{name}.key').chmod(0o600)
    (folder / f'{name}.cnf').write_text(extensions)
    openssl('x509', '-req', '-in', f'{name}.csr', '-CA', f'{issuer}.pem', '-CAkey', f'{issuer}.key', '-CAcreateserial',
            '-out', f'{name}.pem', '-days', days, '-extfile', f'{name}.cnf')
    return folder / f'{name}.pem'


CODE_SIGNING = 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'


def throwaway_ca(folder, crl_url='http://127.0.0.1:9/signer.crl'):
    """Root -> intermediate -> code-signing certificate, made here and now,
    as public code-signing certificates come. The signer's key is encrypted,
    its passphrase in a file of mode 600; its certificate names a CRL address
    (by default one nobody answers). `cert` holds the signer, then the
    intermediate."""
    (folder / 'pass').write_text('correct horse\n')
    (folder / 'pass').chmod(0o600)
    subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'root.key', '-out',
                    'root.pem', '-days', '2', '-subj', '/CN=Throwaway Test Root',
                    '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign,cRLSign'],
                   cwd=folder, check=True, capture_output=True)
    issue(folder, 'intermediate', 'root', '/CN=Throwaway Intermediate',
          'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n')
    issue(folder, 'signer', 'intermediate', '/CN=Throwaway Signer/O=Test Vendor',
          CODE_SIGNING + f'crlDistributionPoints=URI:{crl_url}\n', encrypted=True)
    chain = ''.join((folder / name).read_text() for name in ('signer.pem', 'intermediate.pem'))
    (folder / 'signer-chain.pem').write_text(chain)
    global EPOCH
    EPOCH = str(int(os.stat(folder / 'signer.pem').st_mtime))  # inside the certificate's validity
    return dict(cert=folder / 'signer-chain.pem', key=folder / 'signer.key', root=folder / 'root.pem',
                pass_=folder / 'pass', leaf=folder / 'signer.pem', intermediate=folder / 'intermediate.pem')


def signing_args(keys, **replace):
    keys = dict(cert=keys['cert'], key=keys['key'], ca=keys['root'], pass_file=keys['pass_']) | replace
    return [a for option, value in keys.items() if value for a in (f"--{option.replace('_', '-')}", str(value))]


def osslsigncode_verify():
    """osslsigncode verify, offline, as the release itself runs it."""
    return ' '.join(['osslsigncode verify', *offline_flags()])


def customer_checks():
    """The customer's commands, word for word as the guide's fenced block gives them."""
    readme = (ROOT / 'docs' / 'verifying.md').read_text()
    return readme.split('What a customer checks', 1)[1].split('```sh\n', 1)[1].split('```', 1)[0]


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


def openssl_fingerprint(cert):
    out = subprocess.run(['openssl', 'x509', '-in', str(cert), '-noout', '-fingerprint', '-sha256'], check=True,
                         capture_output=True, text=True).stdout
    return out.strip().split('=', 1)[1]


def crl(folder, revoke=False):
    """The intermediate's CRL in `folder` (the throwaway CA's), revoking the signer if asked."""
    (folder / 'index.txt').write_text('')
    (folder / 'crlnumber').write_text('01\n')
    (folder / 'ca.cnf').write_text(f'[ca]\ndefault_ca = test\n[test]\ndatabase = {folder}/index.txt\n'
                                   f'crlnumber = {folder}/crlnumber\ndefault_md = sha256\ndefault_crl_days = 2\n')
    steps = ([['-revoke', 'signer.pem']] if revoke else []) + [['-gencrl', '-out', 'signer.crl']]
    for args in steps:
        subprocess.run(['openssl', 'ca', '-config', 'ca.cnf', '-keyfile', 'intermediate.key', '-cert',
                        'intermediate.pem', *args], cwd=folder, check=True, capture_output=True)
    return folder / 'signer.crl'


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
                        str(ca['pass_']), '-h', 'sha256', '-time', str(int(EPOCH) + 3600),
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


def signing_faults_release_nothing():
    """A wrong passphrase at a terminal, a signer that changes the code, a
    program signed by someone the root does not know (--ca given, or the
    system's roots being SSL_CERT_FILE), a certificate its CRL revokes,
    SHA256SUMS signed by another certificate of the same intermediate: each
    ends within seconds in one error line, and OUT_DIR is never made."""
    global EPOCH
    ca = throwaway_ca(fresh('fault-keys'))
    issue(WORK / 'fault-keys', 'other', 'intermediate', '/CN=Other Signer/O=Test Vendor', CODE_SIGNING, encrypted=True)
    wrong = WORK / 'fault-keys' / 'wrong-pass'
    wrong.write_text('not it\n')
    wrong.chmod(0o600)
    foreign = throwaway_ca(fresh('foreign-keys'))
    ca_epoch = EPOCH
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
        EPOCH = ca_epoch
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


def pipe_holding(data):
    """The read end of a pipe holding `data`, as `<(...)` gives a pass file."""
    read_end, write_end = os.pipe()
    os.write(write_end, data)
    os.close(write_end)
    return read_end


def token_release_equals_the_key_file_release():
    """The same key imported to a SoftHSM2 token signs the same release, byte
    for byte, with the PIN read from a pipe and the intermediate given apart
    with --chain, logging in once per tool run (counted by pkcs11-spy): once
    for the preflight's key check, once per program, once for SHA256SUMS. A
    PIN file with CRLF or a trailing blank is refused before any login; a
    wrong PIN and a missing token each keep the tool's own reason."""
    ca = throwaway_ca(fresh('token-keys'))
    tokens = fresh('tokens')
    conf = tokens / 'softhsm2.conf'
    conf.write_text(f'directories.tokendir = {tokens}\nobjectstore.backend = file\nlog.level = ERROR\n')
    spy_log = tokens / 'spy.log'
    env = dict(os.environ, SOFTHSM2_CONF=str(conf), PKCS11SPY='/usr/lib/softhsm/libsofthsm2.so',
               PKCS11SPY_OUTPUT=str(spy_log))
    spy = next(Path('/usr/lib').glob('*/pkcs11/pkcs11-spy.so'), None)
    expect(spy is not None, True, 'pkcs11-spy.so (Debian package opensc-pkcs11) installed')
    plain = tokens / 'signer.p8'
    subprocess.run(['openssl', 'pkcs8', '-topk8', '-nocrypt', '-in', str(ca['key']), '-passin', f"file:{ca['pass_']}",
                    '-out', str(plain)], check=True, capture_output=True)
    for cmd in (['--init-token', '--free', '--label', 'release', '--pin', '2468', '--so-pin', '864200'],
                ['--import', str(plain), '--token', 'release', '--label', 'signer', '--id', '01', '--pin', '2468']):
        subprocess.run(['softhsm2-util', *cmd], check=True, capture_output=True, env=env)
    plain.unlink()
    source = sample.write(fresh('token-source'), language=2)
    token = dict(key='pkcs11:token=release;object=signer', pkcs11_module=spy, cert=ca['leaf'],
                 chain=ca['intermediate'])  # the chain given apart
    absent = dict(token, key='pkcs11:token=absent;object=signer')
    cases = [  # what, options, PIN file's bytes, its error line's end (None: released), logins
        ('CRLF PIN file', token, b'2468\r\n', ': holds a carriage return (\\r, a Windows line end)', 0),
        ('PIN with a trailing blank', token, b'2468 \n', ': ends in a blank (space or tab)', 0),
        ('wrong PIN', token, b'1357\n', ' (openssl: PIN incorrect)', 1),
        ('missing token', absent, b'2468\n', ' (openssl: object not found)', 0),
        ('key file', {}, None, None, 0),
        ('token', token, b'2468\n', None, 5),
    ]
    outs = {}
    for what, replace, pin, error, logins in cases:
        out = WORK / f"token-{what.replace(' ', '-')}"
        shutil.rmtree(out, ignore_errors=True)
        spy_log.unlink(missing_ok=True)
        procs = []
        for step in (['--preflight'], ['--checked']):  # as release.sh runs it, a pipe for each
            fd = pipe_holding(pin) if pin else None
            options = signing_args(ca, **dict(replace, pass_file=f'/dev/fd/{fd}' if fd else ca['pass_']))
            procs.append(run_release(source, out, *step, *options, env=env, pass_fds=(fd,) if fd else ()))
            if fd:
                os.close(fd)
            if procs[-1].returncode:
                break
        proc = procs[-1]
        expect(len(re.findall(r'^\d+: C_Login$', spy_log.read_text() if spy_log.exists() else '', re.M)), logins,
               f'{what}: token logins')
        if error:
            expect((proc.returncode, len(procs), proc.stderr.startswith('error: ') and error in proc.stderr),
                   (1, 1, True),
                   f'{what}: {proc.stderr}')
            expect(proc.stderr.count('\n'), 1, f'{what}: one line')
            expect(out.exists(), False, f'{what}: OUT_DIR made')
        else:
            expect(proc.returncode, 0, f'{what}: exit status ({proc.stderr})')
            released(out, signed=True)
            outs[what] = {p.name: p.read_bytes() for p in out.iterdir()}
    expect(outs['token'] == outs['key file'], True, 'the token signs the same bytes as the key file')


TIME_STAMPING = ('basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n'
                 'extendedKeyUsage=critical,timeStamping\n')


def time_stamping_authority(folder, issuer, name):
    """A throwaway authority's key, certificate and `openssl ts` configuration, issued by `issuer`."""
    issue(folder, name, issuer, f'/CN=Throwaway {name}', TIME_STAMPING)
    (folder / f'{name}.serial').write_text('01\n')
    (folder / f'{name}-ts.cnf').write_text(
        f'[tsa]\ndefault_tsa = this\n[this]\nserial = {folder}/{name}.serial\nsigner_digest = sha256\n'
        'default_policy = 1.2.3.4.1\ndigests = sha256\naccuracy = secs:1\ness_cert_id_alg = sha256\n')
    return folder / name


class TimestampHandler(http.server.BaseHTTPRequestHandler):
    """RFC 3161 over HTTP with `openssl ts -reply`: /NAME answers as
    authority NAME; /good-then-NAME as `good` for the programs' three
    requests, then as NAME."""
    authorities, answered = {}, {}

    def do_POST(self):
        query = self.rfile.read(int(self.headers['Content-Length']))
        path = self.path.strip('/')
        count = self.answered[path] = self.answered.get(path, 0) + 1
        name = 'good' if path.startswith('good-then-') and count <= 3 else path.rsplit('-', 1)[-1]
        tsa = self.authorities[name]
        reply = subprocess.run(['openssl', 'ts', '-reply', '-queryfile', '/dev/stdin', '-config', f'{tsa}-ts.cnf',
                                '-inkey', f'{tsa}.key', '-signer', f'{tsa}.pem', '-out', '/dev/stdout'],
                               input=query, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header('Content-Type', 'application/timestamp-reply')
        self.send_header('Content-Length', str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def timestamp_server(authorities):
    TimestampHandler.authorities = authorities
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), TimestampHandler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f'http://127.0.0.1:{server.server_address[1]}'


def timestamped_release_outlives_its_certificate():
    """--timestamp against a local authority: every program and SHA256SUMS
    carry its verified timestamp, reported; a day and a half later, the
    signer's certificate (valid for a day) expired, the customer's Linux
    block passes at the token's time and fails without the token. An
    authority outside --tsa-ca is refused, for the programs and for the sums
    alone, and nothing is released."""
    ca = throwaway_ca(fresh('ts-keys'))
    keys = ca['root'].parent
    issue(keys, 'day', 'intermediate', '/CN=Throwaway Signer/O=Test Vendor', CODE_SIGNING, days='1', encrypted=True)
    (keys / 'day-chain.pem').write_text((keys / 'day.pem').read_text() + ca['intermediate'].read_text())
    global EPOCH
    EPOCH = str(int(os.stat(keys / 'day.pem').st_mtime))
    stranger = throwaway_ca(fresh('ts-stranger'))
    url = timestamp_server({'good': time_stamping_authority(keys, 'root', 'TSA'),
                            'foreign': time_stamping_authority(stranger['root'].parent, 'root', 'TSA')})
    source = sample.write(fresh('ts-source'), language=1)
    day = dict(cert=keys / 'day-chain.pem', key=keys / 'day.key', tsa_ca=ca['root'])
    cases = [  # what, authority's path, the one error line or None
        ('the authority under --tsa-ca', 'good', None),
        ('an authority outside --tsa-ca', 'foreign',
         f"the timestamp of Orvo Tool.exe does not verify against {ca['root']} (osslsigncode: "),
        ('the sums timestamped outside --tsa-ca', 'good-then-foreign',
         f'the timestamp of SHA256SUMS from {url}/good-then-foreign does not verify against {ca["root"]}'),
    ]
    for what, path, message in cases:
        out = WORK / f'ts-out-{path}'
        shutil.rmtree(out, ignore_errors=True)
        proc = run_release(source, out, *signing_args(ca, **day, timestamp=f'{url}/{path}'))
        if message:
            errors = [line for line in proc.stderr.splitlines() if line.startswith('error:')]
            expect((proc.returncode, len(errors) == 1 and errors[0].startswith(f'error: {message}')), (1, True),
                   f'{what}: {proc.stderr}')
            expect(out.exists(), False, f'{what}: OUT_DIR made')
            continue
        expect(proc.returncode, 0, f'{what}: exit status ({proc.stderr})')
        stamps = [line for line in proc.stdout.splitlines() if line.startswith('timestamp, ')]
        expect([line.split(':', 1)[0] for line in stamps],
               ['timestamp, Orvo Tool.exe', 'timestamp, Orvo Dustrel.exe', 'timestamp, Setup.exe',
                'timestamp, SHA256SUMS (SHA256SUMS.tsr)'], f'{what}: timestamps reported')
        expect({line.split(' by ', 1)[1].split(' (')[0] for line in stamps}, {'/CN=Throwaway TSA'},
               f'{what}: one authority, named: {stamps}')
        expect(sorted(p.name for p in out.iterdir()),
               ['BUILDINFO', f'{TOP}.zip', 'SHA256SUMS', 'SHA256SUMS.p7s', 'SHA256SUMS.tsr'], f'{what}: OUT_DIR')
    later = f"@{int(time.time()) + 36 * 3600}"
    env = dict(os.environ, VENDOR_SHA256=openssl_fingerprint(keys / 'day.pem'))
    foreign = stranger['root'].parent / 'TSA'
    for token, reason in (('as released', None), ('from an authority outside ROOT.pem', 'Verification: FAILED'),
                          ('none', 'certificate has expired')):
        customer = fresh('ts-customer')
        for name in ('BUILDINFO', 'SHA256SUMS', 'SHA256SUMS.p7s', 'SHA256SUMS.tsr', f'{TOP}.zip'):
            shutil.copy(WORK / 'ts-out-good' / name, customer)
        shutil.copy(ca['root'], customer / 'ROOT.pem')
        if token == 'none':
            (customer / 'SHA256SUMS.tsr').unlink()
        elif reason:
            subprocess.run('openssl ts -query -data SHA256SUMS -sha256 -cert | '
                           f'openssl ts -reply -queryfile /dev/stdin -config {foreign}-ts.cnf -inkey {foreign}.key '
                           f'-signer {foreign}.pem -out SHA256SUMS.tsr',
                           shell=True, cwd=customer, check=True, capture_output=True)
        proc = subprocess.run(['faketime', later, 'bash', '-c', customer_checks()], cwd=customer, capture_output=True,
                              text=True, env=env)
        output = proc.stdout + proc.stderr
        expect((proc.returncode == 0, 'all checks passed' in output), (not reason, not reason),
               f'customer a day and a half later, token {token}: {output}')
        expect(reason is None or reason in output, True, f'token {token}: the reason: {output}')


def programs_signed_at_input():
    """A program given signed is kept only when its signer is --cert's, or
    the certificate --allow-signer names, and its timestamp (osslsigncode's
    own test authority) verifies against --tsa-ca; the report says which."""
    ca = throwaway_ca(fresh('input-keys'))
    keys = ca['root'].parent
    issue(keys, 'other', 'intermediate', '/CN=Other Signer', CODE_SIGNING)
    stranger = throwaway_ca(fresh('input-stranger'))
    tsa = time_stamping_authority(keys, 'root', 'TSA')
    foreign_tsa = time_stamping_authority(stranger['root'].parent, 'root', 'TSA')
    has_test_authority = '-TSA-certs' in subprocess.run(['osslsigncode', '--help'], capture_output=True,
                                                        text=True).stdout
    other = ['-certs', str(keys / 'other.pem'), '-ac', str(ca['intermediate']), '-key', str(keys / 'other.key')]
    ours = ['-certs', str(ca['cert']), '-key', str(ca['key']), '-readpass', str(ca['pass_'])]
    allow = ['--allow-signer', openssl_fingerprint(keys / 'other.pem')]
    cases = [  # what, osslsigncode sign's signer and timestamp, release options, kept as or the error
        ('another signer', other, [], 'Orvo Dustrel.exe is signed at input by another certificate than --cert'),
        ('another signer, allowed', other, allow, 'kept, signed at input by --allow-signer'),
        ('ours, timestamped under --tsa-ca', ours + ['-TSA-certs', f'{tsa}.pem', '-TSA-key', f'{tsa}.key'],
         [], 'kept, signed at input by --cert'),
        ('ours, timestamped outside --tsa-ca',
         ours + ['-TSA-certs', f'{foreign_tsa}.pem', '-TSA-key', f'{foreign_tsa}.key'], [],
         f"the timestamp of Orvo Dustrel.exe does not verify against {ca['root']}"),
    ]
    for what, sign, options, outcome in cases:
        if '-TSA-certs' in sign and not has_test_authority:
            print(f'{what}: skipped: this osslsigncode has no test timestamp authority (-TSA-certs)')
            continue
        source = sample.write(fresh('input-source'), language=1)
        signed = WORK / 'input-signed.exe'
        now = int(time.time())  # after every certificate here was issued
        stamp = ['-TSA-time', str(now)] if '-TSA-certs' in sign else []
        subprocess.run(['osslsigncode', 'sign', *sign, *stamp, '-h', 'sha256', '-in', str(source / 'Orvo Dustrel.exe'),
                        '-out', str(signed)], check=True, capture_output=True)
        shutil.move(signed, source / 'Orvo Dustrel.exe')
        out = WORK / 'input-out'
        shutil.rmtree(out, ignore_errors=True)
        proc = run_release(source, out, *signing_args(ca, tsa_ca=ca['root']), *options)
        if outcome.startswith('kept'):
            expect(proc.returncode, 0, f'{what}: exit status ({proc.stderr})')
            expect(f'Orvo Dustrel.exe  [{outcome}]' in proc.stdout, True, f'{what}: {proc.stdout}')
            if stamp:
                when = time.strftime('%b %e %H:%M:%S %Y GMT', time.gmtime(now))
                expect(f'timestamp, Orvo Dustrel.exe: {when} by /CN=Throwaway TSA' in proc.stdout, True,
                       f'{what}: the timestamp reported: {proc.stdout}')
        else:
            errors = [line for line in proc.stderr.splitlines() if line.startswith('error:')]
            expect((proc.returncode, len(errors) == 1 and errors[0].startswith(f'error: {outcome}')), (1, True),
                   f'{what}: {proc.stderr}')
            expect(out.exists(), False, f'{what}: OUT_DIR made')


def signal_sending(tool, signum, folder):
    """`tool` first on PATH, which sends `signum` to the release when it signs SHA256SUMS."""
    real = shutil.which(tool)
    stand_in = folder / tool
    stand_in.write_text(f"""#!/bin/sh
case " $* " in *" -sign "*) kill -{signum.name[3:]} $PPID; sleep 5 ;; esac
exec {real} "$@"
""")
    stand_in.chmod(0o755)
    return dict(os.environ, PATH=f'{folder}:{os.environ["PATH"]}')


def signals_leave_out_dir_as_found():
    """SIGTERM, SIGHUP or Ctrl+C while SHA256SUMS is being signed: one error
    line naming the signal, no traceback, OUT_DIR as found."""
    ca = throwaway_ca(fresh('signal-keys'))
    source = sample.write(fresh('signal-source'), language=1)
    for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        env = signal_sending('openssl', signum, fresh('signal-bin'))
        for before in ('none', 'empty'):
            out = WORK / 'signal-out'
            shutil.rmtree(out, ignore_errors=True)
            if before == 'empty':
                out.mkdir()
            proc = run_release(source, out, *signing_args(ca), env=env, timeout=60)
            what = f'{signum.name}, OUT_DIR {before}'
            expect((proc.returncode, proc.stderr), (128 + signum, f'error: stopped by {signum.name}; nothing was '
                                                                  'released, OUT_DIR is as it was found\n'), what)
            expect(sorted(os.listdir(out)) if out.exists() else None, [] if before == 'empty' else None,
                   f'{what}: OUT_DIR as found')


def commit_of_this_tree():
    """A git repository holding this tree's tracked files in one commit dated EPOCH."""
    repo = fresh('repo')
    tracked = subprocess.run(['git', '-C', str(ROOT), 'ls-files', '-z'], check=True, capture_output=True).stdout
    for name in filter(None, tracked.decode().split('\0')):
        (repo / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(ROOT / name, repo / name)
    git = ['git', '-C', str(repo), '-c', 'user.name=Release Test', '-c', 'user.email=release@test.invalid']
    env = dict(os.environ, GIT_AUTHOR_DATE=f'@{EPOCH}', GIT_COMMITTER_DATE=f'@{EPOCH}')
    env.pop('SOURCE_DATE_EPOCH', None)
    for cmd in (['init', '-q'], ['add', '-A'], ['commit', '-qm', 'the tree under test']):
        subprocess.run(git + cmd, check=True, capture_output=True, env=env)
    return repo, git, env


def build_info(folder):
    return [tuple(line.split(': ', 1)) for line in (folder / 'BUILDINFO').read_text().splitlines()]


def release_sh_builds_the_commit_alone():
    """release.sh in a commit of this tree, signing with a three-level chain:
    neither a poisoned build/win32 nor the caller's CXXFLAGS change Setup.exe
    (its unsigned sha256 is the reproducible build's), the report begins with
    the commit and SOURCE_DATE_EPOCH, BUILDINFO's values are the report's, a
    key others can read is warned of once, and an edited tracked file, staged
    or not, is refused. The passphrase comes through a pipe, as `<(...)`
    gives it."""
    ca = throwaway_ca(fresh('sh-keys'))
    ca['key'].chmod(0o640)
    repo, git, env = commit_of_this_tree()
    commit = subprocess.run(git + ['rev-parse', 'HEAD'], check=True, capture_output=True, text=True).stdout.strip()
    subprocess.run(['cmake', '--preset', 'win32', '-DCMAKE_CXX_FLAGS_MINSIZEREL=-O1'], cwd=repo, check=True,
                   capture_output=True)
    source = sample.write(fresh('sh-source'), language=1)
    out = WORK / 'sh-out'
    shutil.rmtree(out, ignore_errors=True)
    release_sh = ['bash', str(repo / 'scripts' / 'release.sh'), *signing_args(ca), str(source), str(out)]
    # The passphrase given as <(...) would give it: a pipe, read once.
    fd = pipe_holding(ca['pass_'].read_bytes())
    piped = [f'--pass-file=/dev/fd/{fd}' if a == str(ca['pass_']) else a for a in release_sh if a != '--pass-file']
    proc = subprocess.run(piped, capture_output=True, text=True, env=dict(env, CXXFLAGS='-fno-inline'), pass_fds=(fd,))
    os.close(fd)
    expect(proc.returncode, 0, f'exit status ({proc.stderr})')
    when = time.strftime('%Y-%m-%d %H:%M:%S UTC', time.gmtime(int(EPOCH)))
    expect(proc.stdout.splitlines()[:2], [f'commit: {commit}', f'SOURCE_DATE_EPOCH: {EPOCH} ({when})'],
           'the report begins')
    expect(proc.stdout.count(f"warning: {ca['key']} can be read by group or others"), 1, 'warnings of the key')
    info = build_info(out)
    reported = dict(line.split(': ', 1) for line in proc.stdout.splitlines() if ': ' in line)
    expect(info[0], ('commit', commit), 'BUILDINFO begins with the commit')
    for key, report_key in (('commit', 'commit'), ('compiler', 'compiler'), ('binutils', 'binutils'),
                            ('cmake', 'cmake'),
                            ('setup-exe-unsigned-sha256', 'sha256 of the unsigned build of Setup.exe'),
                            ('signer-sha256-fingerprint', "signer's SHA-256 fingerprint (--cert)")):
        expect(dict(info)[key], reported.get(report_key), f'BUILDINFO {key} against the report')
    expect(dict(info)['setup-exe-unsigned-sha256'], sha256(BUILD), 'the unsigned Setup.exe is the reproducible build')
    folder = released(out, signed=True)[1]
    expect(authenticode_sha256((folder / 'Setup.exe').read_bytes()), authenticode_sha256(BUILD.read_bytes()),
           'the released Setup.exe holds the reproducible build')
    expect((repo / 'build' / 'win32' / 'Setup.exe').exists(), False, 'something built in build/win32')
    with open(repo / 'app' / 'Texts.cpp', 'a') as f:
        f.write('// an edit\n')
    for staged in (False, True):
        if staged:
            subprocess.run(git + ['add', 'app/Texts.cpp'], check=True)
        shutil.rmtree(out, ignore_errors=True)
        proc = subprocess.run(release_sh, capture_output=True, text=True, env=env)
        expect(proc.returncode, 1, f'exit status with an edited tracked file (staged: {staged})')
        expect(proc.stderr.startswith('error: tracked files differ') and 'app/Texts.cpp' in proc.stderr
               and len(proc.stderr.splitlines()) == 1, True, f'the refusal names the file: {proc.stderr}')
        expect(out.exists(), False, 'OUT_DIR made for a dirty tree')


def certificate_mistakes_stop_before_the_build():
    """A key that is not the certificate's, an expired certificate, one
    without code signing, one its root does not vouch for, a key file that
    is not encrypted: release.sh ends
    with one line naming the mistake before it builds, OUT_DIR left empty."""
    ca = throwaway_ca(fresh('mistake-keys'))
    keys = ca['root'].parent
    issue(keys, 'expired', 'intermediate', '/CN=Expired Signer', CODE_SIGNING, days='-1')
    issue(keys, 'tls', 'intermediate', '/CN=www.test.invalid', 'extendedKeyUsage=serverAuth\n')
    stranger = throwaway_ca(fresh('stranger-keys'))
    openssl_in = ['openssl', 'pkey', '-in', str(ca['key']), '-passin', f"file:{ca['pass_']}", '-out']
    subprocess.run(openssl_in + [str(keys / 'plain.key')], check=True, capture_output=True)
    (keys / 'plain.key').chmod(0o600)
    repo = commit_of_this_tree()[0]
    source = sample.write(fresh('mistake-source'), language=1)
    chain = ca['intermediate']  # each mistake alone: the rest of the chain is whole
    cases = [
        ('a key that is not the certificate\'s', dict(key=keys / 'tls.key', pass_file=keys / 'pass'),
         f"{keys / 'tls.key'} does not match the certificate in {ca['cert']}"),
        ('an expired certificate', dict(cert=keys / 'expired.pem', key=keys / 'expired.key', chain=chain),
         f"{keys / 'expired.pem'}: expired on "),
        ('a certificate without code signing', dict(cert=keys / 'tls.pem', key=keys / 'tls.key', chain=chain),
         f"{keys / 'tls.pem'}: not for code signing (extended key usage: TLS Web Server Authentication)"),
        ('a certificate under another root',
         dict(cert=stranger['cert'], key=stranger['key'], pass_file=stranger['pass_']),
         f"{stranger['cert']} does not chain to {ca['root']} (openssl: unable to get local issuer certificate)"),
        ('the certificate\'s own key, not encrypted', dict(key=keys / 'plain.key'),
         f"{keys / 'plain.key'}: the key file is not encrypted"),
    ]
    for what, replace, message in cases:
        replace.setdefault('pass_file', keys / 'pass')
        out = fresh('mistake-out')
        proc = subprocess.run(['bash', str(repo / 'scripts' / 'release.sh'), *signing_args(ca, **replace), str(source),
                               str(out)], capture_output=True, text=True)
        errors = [line for line in proc.stderr.splitlines() if line.startswith('error:')]
        expect(proc.returncode, 1, f'{what}: exit status ({proc.stderr})')
        expect(len(errors) == 1 and errors[0].startswith(f'error: {message}'), True, f'{what}: {errors}')
        expect('building' in proc.stdout + proc.stderr, False, f'{what}: the build started')
        expect(list(out.iterdir()), [], f'{what}: OUT_DIR left empty')


def rewrite(name, data):
    return lambda folder: (folder / name).write_bytes(data)


def link(name, to):
    def spoil(folder):
        target = folder.parent / f'{folder.name}-elsewhere' / to
        target.parent.mkdir(exist_ok=True)
        (folder / name).rename(target)
        (folder / name).symlink_to(target)
    return spoil


BAD = [
    ('missing list document', lambda f: (f / 'Data' / 'Q KV seznam.pdf').unlink(), 'Data\\Q KV seznam.pdf: missing'),
    ('3-byte language file', rewrite('dLangv.dat', b'\1\0\0'), 'dLangv.dat: is 3 bytes'),
    ('language code 9', rewrite('dLangv.dat', struct.pack('<i', 9)), 'dLangv.dat: holds language code 9'),
    ('language code as text', rewrite('dLangv.dat', b'01\r\n'), "dLangv.dat: holds the text b'01\\r\\n' where a 4-byte"),
    ('text as program', rewrite('Orvo Tool.exe', b'just some text\n'), 'Orvo Tool.exe: is not a Windows program'),
    ('empty PDF', rewrite('Data/Kesmark.pdf', b''), 'Data\\Kesmark.pdf: empty'),
    ('not a shell link', rewrite('Orvo_Tool DATA.lnk', b'[InternetShortcut]\r\n'),
     'Orvo_Tool DATA.lnk cannot be read by liblnk'),
    ('program as a link', link('Orvo Tool.exe', 'tool.exe'), 'Orvo Tool.exe: is a symbolic link to /'),
    ('name not UTF-8', lambda f: Path(os.fsdecode(bytes(f / 'Data') + b'/P\xf8ehled.pdf')).write_bytes(b'%PDF-1.4'),
     'Data\\P\\xf8ehled.pdf: the name is not UTF-8'),
]


def bad_distributions_are_refused():
    """Each fault alone: exit status 1, a line naming the file and the fault,
    nothing in OUT_DIR. All at once: every one reported in one run."""
    everything = sample.write(fresh('bad-all'), language=1)
    for what, spoil, message in BAD:
        source = sample.write(fresh('bad'), language=1)
        spoil(source)
        spoil(everything)
        out = WORK / 'bad-out'
        shutil.rmtree(out, ignore_errors=True)
        proc = run_release(source, out)
        expect(proc.returncode, 1, f'{what}: exit status')
        errors = [line for line in proc.stderr.splitlines() if line.startswith('error:')]
        expect(len(errors) == 1 and errors[0].startswith(f'error: {message}'), True, f'{what}: errors {errors}')
        expect(out.exists() and any(out.iterdir()), False, f'{what}: something left in OUT_DIR')
    proc = run_release(everything, WORK / 'bad-out')
    errors = [line for line in proc.stderr.splitlines() if line.startswith('error:')]
    expect(len(errors), len(BAD) - 3, f'problems reported at once ({errors})')  # per file, the last fault wins


# What liblnk must read back from the sample's shortcuts: local path, working
# folder, icon location and index, file attributes (archive; directory).
SAMPLE_SHORTCUTS = [
    ('Orvo Tool.lnk', 'C:\\Orvo_Tool\\Orvo Tool.exe', 'C:\\Orvo_Tool', 'C:\\Orvo_Tool\\Orvo Tool.exe', 0, 0x20),
    ('Orvo_Tool DATA.lnk', 'C:\\Orvo_Tool Data', None, None, 0, 0x10),
]


def sample_shortcuts_read_back_through_liblnk():
    """The sample distribution's shortcuts, as liblnk reads them (python3-liblnk
    and liblnk-utils' lnkinfo): the installed program with its folder and
    icon, and the data folder."""
    import pylnk
    folder = sample.write(fresh('shortcuts-sample'), language=1)
    for name, target, working_dir, icon, index, attributes in SAMPLE_SHORTCUTS:
        link = pylnk.file()
        link.open(str(folder / name))
        read = (link.local_path, link.working_directory, link.icon_location, link.icon_index,
                link.file_attribute_flags, link.network_path, link.relative_path, link.link_target_identifier_data)
        expect(read, (target, working_dir, icon, index, attributes, None, None, None), f'{name} through pylnk')
        shown = subprocess.run(['lnkinfo', str(folder / name)], capture_output=True, text=True)
        expect((shown.returncode, f'Local path\t\t\t: {target}' in shown.stdout), (0, True), f'{name} through lnkinfo')


def shortcut(name, **link):
    return rewrite(name, sample.shell_link(**link))


TOOL = 'C:\\Orvo_Tool\\Orvo Tool.exe'
SHORTCUT_CASES = [  # what, spoil the source, the one error line (None: released, with this report line)
    ('made on a build machine', shortcut('Orvo Tool.lnk', target='D:\\build\\Orvo Tool.exe'),
     f'Orvo Tool.lnk points to D:\\build\\Orvo Tool.exe, not {TOOL}'),
    ('pointing at the companion', shortcut('Orvo Tool.lnk', target='C:\\Orvo_Tool\\Orvo Dustrel.exe'),
     f'Orvo Tool.lnk points to C:\\Orvo_Tool\\Orvo Dustrel.exe, not {TOOL}'),
    ('the data folder\'s pointing at the program', shortcut('Orvo_Tool DATA.lnk', target=TOOL, folder=True),
     f'Orvo_Tool DATA.lnk points to {TOOL}, not C:\\Orvo_Tool Data'),
    ('on a network share', shortcut('Orvo Tool.lnk', target='Orvo Tool.exe', share='\\\\build\\share'),
     'Orvo Tool.lnk points to the network path \\\\build\\share\\Orvo Tool.exe, which a customer\'s machine '
     'cannot reach'),
    ('unreadable (the old 51-byte placeholder)',
     rewrite('Orvo Tool.lnk', struct.pack('<I', 0x4C) + sample.SHELL_LINK_CLSID
             + b' placeholder for Orvo Tool.lnk\n'),
     'Orvo Tool.lnk cannot be read by liblnk (unable to read file header data)'),
    ('a relative path only', shortcut('Orvo Tool.lnk', relative='..\\Orvo_Tool\\Orvo Tool.exe'),
     'Orvo Tool.lnk gives only the relative path ..\\Orvo_Tool\\Orvo Tool.exe, which a shortcut on the desktop '
     'cannot follow to the installation'),
    ('a variable of the build machine', shortcut('Orvo Tool.lnk', target=TOOL,
                                                  environment='%USERPROFILE%\\Orvo_Tool\\Orvo Tool.exe'),
     'Orvo Tool.lnk uses the variable %USERPROFILE%, which is not known before installation; only %SystemDrive% is'),
    ('%SystemDrive% and other letter case', shortcut('Orvo Tool.lnk', target='c:\\ORVO_TOOL\\orvo tool.EXE',
                                                       environment='%SYSTEMDRIVE%\\Orvo_Tool\\Orvo Tool.exe',
                                                       working_dir='C:\\Orvo_Tool'),
     None),
]


def shortcuts_must_lead_to_their_installed_targets():
    """Each shortcut is read with liblnk: one leading anywhere but its own
    installed target is refused with one line naming what it found and what
    was expected, and OUT_DIR stays empty. %SystemDrive% is C:, letter case
    does not count, and the report shows every shortcut's target, working
    folder and icon."""
    for what, spoil, message in SHORTCUT_CASES:
        source = sample.write(fresh('shortcut-source'), language=1)
        spoil(source)
        out = fresh('shortcut-out')
        proc = run_release(source, out)
        if message is None:
            expect(proc.returncode, 0, f'{what}: exit status ({proc.stderr})')
            lines = [line for line in proc.stdout.splitlines() if line.startswith('shortcut: ')]
            expect(lines, ['shortcut: Orvo Tool.lnk -> c:\\ORVO_TOOL\\orvo tool.EXE; working folder C:\\Orvo_Tool; '
                           'icon none; no ID list',
                           'shortcut: Orvo_Tool DATA.lnk -> C:\\Orvo_Tool Data; working folder none; icon none; '
                           'no ID list'], f'{what}: the report')
            continue
        errors = [line for line in proc.stderr.splitlines() if line.startswith('error:')]
        expect((proc.returncode, errors), (1, [f'error: {message}']), what)
        expect(list(out.iterdir()), [], f'{what}: OUT_DIR left empty')


def write_limit(size):
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


def big_pdf(folder):
    """A PDF that does not compress: the zip outgrows every file it holds."""
    (folder / 'Data' / 'Kesmark.pdf').write_bytes(b'%PDF-1.4\n' + os.urandom(400_000))


def no_version(folder):
    (folder / 'Orvo Tool.exe').write_bytes(sample.placeholder_exe('Orvo Tool.exe'))


def product_version(version):
    return lambda folder: (folder / 'Orvo Tool.exe').write_bytes(
        sample.placeholder_exe('Orvo Tool.exe', version))


def stand_in_data(folder):
    elsewhere = folder.parent / 'data-elsewhere'
    shutil.rmtree(elsewhere, ignore_errors=True)
    (folder / 'Data').rename(elsewhere)
    (folder / 'Data').symlink_to(elsewhere)


OUT_CASES = [  # what, spoil the source, OUT_DIR before, options, limit, message
    ('OUT_DIR is a file', None, 'file', [], None, 'not a folder'),
    ('a write fails in OUT_DIR', big_pdf, 'empty', [], write_limit(450_000), 'failed (File too large); it is left'),
    ('Data is a link', stand_in_data, 'none', [], None, 'Data: is a symbolic link to /'),
    ('--version with a slash', None, 'none', ['--version', '../4.3'], None, "--version '../4.3' cannot name a file"),
    ('--version with a slash inside', None, 'none', ['--version', '4.3/x'], None,
     "--version '4.3/x' cannot name a file"),
    ('no version resource', no_version, 'none', [], None, 'no version resource; give the version with --version'),
    ('--version 4.4 against ProductVersion 4.3.1.0', product_version('4.3.1.0'), 'none', ['--version', '4.4'], None,
     '--version 4.4 is not the ProductVersion of Orvo Tool.exe, 4.3.1.0'),
]


def failures_leave_out_dir_as_found():
    """Failures outside the distribution's files: one error line, no
    traceback, and OUT_DIR exactly as it was before the run."""
    for what, spoil, before, options, limit, message in OUT_CASES:
        source = sample.write(fresh('out-source'), language=1)
        if spoil:
            spoil(source)
        out = WORK / 'out-case'
        shutil.rmtree(out, ignore_errors=True)
        out.unlink(missing_ok=True)
        if before == 'file':
            out.write_text('not a folder\n')
        elif before == 'empty':
            out.mkdir()
        proc = run_release(source, out, *options, preexec_fn=limit)
        expect(proc.returncode, 1, f'{what}: exit status ({proc.stderr})')
        lines = proc.stderr.splitlines()
        expect(len(lines) == 1 and lines[0].startswith('error: ') and message in lines[0], True, f'{what}: {lines}')
        after = {'file': out.is_file() and out.read_text() == 'not a folder\n',
                 'empty': out.is_dir() and not any(out.iterdir()), 'none': not out.exists()}[before]
        expect(after, True, f'{what}: OUT_DIR as found')


def check_kit_signs_its_programs():
    """The kit's packager with the release's --cert and --key: both programs in the
    kit's zip verify against the root alone and name the signer; with --cert
    alone nothing is made."""
    ca = throwaway_ca(fresh('kit-keys'))
    out = fresh('kit-out')
    base = [sys.executable, '-P', '-m', 'kit.package', '--build', str(BUILD.parent), '--version', 'test',
            '--epoch', EPOCH]
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


TESTS = {f.__name__: f for f in (sample_release_is_reproducible, check_kit_signs_its_programs, signed_release_verifies_and_holds_the_build,
                                 signing_faults_release_nothing, bad_distributions_are_refused,
                                 failures_leave_out_dir_as_found, token_release_equals_the_key_file_release,
                                 release_sh_builds_the_commit_alone, certificate_mistakes_stop_before_the_build,
                                 sample_shortcuts_read_back_through_liblnk,
                                 shortcuts_must_lead_to_their_installed_targets,
                                 timestamped_release_outlives_its_certificate, programs_signed_at_input,
                                 signals_leave_out_dir_as_found)}

if __name__ == '__main__':
    if len(sys.argv) == 2 and sys.argv[1] == '--list':
        print(';'.join(TESTS))
        sys.exit(0)
    if len(sys.argv) != 2 or sys.argv[1] not in TESTS:
        sys.exit('usage: release_test.py --list | ' + '|'.join(TESTS))
    TESTS[sys.argv[1]]()
    print(f'{sys.argv[1]}: passed')
