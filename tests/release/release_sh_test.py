#!/usr/bin/env python3
"""release.sh in a commit of this tree: the reproducible build alone signed,
the report and BUILDINFO agreeing, an edited tracked file refused."""
import os
import shutil
import subprocess
import sys
import time

import named
import support
from release.common import sha256
from release.pe import authenticode_sha256
from sample import distribution as sample
from support import (BUILD, WORK, commit_of_this_tree, expect, fresh, pipe_holding, released, signing_args,
                     throwaway_ca)

test = named.Tests()


def build_info(folder):
    return [tuple(line.split(': ', 1)) for line in (folder / 'BUILDINFO').read_text().splitlines()]


@test
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
    when = time.strftime('%Y-%m-%d %H:%M:%S UTC', time.gmtime(int(support.EPOCH)))
    expect(proc.stdout.splitlines()[:2], [f'commit: {commit}', f'SOURCE_DATE_EPOCH: {support.EPOCH} ({when})'],
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


if __name__ == '__main__':
    sys.exit(test.main(sys.argv))
