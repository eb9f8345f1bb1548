"""RFC 3161 timestamps: the programs' as osslsigncode reports them, and
SHA256SUMS.tsr asked of the same authority. Each must verify against the
authority's root (--tsa-ca) before the release counts."""
import re
import urllib.error
import urllib.request

from .certificate import PEM
from .common import ReleaseError, run, shown

REQUEST_SECONDS = 60


def program_timestamp(verify_output, name, tsa_roots):
    """(time, authority) of the timestamp in osslsigncode verify's output,
    or None when the signature has none. osslsigncode exits 0 and prints
    "Succeeded" even when the timestamp fails, so its own lines decide."""
    lines = [line.strip() for line in verify_output.splitlines()]
    when = next((line.split(':', 1)[1].strip() for line in lines if line.startswith('Timestamp time:')), None)
    if when is None:
        return None
    if 'Timestamp Server Signature verification: ok' not in lines:
        reason = next((line.split(':', 1)[1].strip() for line in lines if line.startswith('Error:')), 'failed')
        raise ReleaseError(f'the timestamp of {name} does not verify against {shown(tsa_roots)} '
                           f'(osslsigncode: {reason})')
    used = verify_output.split('Timestamp verified using:', 1)[1].split('Timestamp Server Signature', 1)[0]
    subjects = re.findall(r'Subject: (.*)', used)
    return when, subjects[-1].strip() if subjects else 'unknown'


def timestamp_sums(url, sums, tsr, tsa_roots, work):
    """Writes the authority's token over `sums` to `tsr`, verified; returns (time, authority)."""
    query, token = work / 'sums.tsq', work / 'sums.tst'
    run(['openssl', 'ts', '-query', '-data', str(sums), '-sha256', '-cert', '-out', str(query)],
        'cannot make the timestamp request for SHA256SUMS')
    request = urllib.request.Request(url, data=query.read_bytes(),
                                     headers={'Content-Type': 'application/timestamp-query'})
    try:
        with urllib.request.urlopen(request, timeout=REQUEST_SECONDS) as reply:
            tsr.write_bytes(reply.read())
    except urllib.error.URLError as e:
        raise ReleaseError(f'the timestamp authority {url} gave no timestamp for SHA256SUMS '
                           f'({getattr(e, "reason", e)})') from None
    except OSError as e:
        raise ReleaseError(f'the timestamp authority {url} gave no timestamp for SHA256SUMS ({e})') from None
    run(['openssl', 'ts', '-verify', '-data', str(sums), '-in', str(tsr), '-CAfile', tsa_roots],
        f'the timestamp of SHA256SUMS from {url} does not verify against {shown(tsa_roots)}')
    text = run(['openssl', 'ts', '-reply', '-in', str(tsr), '-text'], 'cannot read SHA256SUMS.tsr')
    when = next(line.split(':', 1)[1].strip() for line in text.splitlines() if line.startswith('Time stamp:'))
    run(['openssl', 'ts', '-reply', '-in', str(tsr), '-token_out', '-out', str(token)], 'cannot read SHA256SUMS.tsr')
    certs = run(['openssl', 'pkcs7', '-inform', 'DER', '-in', str(token), '-print_certs'],
                'cannot read SHA256SUMS.tsr')
    first = PEM.search(certs)
    if not first:
        return when, 'unknown'
    # The authority as osslsigncode names it for the programs: /CN=...
    (work / 'tsa.pem').write_text(first.group(0))
    subject = run(['openssl', 'x509', '-in', str(work / 'tsa.pem'), '-noout', '-subject', '-nameopt', 'compat'],
                  'cannot read SHA256SUMS.tsr').split('=', 1)[1].strip()
    return when, subject
