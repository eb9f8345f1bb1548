#!/usr/bin/env python3
"""The release of the sample distribution: a byte-identical zip, whatever the
letter case of its files."""
import shutil
import sys

import named
from sample import distribution as sample
from support import BUILD, WORK, expect, fresh, released, run_release

test = named.Tests()


def other_case(folder):
    """The same distribution as a Windows copy may spell it: DATA, KESMARK.PDF."""
    (folder / 'Data').rename(folder / 'DATA')
    (folder / 'DATA' / 'Kesmark.pdf').rename(folder / 'DATA' / 'KESMARK.PDF')
    return folder


@test
def sample_release_is_reproducible():
    """Two releases of the sample distribution, the second spelled in other
    letter case, give byte-identical zips named after the program's version;
    the unused Rakoviny.txt is a note, the exe is the build's, unchanged, and
    the report says that nothing is signed."""
    sources = [sample.write(fresh('sample'), language=1),
               other_case(sample.write(fresh('sample-case'), language=1))]
    zips = []
    for run, source in zip(('first', 'other-case'), sources):
        out = WORK / run
        shutil.rmtree(out, ignore_errors=True)
        proc = run_release(source, out)
        expect(proc.returncode, 0, f'exit status ({proc.stderr})')
        expect('Rakoviny.txt: not used by the installer' in proc.stdout, True, 'Rakoviny note')
        expect('signed: nothing' in proc.stdout, True, f'unsigned in the report: {proc.stdout}')
        zip_path, folder = released(out)
        expect((folder / 'Setup.exe').read_bytes(), BUILD.read_bytes(), 'Setup.exe in the zip')
        zips.append(zip_path.read_bytes())
    expect(zips[0] == zips[1], True, 'the two zips are byte-identical')


if __name__ == '__main__':
    sys.exit(test.main(sys.argv))
