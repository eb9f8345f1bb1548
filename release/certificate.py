"""The signer's certificate, checked before anything is built: its chain
split into the leaf and the intermediates every signature must carry, the
key that belongs to it, its dates, its purpose and its root."""
import base64
import calendar
import hashlib
import re
import ssl
import time
from pathlib import Path

from .common import ReleaseError, run, shown

PEM = re.compile(r'-----BEGIN CERTIFICATE-----\s.*?-----END CERTIFICATE-----\s*', re.S)
PUBLIC_KEY = re.compile(r'-----BEGIN PUBLIC KEY-----.*?-----END PUBLIC KEY-----', re.S)
WARN_DAYS = 30


def system_roots():
    """The roots file openssl uses by default (SSL_CERT_FILE, else the
    system's bundle), named explicitly: osslsigncode has its own default and
    ignores SSL_CERT_FILE."""
    roots = ssl.get_default_verify_paths().cafile
    if not roots:
        raise ReleaseError('no system roots file (SSL_CERT_FILE or the ca-certificates bundle); give --ca ROOT.pem')
    return roots


def fingerprint(pem):
    """SHA-256 of the certificate's DER, as `openssl x509 -fingerprint -sha256` prints it."""
    body = ''.join(line for line in pem.splitlines() if not line.startswith('-----'))
    digest = hashlib.sha256(base64.b64decode(body)).hexdigest().upper()
    return ':'.join(digest[i:i + 2] for i in range(0, len(digest), 2))


def openssl_time(text):
    return calendar.timegm(time.strptime(text.strip(), '%b %d %H:%M:%S %Y %Z'))


def verify_error(lines):
    """openssl verify's reason, not its closing "verification failed"."""
    return next((line.split(' lookup: ', 1)[1] for line in lines if ' lookup: ' in line), lines[-1])


class Certificate:
    """--cert (the leaf first, then any intermediates) and --chain, written
    to `work` as leaf.pem, chain.pem (the intermediates) and full.pem."""

    def __init__(self, cert, chain, work):
        self.path = cert
        certs = PEM.findall(Path(cert).read_text(errors='replace'))
        if not certs:
            raise ReleaseError(f'{shown(cert)}: no PEM certificate in it')
        extra = PEM.findall(Path(chain).read_text(errors='replace')) if chain else []
        if chain and not extra:
            raise ReleaseError(f'{shown(chain)}: no PEM certificate in it')
        self.leaf, self.chain, self.full = (Path(work) / n for n in ('leaf.pem', 'chain.pem', 'full.pem'))
        self.leaf.write_text(certs[0])
        self.chain.write_text(''.join(certs[1:] + extra))
        self.full.write_text(''.join(certs + extra))
        self.intermediates = len(certs) - 1 + len(extra)
        self.fingerprint = fingerprint(certs[0])
        self.subject = self._x509('-subject', '-nameopt', 'compat').split('=', 1)[1].strip()

    def _x509(self, *options):
        return run(['openssl', 'x509', '-in', str(self.leaf), '-noout', *options],
                   f'{shown(self.path)}: openssl cannot read its first certificate')

    def public_key(self):
        return PUBLIC_KEY.search(self._x509('-pubkey')).group(0)

    def check(self, key_public, key_name, roots, now, warn):
        """One line for the first thing wrong with the certificate; a warning
        when it expires soon. A `key_public` of None: the key was checked before."""
        if key_public is not None and key_public != self.public_key():
            raise ReleaseError(f'{key_name} does not match the certificate in {shown(self.path)} '
                               '(their public keys differ; the signer\'s certificate comes first in --cert)')
        dates = dict(line.split('=', 1) for line in self._x509('-startdate', '-enddate').splitlines() if '=' in line)
        start, end = openssl_time(dates['notBefore']), openssl_time(dates['notAfter'])
        if now < start:
            raise ReleaseError(f'{shown(self.path)}: not valid before {dates["notBefore"]}')
        if now >= end:
            raise ReleaseError(f'{shown(self.path)}: expired on {dates["notAfter"]}')
        if warn and end - now < WARN_DAYS * 86400:
            print(f'warning: {shown(self.path)} expires on {dates["notAfter"]}, in {(end - now) // 86400} day(s)')
        usage = self._x509('-ext', 'extendedKeyUsage').splitlines()[1:]
        if 'Code Signing' not in ', '.join(u.strip() for u in usage).split(', '):
            purposes = ', '.join(u.strip() for u in usage) or 'none'
            raise ReleaseError(f'{shown(self.path)}: not for code signing (extended key usage: {purposes})')
        chain = ['-untrusted', str(self.chain)] if self.intermediates else []
        hint = '' if self.intermediates else '; its intermediates go after it in --cert, or in --chain'
        run(['openssl', 'verify', '-CAfile', roots, *chain, str(self.leaf)],
            f'{shown(self.path)} does not chain to {shown(roots)}{hint}', why=verify_error)
