#!/usr/bin/env python3
"""The release signed through a PKCS#11 token: the same bytes as with the key
file, and the PIN file's and the token's faults."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import named
from sample import distribution as sample
from support import WORK, expect, fresh, pipe_holding, released, run_release, signing_args, throwaway_ca

test = named.Tests()


@test
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


if __name__ == '__main__':
    sys.exit(test.main(sys.argv))
