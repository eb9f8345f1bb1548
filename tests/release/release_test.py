#!/usr/bin/env python3
"""The release command's checks, signature and reproducible zip, on the
sample distribution. One test per process, named on the command line.

Environment (set by CTest): SETUP_PRODUCT_BUILD (folder of the i686 build with
Setup.exe), SETUP_PLAN_TOOL (setup-plan), RELEASE_WORK (a scratch folder).
"""
import os
import shutil
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / 'scripts'))
sys.path.insert(0, str(ROOT / 'tests'))
import expected_plan  # noqa: E402
import make_distribution  # noqa: E402
import release  # noqa: E402

WORK = Path(os.environ.get('RELEASE_WORK', '/tmp/release-test'))
EPOCH = '1767225600'  # 2026-01-01


def release_cmd(source, out, *extra, exe=None):
    exe = exe or Path(os.environ['SETUP_PRODUCT_BUILD']) / 'Setup.exe'
    return [sys.executable, str(ROOT / 'scripts' / 'release.py'), '--setup-exe', str(exe),
            '--plan-tool', os.environ['SETUP_PLAN_TOOL'], '--version', '1.0.0.0', '--epoch', EPOCH,
            *extra, str(source), str(out)]


def run_release(source, out, *extra, exe=None):
    return subprocess.run(release_cmd(source, out, *extra, exe=exe), capture_output=True, text=True)


def expect(actual, wanted, what):
    if actual != wanted:
        raise AssertionError(f'{what}: expected {wanted!r}, got {actual!r}')


def fresh(name):
    path = WORK / name
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return path


def released(out):
    """The zip of a successful release, after checking OUT_DIR and SHA256SUMS."""
    names = sorted(p.name for p in out.iterdir())
    expect(names, ['Orvo_Tool-Setup-1.0.0.0.zip', 'SHA256SUMS'], 'what the release left')
    zip_path = out / names[0]
    with zipfile.ZipFile(zip_path) as z:
        exe = z.read('Orvo_Tool-Setup-1.0.0.0/Setup.exe')
        files = sorted(n for n in z.namelist() if not n.endswith('/'))
    want = sorted(f'Orvo_Tool-Setup-1.0.0.0/{expected_plan.host(n)}' for n in expected_plan.sources())
    expect(files, sorted(want + ['Orvo_Tool-Setup-1.0.0.0/Setup.exe']), 'files in the zip')
    sums = (out / 'SHA256SUMS').read_text()
    expect(sums, f'{release.sha256(zip_path)}  {zip_path.name}\n'
                 f'{release.hashlib.sha256(exe).hexdigest()}  Orvo_Tool-Setup-1.0.0.0/Setup.exe\n', 'SHA256SUMS')
    return zip_path, exe


def sample_release_is_reproducible():
    """Two releases of the sample distribution give byte-identical zips; the
    unused Rakoviny.txt is a note, and the exe is the build's, unchanged."""
    source = make_distribution.write(fresh('sample'), language=1)
    zips = []
    for run in ('first', 'second'):
        out = WORK / run
        shutil.rmtree(out, ignore_errors=True)
        proc = run_release(source, out)
        expect(proc.returncode, 0, f'exit status ({proc.stderr})')
        expect('note: Data\\Rakoviny.txt: not used by the installer' in proc.stdout, True, 'Rakoviny note')
        zip_path, exe = released(out)
        expect(exe, (Path(os.environ['SETUP_PRODUCT_BUILD']) / 'Setup.exe').read_bytes(), 'Setup.exe in the zip')
        zips.append(zip_path.read_bytes())
    expect(zips[0] == zips[1], True, 'the two zips are byte-identical')


def throwaway_ca(folder):
    """A root and a code-signing certificate issued by it, made here and now."""
    def openssl(*args):
        subprocess.run(['openssl', *args], cwd=folder, check=True, capture_output=True)
    openssl('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'root.key', '-out', 'root.pem', '-days', '2',
            '-subj', '/CN=Throwaway Test Root', '-addext', 'basicConstraints=critical,CA:TRUE',
            '-addext', 'keyUsage=critical,keyCertSign')
    openssl('req', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'signer.key', '-out', 'signer.csr',
            '-subj', '/CN=Throwaway Signer/O=Test Vendor')
    (folder / 'ext.cnf').write_text('basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n'
                                    'extendedKeyUsage=codeSigning\n')
    openssl('x509', '-req', '-in', 'signer.csr', '-CA', 'root.pem', '-CAkey', 'root.key', '-CAcreateserial',
            '-out', 'signer.pem', '-days', '2', '-extfile', 'ext.cnf')
    return folder / 'signer.pem', folder / 'signer.key', folder / 'root.pem'


