"""Signing for the release command: Authenticode with osslsigncode, the
detached CMS signature of SHA256SUMS with openssl, keys in files or on a
PKCS#11 token. Never a prompt, and the network only for --timestamp: every
tool runs without a terminal, and revocation is checked only against a CRL
file given (where the installed osslsigncode can be kept from fetching)."""
import functools
import os
import re
import shutil
import stat
import subprocess
import time
from pathlib import Path

from .certificate import PUBLIC_KEY, Certificate, fingerprint, system_roots
from .common import SECRET_FD, ReleaseError, run, shown
from .distribution import PROGRAMS
from .pe import authenticode_sha256, is_signed
from .timestamp import program_timestamp, timestamp_sums


@functools.lru_cache(maxsize=None)
def osslsigncode_probe():
    """(version as a tuple, usage text) of the installed osslsigncode."""
    def output(option):
        return subprocess.run(['osslsigncode', option], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              start_new_session=True).stdout
    found = re.search(r'osslsigncode (\d+)\.(\d+)', output('--version'))
    return (tuple(map(int, found.groups())) if found else (0, 0)), output('--help')


def offline_flags(crl=None):
    """osslsigncode verify's flags for checking offline, against `crl` if
    given. 2.6 to 2.8 fetch the CRLs a certificate names; 2.8 can be told to
    skip them (-ignore-cdp) and 2.9 to check none (-ignore-crl). 2.5 and
    older never fetch them, and know neither flag."""
    usage = osslsigncode_probe()[1]
    skip_fetch = ['-ignore-cdp'] if '-ignore-cdp' in usage else []
    if crl:
        return ['-CRLfile', crl] + skip_fetch
    return ['-ignore-crl'] if '-ignore-crl' in usage else skip_fetch


def revocation_line(crl, flags, version):
    """What the report says of revocation, true for each osslsigncode version."""
    fetches = version >= (2, 6) and '-ignore-cdp' not in flags and '-ignore-crl' not in flags
    shown_version = '.'.join(map(str, version))
    if crl:
        also = (f'; osslsigncode {shown_version} also fetched the CRLs the certificates name, '
                'and has no flag to stop it') if fetches else ''
        return f'checked against {shown(crl)}{also}'
    if fetches:
        return (f'checked against the CRLs the certificates name, fetched over the network '
                f'(no --crl; osslsigncode {shown_version} has no flag to stop it)')
    flag = ' '.join(flags) or f'osslsigncode {shown_version} fetches no CRL'
    return f'not checked (no --crl; {flag})'


def readable_by_others(path):
    return os.stat(path).st_mode & (stat.S_IRGRP | stat.S_IROTH)


def read_secret(path):
    """The PIN or passphrase in `path`, a file or a pipe, read once. openssl
    keeps a carriage return or trailing blank as part of the secret, where
    osslsigncode drops the carriage return: on a token each such try counts
    as a wrong PIN, so such a file is refused before any login."""
    if os.path.isdir(path):
        raise ReleaseError(f'{shown(path)}: a folder, not a PIN or passphrase file')
    data = Path(path).read_bytes()
    line = data[:-1] if data.endswith(b'\n') else data
    problems = [(b'\r' in data, 'holds a carriage return (\\r, a Windows line end); save it with a plain \\n line end'),
                (b'\n' in line, 'holds more than one line; put the PIN or passphrase alone on one line'),
                (line != line.rstrip(b' \t'), 'ends in a blank (space or tab) that openssl would take as part of it'),
                (not line, 'is empty')]
    problem = next((text for found, text in problems if found), None)
    if problem:
        raise ReleaseError(f'{shown(path)}: {problem}; no login was tried')
    try:
        return line.decode('utf-8')
    except UnicodeDecodeError:
        raise ReleaseError(f'{shown(path)}: not UTF-8 text; no login was tried') from None


def leaf_hash(fingerprint_text):
    return 'sha256:' + fingerprint_text.replace(':', '').lower()


