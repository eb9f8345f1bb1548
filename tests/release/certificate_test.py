#!/usr/bin/env python3
"""The certificate's mistakes, each stopped by release.sh before the build with
one line."""
import subprocess
import sys

import named
from sample import distribution as sample
from support import CODE_SIGNING, commit_of_this_tree, expect, fresh, issue, signing_args, throwaway_ca

test = named.Tests()


@test
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


if __name__ == '__main__':
    sys.exit(test.main(sys.argv))
