"""Signing for the release command: Authenticode with osslsigncode, the
detached CMS signature of SHA256SUMS with openssl, keys in files or on a
PKCS#11 token. Never a prompt and never the network: every tool runs without
a terminal, and revocation is checked only against a CRL file given."""
import os
import shutil
import stat
import subprocess
import time
from pathlib import Path

from release_certificate import PUBLIC_KEY, Certificate, fingerprint, system_roots
from release_common import ReleaseError, run, shown
from release_distribution import PROGRAMS
from release_pe import authenticode_sha256, is_signed


def offline_flags(crl=None):
    """osslsigncode verify's flags for checking offline, against `crl` if
    given. 2.6 to 2.8 fetch the CRLs a certificate names; 2.8 can be told to
    skip them (-ignore-cdp) and 2.9 to check none (-ignore-crl). 2.5 and
    older never fetch them, and know neither flag."""
    usage = subprocess.run(['osslsigncode', '--help'], stdin=subprocess.DEVNULL, capture_output=True,
                           text=True, start_new_session=True).stdout
    skip_fetch = ['-ignore-cdp'] if '-ignore-cdp' in usage else []
    if crl:
        return ['-CRLfile', crl] + skip_fetch
    return ['-ignore-crl'] if '-ignore-crl' in usage else skip_fetch


def readable_by_others(path):
    return os.stat(path).st_mode & (stat.S_IRGRP | stat.S_IROTH)


class Signer:
    """One signing identity: certificate, key (file or token URI), PIN or passphrase file."""

    def __init__(self, args, work, warn=True):
        self.key, self.ca, self.crl, self.work = args.key, args.ca, args.crl, Path(work)
        self.pass_file, self.timestamp, self.module = args.pass_file, args.timestamp, args.pkcs11_module
        self.token = self.key.startswith('pkcs11:')
        given = (args.cert, args.chain, self.ca, self.crl, self.pass_file, self.module)
        for path in given + (() if self.token else (self.key,)):
            if path and not os.path.isfile(path):
                raise ReleaseError(f'{shown(path)}: no such file')
        if self.token:
            self._token_setup(work)
        elif self.module:
            raise ReleaseError('--pkcs11-module goes with a --key of the form pkcs11:token=...;object=...')
        for path in ([] if self.token else [self.key]) + ([self.pass_file] if self.pass_file else []):
            if warn and readable_by_others(path):
                print(f'warning: {shown(path)} can be read by group or others; chmod 600 it')
        self.offline = offline_flags(self.crl)
        self.roots = self.ca or system_roots()
        self.cert = Certificate(args.cert, args.chain, work)
        self.cert.check(self._public_key(), shown(self.key), self.roots, int(time.time()), warn)

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

    def _openssl(self, cmd, failure):
        env = dict(os.environ, OPENSSL_CONF=str(self.openssl_conf)) if self.token else None
        return run(['openssl', *cmd], failure, env)

    def _key_args(self):
        key = ['-inkey', self.key] + (['-keyform', 'engine', '-engine', 'pkcs11'] if self.token else [])
        return key + ['-passin', f'file:{self.pass_file}' if self.pass_file else 'pass:']

    def _public_key(self):
        """The key's public half, PEM; opening it proves the PIN or passphrase."""
        if self.token:
            cmd = ['pkey', '-engine', 'pkcs11', '-inform', 'engine', '-in', self.key,
                   '-passin', f'file:{self.pass_file}', '-pubout']
            failure = f'cannot open {self.key} on the token with the PIN in {shown(self.pass_file)}'
        else:
            cmd = ['pkey', '-in', self.key, '-passin', f'file:{self.pass_file}' if self.pass_file else 'pass:',
                   '-pubout']
            failure = (f'cannot decrypt {shown(self.key)} with the passphrase in {shown(self.pass_file)}'
                       if self.pass_file else f'cannot open {shown(self.key)} without a passphrase; give --pass-file')
        try:
            found = PUBLIC_KEY.search(self._openssl(cmd, failure))
        except ReleaseError:
            raise ReleaseError(failure) from None
        if not found:
            raise ReleaseError(failure)
        return found.group(0)

    def revocation(self):
        if self.crl:
            return f'checked against {shown(self.crl)}'
        flag = ' '.join(self.offline) or 'this osslsigncode fetches no CRL'
        return f'not checked (no --crl; {flag})'

    def sign(self, exe, description, epoch, out):
        cmd = ['osslsigncode', 'sign', '-certs', str(self.cert.full), '-key', self.key, '-h', 'sha256',
               '-n', description,
               '-time', str(epoch), '-in', str(exe), '-out', str(out)]
        if self.token:
            # osslsigncode 2.5 fails to load the engine from a path given with
            # -pkcs11engine; by its id, from OpenSSL's engine folder, 2.5 and 2.9 both do.
            cmd[2:2] = ['-pkcs11module', self.module]
        if self.pass_file:
            cmd[2:2] = ['-readpass', self.pass_file]
        if self.timestamp:
            cmd[2:2] = ['-ts', self.timestamp]
        run(cmd, f'signing {description}.exe failed')

    def verify(self, exe, name):
        """The signer's subject of a signature that verifies offline."""
        cmd = ['osslsigncode', 'verify', '-in', str(exe), '-CAfile', self.roots, *self.offline]
        out = run(cmd, f'the signature of {name} does not verify' + ('' if self.ca else ' against the system\'s roots'))
        return next((line.split(':', 1)[1].strip() for line in out.splitlines()
                     if line.strip().startswith('Subject:')), 'unknown')

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