class Signer:
    """One signing identity: certificate, key (file or token URI), PIN or passphrase file."""

    def __init__(self, args, work, warn=True, key_checked=False):
        self.key, self.ca, self.crl, self.work = args.key, args.ca, args.crl, Path(work)
        self.pass_file, self.timestamp, self.module = args.pass_file, args.timestamp, args.pkcs11_module
        self.allowed = args.allow_signer
        self.token = self.key.startswith('pkcs11:')
        given = (args.cert, args.chain, self.ca, self.crl, args.tsa_ca, self.module)
        for path in given + (() if self.token else (self.key,)):
            if path and not os.path.isfile(path):
                raise ReleaseError(f'{shown(path)}: no such file')
        if self.pass_file and not os.path.exists(self.pass_file):
            raise ReleaseError(f'{shown(self.pass_file)}: no such file')
        self.secret = read_secret(self.pass_file) if self.pass_file else None
        if self.token:
            self._token_setup(work)
        elif self.module:
            raise ReleaseError('--pkcs11-module goes with a --key of the form pkcs11:token=...;object=...')
        for path in ([] if self.token else [self.key]) + ([self.pass_file] if self.pass_file else []):
            if warn and readable_by_others(path):
                print(f'warning: {shown(path)} can be read by group or others; chmod 600 it')
        self.offline = offline_flags(self.crl)
        self.roots = self.ca or system_roots()
        self.tsa_roots = args.tsa_ca or system_roots()
        self.cert = Certificate(args.cert, args.chain, work)
        # release.sh's preflight opened the key already: on a token each
        # opening is one more login.
        key_public = None if key_checked else self._public_key()
        self.cert.check(key_public, shown(self.key), self.roots, int(time.time()), warn)
        if not self.token:
            self._refuse_plain_key()

    def _token_setup(self, work):
        if 'pin-value' in self.key.lower():
            raise ReleaseError('the PIN goes in --pass-file, never in the pkcs11: URI')
        if not self.module or not self.pass_file:
            raise ReleaseError('a pkcs11: key needs --pkcs11-module (the token\'s library) and --pass-file (its PIN)')
        engines = run(['openssl', 'version', '-e'], 'openssl has no engine folder').split('"')[1]
        self.engine = Path(engines) / 'pkcs11.so'
        if not self.engine.is_file():
            raise ReleaseError(f'{self.engine}: missing; install the Debian package libengine-pkcs11-openssl')
        # openssl takes the engine's module from a configuration file only.
        self.openssl_conf = Path(work) / 'openssl-pkcs11.cnf'
        self.openssl_conf.write_text(
            'openssl_conf = init\n[init]\nengines = engines\n[engines]\npkcs11 = pkcs11\n'
            f'[pkcs11]\nengine_id = pkcs11\ndynamic_path = {self.engine}\nMODULE_PATH = {self.module}\ninit = 0\n')

    def _refuse_plain_key(self):
        """A key file that opens without a passphrase signs for whoever copies it."""
        opened = subprocess.run(['openssl', 'pkey', '-in', self.key, '-passin', 'pass:', '-noout'],
                                stdin=subprocess.DEVNULL, capture_output=True, start_new_session=True)
        if opened.returncode == 0:
            raise ReleaseError(f'{shown(self.key)}: the key file is not encrypted; encrypt it (openssl pkey -in '
                               f'{shown(self.key)} -aes256 -out KEY-encrypted.pem) and give its passphrase with '
                               '--pass-file')

    def _openssl(self, cmd, failure):
        env = dict(os.environ, OPENSSL_CONF=str(self.openssl_conf)) if self.token else None
        return run(['openssl', *cmd], failure, env, secret=self.secret)

    def _passin(self):
        return ['-passin', f'fd:{SECRET_FD}' if self.secret is not None else 'pass:']

    def _key_args(self):
        key = ['-inkey', self.key] + (['-keyform', 'engine', '-engine', 'pkcs11'] if self.token else [])
        return key + self._passin()

    def _public_key(self):
        """The key's public half, PEM; opening it proves the PIN or passphrase."""
        if self.token:
            cmd = ['pkey', '-engine', 'pkcs11', '-inform', 'engine', '-in', self.key, *self._passin(), '-pubout']
            failure = f'cannot open {self.key} on the token with the PIN in {shown(self.pass_file)}'
        else:
            cmd = ['pkey', '-in', self.key, *self._passin(), '-pubout']
            failure = (f'cannot decrypt {shown(self.key)} with the passphrase in {shown(self.pass_file)}'
                       if self.pass_file else f'cannot open {shown(self.key)} without a passphrase; give --pass-file')
        # The tool's reason stays: a wrong PIN, a locked one and a missing
        # token call for different acts.
        found = PUBLIC_KEY.search(self._openssl(cmd, failure))
        if not found:
            raise ReleaseError(failure)
        return found.group(0)

    def revocation(self):
        return revocation_line(self.crl, self.offline, osslsigncode_probe()[0])

    def sign(self, exe, description, epoch, out):
        cmd = ['osslsigncode', 'sign', '-certs', str(self.cert.full), '-key', self.key, '-h', 'sha256',
               '-n', description,
               '-time', str(epoch), '-in', str(exe), '-out', str(out)]
        if self.token:
            # osslsigncode 2.5 fails to load the engine from a path given with
            # -pkcs11engine; by its id, from OpenSSL's engine folder, 2.5 and 2.9 both do.
            cmd[2:2] = ['-pkcs11module', self.module]
        if self.secret is not None:
            cmd[2:2] = ['-readpass', f'/dev/fd/{SECRET_FD}']
        if self.timestamp:
            cmd[2:2] = ['-ts', self.timestamp]
        run(cmd, f'signing {description}.exe failed', secret=self.secret)

    def verify(self, exe, name, leaf=None):
        """(the signer's subject, the timestamp's (time, authority) or None)
        of a signature that verifies offline, its timestamp against the
        authority's root; by the certificate of fingerprint `leaf` if given."""
        cmd = ['osslsigncode', 'verify', '-in', str(exe), '-CAfile', self.roots, '-TSA-CAfile', self.tsa_roots,
               *self.offline] + (['-require-leaf-hash', leaf_hash(leaf)] if leaf else [])
        out = run(cmd, f'the signature of {name} does not verify' + ('' if self.ca else ' against the system\'s roots'))
        subject = next((line.split(':', 1)[1].strip() for line in out.splitlines()
                        if line.strip().startswith('Subject:')), 'unknown')
        return subject, program_timestamp(out, name, self.tsa_roots)

    def signed_by(self, exe, name):
        """Who signed a program given signed: --cert's certificate, or the
        one --allow-signer names; anyone else is refused."""
        for leaf, who in ((self.cert.fingerprint, '--cert'), (self.allowed, '--allow-signer')):
            if not leaf:
                continue
            try:
                self.verify(exe, name, leaf)
                return who
            except ReleaseError:
                pass
        raise ReleaseError(f'{name} is signed at input by another certificate than --cert '
                           f'({self.cert.fingerprint}); sign it with that certificate, or name its signer\'s '
                           'SHA-256 fingerprint with --allow-signer')

    def timestamp_sums(self, sums, tsr):
        return timestamp_sums(self.timestamp, sums, tsr, self.tsa_roots, self.work)

    def sign_sums(self, sums, out):
        """SHA256SUMS.p7s: detached, DER, SHA-256, the signer's certificate
        and its intermediates in it. No signed attributes, so no signing
        time: the same sums and key give the same bytes. Verified as a
        customer does: against the roots alone, the signer being ours."""
        chain = ['-certfile', str(self.cert.chain)] if self.cert.intermediates else []
        self._openssl(['cms', '-sign', '-binary', '-noattr', '-md', 'sha256', '-in', str(sums),
                       '-signer', str(self.cert.leaf), *chain, *self._key_args(), '-outform', 'DER', '-out', str(out)],
                      'signing SHA256SUMS failed')
        signer = self.work / 'p7s-signer.pem'
        try:
            run(['openssl', 'cms', '-verify', '-binary', '-inform', 'DER', '-in', str(out), '-content', str(sums),
                 '-purpose', 'any', '-CAfile', self.roots, '-signer', str(signer), '-out', os.devnull],
                f'SHA256SUMS.p7s does not verify against {shown(self.roots)}')
            if fingerprint(signer.read_text()) != self.cert.fingerprint:
                raise ReleaseError('SHA256SUMS.p7s names another signer than --cert')
        finally:
            signer.unlink(missing_ok=True)

def sign_programs(signer, folder, epoch, work):
    """Signs each unsigned program as Setup.exe is signed; keeps a signed one
    byte for byte once it verifies and its signer is --cert's or the allowed
    one. Returns {name: (how, subject, digest, timestamp or None)}."""
    done = {}
    for name in PROGRAMS + ('Setup.exe',):
        exe = folder / name
        data = exe.read_bytes()
        if is_signed(data):
            subject, stamp = signer.verify(exe, name)
            done[name] = (f'kept, signed at input by {signer.signed_by(exe, name)}', subject,
                          authenticode_sha256(data), stamp)
            continue
        signed = work / 'signed.exe'
        signer.sign(exe, name[:-len('.exe')], epoch, signed)
        subject, stamp = signer.verify(signed, name)
        if signer.timestamp and not stamp:
            raise ReleaseError(f'osslsigncode put no timestamp on {name} from {signer.timestamp}')
        before, after = authenticode_sha256(data), authenticode_sha256(signed.read_bytes())
        if before != after:
            raise ReleaseError(f'the signed {name} holds other code: Authenticode digest {after}, '
                               f'before signing {before}')
        shutil.move(signed, exe)
        done[name] = ('signed here', subject, after, stamp)
    return done
