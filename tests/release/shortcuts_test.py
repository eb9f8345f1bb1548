#!/usr/bin/env python3
"""The shortcuts read with liblnk: the sample's read back, and one that leads
anywhere but its own installed target refused."""
import struct
import subprocess
import sys

import named
from sample import distribution as sample
from support import expect, fresh, rewrite, run_release

test = named.Tests()


# What liblnk must read back from the sample's shortcuts: local path, working
# folder, icon location and index, file attributes (archive; directory).
SAMPLE_SHORTCUTS = [
    ('Orvo Tool.lnk', 'C:\\Orvo_Tool\\Orvo Tool.exe', 'C:\\Orvo_Tool', 'C:\\Orvo_Tool\\Orvo Tool.exe', 0, 0x20),
    ('Orvo_Tool DATA.lnk', 'C:\\Orvo_Tool Data', None, None, 0, 0x10),
]


@test
def sample_shortcuts_read_back_through_liblnk():
    """The sample distribution's shortcuts, as liblnk reads them (python3-liblnk
    and liblnk-utils' lnkinfo): the installed program with its folder and
    icon, and the data folder."""
    import pylnk
    folder = sample.write(fresh('shortcuts-sample'), language=1)
    for name, target, working_dir, icon, index, attributes in SAMPLE_SHORTCUTS:
        link = pylnk.file()
        link.open(str(folder / name))
        read = (link.local_path, link.working_directory, link.icon_location, link.icon_index,
                link.file_attribute_flags, link.network_path, link.relative_path, link.link_target_identifier_data)
        expect(read, (target, working_dir, icon, index, attributes, None, None, None), f'{name} through pylnk')
        shown = subprocess.run(['lnkinfo', str(folder / name)], capture_output=True, text=True)
        expect((shown.returncode, f'Local path\t\t\t: {target}' in shown.stdout), (0, True), f'{name} through lnkinfo')


def shortcut(name, **link):
    return rewrite(name, sample.shell_link(**link))


TOOL = 'C:\\Orvo_Tool\\Orvo Tool.exe'
SHORTCUT_CASES = [  # what, spoil the source, the one error line (None: released, with this report line)
    ('made on a build machine', shortcut('Orvo Tool.lnk', target='D:\\build\\Orvo Tool.exe'),
     f'Orvo Tool.lnk points to D:\\build\\Orvo Tool.exe, not {TOOL}'),
    ('pointing at the companion', shortcut('Orvo Tool.lnk', target='C:\\Orvo_Tool\\Orvo Dustrel.exe'),
     f'Orvo Tool.lnk points to C:\\Orvo_Tool\\Orvo Dustrel.exe, not {TOOL}'),
    ('the data folder\'s pointing at the program', shortcut('Orvo_Tool DATA.lnk', target=TOOL, folder=True),
     f'Orvo_Tool DATA.lnk points to {TOOL}, not C:\\Orvo_Tool Data'),
    ('on a network share', shortcut('Orvo Tool.lnk', target='Orvo Tool.exe', share='\\\\build\\share'),
     'Orvo Tool.lnk points to the network path \\\\build\\share\\Orvo Tool.exe, which a customer\'s machine '
     'cannot reach'),
    ('unreadable (the old 51-byte placeholder)',
     rewrite('Orvo Tool.lnk', struct.pack('<I', 0x4C) + sample.SHELL_LINK_CLSID
             + b' placeholder for Orvo Tool.lnk\n'),
     'Orvo Tool.lnk cannot be read by liblnk (unable to read file header data)'),
    ('a relative path only', shortcut('Orvo Tool.lnk', relative='..\\Orvo_Tool\\Orvo Tool.exe'),
     'Orvo Tool.lnk gives only the relative path ..\\Orvo_Tool\\Orvo Tool.exe, which a shortcut on the desktop '
     'cannot follow to the installation'),
    ('a variable of the build machine', shortcut('Orvo Tool.lnk', target=TOOL,
                                                  environment='%USERPROFILE%\\Orvo_Tool\\Orvo Tool.exe'),
     'Orvo Tool.lnk uses the variable %USERPROFILE%, which is not known before installation; only %SystemDrive% is'),
    ('%SystemDrive% and other letter case', shortcut('Orvo Tool.lnk', target='c:\\ORVO_TOOL\\orvo tool.EXE',
                                                       environment='%SYSTEMDRIVE%\\Orvo_Tool\\Orvo Tool.exe',
                                                       working_dir='C:\\Orvo_Tool'),
     None),
]


@test
def shortcuts_must_lead_to_their_installed_targets():
    """Each shortcut is read with liblnk: one leading anywhere but its own
    installed target is refused with one line naming what it found and what
    was expected, and OUT_DIR stays empty. %SystemDrive% is C:, letter case
    does not count, and the report shows every shortcut's target, working
    folder and icon."""
    for what, spoil, message in SHORTCUT_CASES:
        source = sample.write(fresh('shortcut-source'), language=1)
        spoil(source)
        out = fresh('shortcut-out')
        proc = run_release(source, out)
        if message is None:
            expect(proc.returncode, 0, f'{what}: exit status ({proc.stderr})')
            lines = [line for line in proc.stdout.splitlines() if line.startswith('shortcut: ')]
            expect(lines, ['shortcut: Orvo Tool.lnk -> c:\\ORVO_TOOL\\orvo tool.EXE; working folder C:\\Orvo_Tool; '
                           'icon none; no ID list',
                           'shortcut: Orvo_Tool DATA.lnk -> C:\\Orvo_Tool Data; working folder none; icon none; '
                           'no ID list'], f'{what}: the report')
            continue
        errors = [line for line in proc.stderr.splitlines() if line.startswith('error:')]
        expect((proc.returncode, errors), (1, [f'error: {message}']), what)
        expect(list(out.iterdir()), [], f'{what}: OUT_DIR left empty')


if __name__ == '__main__':
    sys.exit(test.main(sys.argv))
