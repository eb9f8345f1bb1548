"""What the release tests share: the release command run on the sample
distribution, its OUT_DIR checked, and a throwaway certificate chain made
per test. One test per process, named on the command line.

Environment (set by CTest): SETUP_PRODUCT_BUILD (folder of the i686 build with
Setup.exe), SETUP_PLAN_TOOL (setup-plan), RELEASE_WORK (a scratch folder).
"""
import os
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
import expected_plan
from release.common import sha256
from release.signing import offline_flags
from sample import distribution as sample

WORK = Path(os.environ.get('RELEASE_WORK', '/tmp/release-test'))
# throwaway_ca moves it into the new certificate's validity: the tests read it as support.EPOCH.
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

def pipe_holding(data):
    """The read end of a pipe holding `data`, as `<(...)` gives a pass file."""
    read_end, write_end = os.pipe()
    os.write(write_end, data)
    os.close(write_end)
    return read_end

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

def rewrite(name, data):
    return lambda folder: (folder / name).write_bytes(data)