def signed_release_verifies_and_holds_the_build():
    """Signed with a throwaway certificate: it verifies against its root only,
    its Authenticode digest is the unsigned build's, and signing twice gives
    the same bytes."""
    keys = fresh('keys')
    cert, key, root = throwaway_ca(keys)
    source = make_distribution.write(fresh('signed-source'), language=0)
    global EPOCH
    EPOCH = str(int(os.stat(cert).st_mtime))  # inside the certificate's validity
    exes = []
    for run in ('signed-1', 'signed-2'):
        out = WORK / run
        shutil.rmtree(out, ignore_errors=True)
        proc = run_release(source, out, '--cert', str(cert), '--key', str(key), '--ca', str(root))
        expect(proc.returncode, 0, f'exit status ({proc.stderr})')
        expect('signer: /CN=Throwaway Signer/O=Test Vendor' in proc.stdout, True, f'signer in {proc.stdout}')
        exes.append(released(out)[1])
    expect(exes[0] == exes[1], True, 'two signatures of the same build are byte-identical')
    signed = WORK / 'signed.exe'
    signed.write_bytes(exes[0])
    unsigned = (Path(os.environ['SETUP_PRODUCT_BUILD']) / 'Setup.exe').read_bytes()
    expect(exes[0] != unsigned, True, 'Setup.exe carries a signature')
    expect(release.authenticode_sha256(exes[0]), release.authenticode_sha256(unsigned), 'Authenticode digest')
    verify = ['osslsigncode', 'verify', '-in', str(signed)]
    expect(subprocess.run(verify + ['-CAfile', str(root)], capture_output=True).returncode, 0, 'verify with the root')
    expect(subprocess.run(verify, capture_output=True).returncode != 0, True, 'verify without the root fails')


def rewrite(name, data):
    return lambda folder: (folder / name).write_bytes(data)


BAD = [
    ('missing list document', lambda f: (f / 'Data' / 'Q KV seznam.pdf').unlink(), 'Data\\Q KV seznam.pdf: missing'),
    ('3-byte language file', rewrite('dLangv.dat', b'\1\0\0'), 'dLangv.dat: is 3 bytes'),
    ('language code 9', rewrite('dLangv.dat', struct.pack('<i', 9)), 'dLangv.dat: holds language code 9'),
    ('text as program', rewrite('Orvo Tool.exe', b'just some text\n'), 'Orvo Tool.exe: is not a Windows program'),
    ('empty PDF', rewrite('Data/Kesmark.pdf', b''), 'Data\\Kesmark.pdf: empty'),
    ('not a shell link', rewrite('Orvo_Tool DATA.lnk', b'[InternetShortcut]\r\n'),
     'Orvo_Tool DATA.lnk: is not a shell link'),
]


def bad_distributions_are_refused():
    """Each fault alone: exit status 1, a line naming the file and the fault,
    nothing in OUT_DIR. All at once: every one reported in one run."""
    everything = make_distribution.write(fresh('bad-all'), language=1)
    for what, spoil, message in BAD:
        source = make_distribution.write(fresh('bad'), language=1)
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
    expect(len(errors), len(BAD) - 1, f'problems reported at once ({errors})')  # both dLangv faults, last wins


TESTS = {f.__name__: f for f in (sample_release_is_reproducible, signed_release_verifies_and_holds_the_build,
                                 bad_distributions_are_refused)}

if __name__ == '__main__':
    if len(sys.argv) == 2 and sys.argv[1] == '--list':
        print(';'.join(TESTS))
        sys.exit(0)
    if len(sys.argv) != 2 or sys.argv[1] not in TESTS:
        sys.exit('usage: release_test.py --list | ' + '|'.join(TESTS))
    TESTS[sys.argv[1]]()
    print(f'{sys.argv[1]}: passed')
