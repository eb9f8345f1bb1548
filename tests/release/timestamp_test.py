#!/usr/bin/env python3
"""Timestamps from a local authority: a release that outlives its certificate,
and programs signed at input kept only when signer and timestamp verify."""
import http.server
import os
import shutil
import subprocess
import sys
import threading
import time

import named
import support
from sample import distribution as sample
from support import (CODE_SIGNING, TOP, WORK, customer_checks, expect, fresh, issue, openssl_fingerprint, run_release,
                     signing_args, throwaway_ca)

test = named.Tests()


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


@test
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
    support.EPOCH = str(int(os.stat(keys / 'day.pem').st_mtime))
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


@test
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


if __name__ == '__main__':
    sys.exit(test.main(sys.argv))
