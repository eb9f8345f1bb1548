#!/usr/bin/env python3
"""OUT_DIR all or nothing: a signal while signing, a write that fails, a
version that cannot name a file; each leaves OUT_DIR as found."""
import os
import resource
import shutil
import signal
import sys

import named
from sample import distribution as sample
from support import WORK, expect, fresh, run_release, signing_args, throwaway_ca

test = named.Tests()


def signal_sending(tool, signum, folder):
    """`tool` first on PATH, which sends `signum` to the release when it signs SHA256SUMS."""
    real = shutil.which(tool)
    stand_in = folder / tool
    stand_in.write_text(f"""#!/bin/sh
case " $* " in *" -sign "*) kill -{signum.name[3:]} $PPID; sleep 5 ;; esac
exec {real} "$@"
""")
    stand_in.chmod(0o755)
    return dict(os.environ, PATH=f'{folder}:{os.environ["PATH"]}')


@test
def signals_leave_out_dir_as_found():
    """SIGTERM, SIGHUP or Ctrl+C while SHA256SUMS is being signed: one error
    line naming the signal, no traceback, OUT_DIR as found."""
    ca = throwaway_ca(fresh('signal-keys'))
    source = sample.write(fresh('signal-source'), language=1)
    for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        env = signal_sending('openssl', signum, fresh('signal-bin'))
        for before in ('none', 'empty'):
            out = WORK / 'signal-out'
            shutil.rmtree(out, ignore_errors=True)
            if before == 'empty':
                out.mkdir()
            proc = run_release(source, out, *signing_args(ca), env=env, timeout=60)
            what = f'{signum.name}, OUT_DIR {before}'
            expect((proc.returncode, proc.stderr), (128 + signum, f'error: stopped by {signum.name}; nothing was '
                                                                  'released, OUT_DIR is as it was found\n'), what)
            expect(sorted(os.listdir(out)) if out.exists() else None, [] if before == 'empty' else None,
                   f'{what}: OUT_DIR as found')

def write_limit(size):
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


def big_pdf(folder):
    """A PDF that does not compress: the zip outgrows every file it holds."""
    (folder / 'Data' / 'Kesmark.pdf').write_bytes(b'%PDF-1.4\n' + os.urandom(400_000))


def no_version(folder):
    (folder / 'Orvo Tool.exe').write_bytes(sample.placeholder_exe('Orvo Tool.exe'))


def product_version(version):
    return lambda folder: (folder / 'Orvo Tool.exe').write_bytes(
        sample.placeholder_exe('Orvo Tool.exe', version))


def stand_in_data(folder):
    elsewhere = folder.parent / 'data-elsewhere'
    shutil.rmtree(elsewhere, ignore_errors=True)
    (folder / 'Data').rename(elsewhere)
    (folder / 'Data').symlink_to(elsewhere)


OUT_CASES = [  # what, spoil the source, OUT_DIR before, options, limit, message
    ('OUT_DIR is a file', None, 'file', [], None, 'not a folder'),
    ('a write fails in OUT_DIR', big_pdf, 'empty', [], write_limit(450_000), 'failed (File too large); it is left'),
    ('Data is a link', stand_in_data, 'none', [], None, 'Data: is a symbolic link to /'),
    ('--version with a slash', None, 'none', ['--version', '../4.3'], None, "--version '../4.3' cannot name a file"),
    ('--version with a slash inside', None, 'none', ['--version', '4.3/x'], None,
     "--version '4.3/x' cannot name a file"),
    ('no version resource', no_version, 'none', [], None, 'no version resource; give the version with --version'),
    ('--version 4.4 against ProductVersion 4.3.1.0', product_version('4.3.1.0'), 'none', ['--version', '4.4'], None,
     '--version 4.4 is not the ProductVersion of Orvo Tool.exe, 4.3.1.0'),
]


@test
def failures_leave_out_dir_as_found():
    """Failures outside the distribution's files: one error line, no
    traceback, and OUT_DIR exactly as it was before the run."""
    for what, spoil, before, options, limit, message in OUT_CASES:
        source = sample.write(fresh('out-source'), language=1)
        if spoil:
            spoil(source)
        out = WORK / 'out-case'
        shutil.rmtree(out, ignore_errors=True)
        out.unlink(missing_ok=True)
        if before == 'file':
            out.write_text('not a folder\n')
        elif before == 'empty':
            out.mkdir()
        proc = run_release(source, out, *options, preexec_fn=limit)
        expect(proc.returncode, 1, f'{what}: exit status ({proc.stderr})')
        lines = proc.stderr.splitlines()
        expect(len(lines) == 1 and lines[0].startswith('error: ') and message in lines[0], True, f'{what}: {lines}')
        after = {'file': out.is_file() and out.read_text() == 'not a folder\n',
                 'empty': out.is_dir() and not any(out.iterdir()), 'none': not out.exists()}[before]
        expect(after, True, f'{what}: OUT_DIR as found')


if __name__ == '__main__':
    sys.exit(test.main(sys.argv))
