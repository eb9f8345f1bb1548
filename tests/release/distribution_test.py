#!/usr/bin/env python3
"""A distribution folder against the plan: each fault refused, with one line
naming the file, and every fault at once in one run."""
import os
import shutil
import struct
import sys
from pathlib import Path

import named
from sample import distribution as sample
from support import WORK, expect, fresh, rewrite, run_release

test = named.Tests()


def link(name, to):
    def spoil(folder):
        target = folder.parent / f'{folder.name}-elsewhere' / to
        target.parent.mkdir(exist_ok=True)
        (folder / name).rename(target)
        (folder / name).symlink_to(target)
    return spoil


BAD = [
    ('missing list document', lambda f: (f / 'Data' / 'Q KV seznam.pdf').unlink(), 'Data\\Q KV seznam.pdf: missing'),
    ('3-byte language file', rewrite('dLangv.dat', b'\1\0\0'), 'dLangv.dat: is 3 bytes'),
    ('language code 9', rewrite('dLangv.dat', struct.pack('<i', 9)), 'dLangv.dat: holds language code 9'),
    ('language code as text', rewrite('dLangv.dat', b'01\r\n'), "dLangv.dat: holds the text b'01\\r\\n' where a 4-byte"),
    ('text as program', rewrite('Orvo Tool.exe', b'just some text\n'), 'Orvo Tool.exe: is not a Windows program'),
    ('empty PDF', rewrite('Data/Kesmark.pdf', b''), 'Data\\Kesmark.pdf: empty'),
    ('not a shell link', rewrite('Orvo_Tool DATA.lnk', b'[InternetShortcut]\r\n'),
     'Orvo_Tool DATA.lnk cannot be read by liblnk'),
    ('program as a link', link('Orvo Tool.exe', 'tool.exe'), 'Orvo Tool.exe: is a symbolic link to /'),
    ('name not UTF-8', lambda f: Path(os.fsdecode(bytes(f / 'Data') + b'/P\xf8ehled.pdf')).write_bytes(b'%PDF-1.4'),
     'Data\\P\\xf8ehled.pdf: the name is not UTF-8'),
]


@test
def bad_distributions_are_refused():
    """Each fault alone: exit status 1, a line naming the file and the fault,
    nothing in OUT_DIR. All at once: every one reported in one run."""
    everything = sample.write(fresh('bad-all'), language=1)
    for what, spoil, message in BAD:
        source = sample.write(fresh('bad'), language=1)
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
    expect(len(errors), len(BAD) - 3, f'problems reported at once ({errors})')  # per file, the last fault wins


if __name__ == '__main__':
    sys.exit(test.main(sys.argv))
