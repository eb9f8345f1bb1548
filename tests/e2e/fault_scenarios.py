#!/usr/bin/env python3
"""Bad input and faults, under Wine. Each scenario states its expected outcome
first; the shared invariants (nothing touched outside the installed trees and
the desktop names, no registry writes, kept files kept, one box, a defined
exit status, no hang) are checked around every run by the harness."""
import os
import shutil
import subprocess
import sys

from expectations import expect, expect_completion, expect_error, incomplete
from invariants import check_invariants, registry, snapshot, strays_at_host_root
from lab.wine import loader, windows_build, wineserver
from checked import Scenarios, bites, place
from lab.scenario import REG_BINARY, REG_MULTI_SZ, REG_QWORD, reg_text, reg_value

scenario = Scenarios()

DATA = 'C:\\Orvo_Tool Data'
PLANTED = ['version', 'uxtheme', 'dwmapi', 'cryptbase', 'userenv']


@scenario
def language_file_lengths(s):
    """0, 1 and 2 bytes: "Read beyond end of file."; 4 bytes and 7 bytes: the
    first four count (Czech, then German with trailing bytes ignored)."""
    s.put_distribution()
    for n in (0, 1, 2):
        (s.dist / 'dLangv.dat').write_bytes(b'\x01' * n)
        expect_error(s.run(), 'Read beyond end of file.')
    (s.dist / 'dLangv.dat').write_bytes(bytes([0, 0, 0, 0]))
    expect_completion(s.run(), 'Instalace dokončena')
    s.c('C:\\Orvo_Tool\\dLangv.dat').unlink()
    (s.dist / 'dLangv.dat').write_bytes(bytes([2, 0, 0, 0, 0xFF, 0xFF, 0xFF]))
    expect_completion(s.run(), 'Upgrade ist fertig.')


@scenario
def large_language_code(s):
    """0x7FFFFFFF: no text, an empty box; the English PDF goes to the desktop."""
    s.put_distribution()
    (s.dist / 'dLangv.dat').write_bytes(bytes([0xFF, 0xFF, 0xFF, 0x7F]))
    expect_completion(s.run(), '')
    expect((s.desktop / 'Orvo Tool EN.pdf').exists(), True, 'English PDF on the desktop')


@scenario
def folder_named_like_the_language_file(s):
    """A folder is no language file: Czech; copying it fails and is reported."""
    s.put_distribution(without=['dLangv.dat'])
    (s.dist / 'dLangv.dat').mkdir()
    expect_error(s.run(), incomplete(1, 'C:\\Orvo_Tool\\dLangv.dat', 5, 'dLangv.dat', language=0))
    expect((s.desktop / 'Orvo Tool CZ.pdf').exists(), True, 'Czech PDF on the desktop')


@scenario
def unreadable_language_file(s):
    """No read permission: "File access denied." and nothing installed."""
    s.put_distribution()
    (s.dist / 'dLangv.dat').chmod(0)
    expect(bites(s.dist / 'dLangv.dat', 'rb'), True, 'the file is unreadable without the privilege')
    expect_error(s.run(unprivileged=True), 'File access denied.')
    expect(s.c('C:\\Orvo_Tool').exists(), False, 'program folder created')


@scenario
def desktop_values_of_other_types(s):
    """REG_MULTI_SZ, REG_BINARY and REG_QWORD: "Invalid data type for 'Desktop'"."""
    s.put_distribution()
    for value in (reg_value(REG_MULTI_SZ, 'C:\\x\0\0'.encode('utf-16-le')), reg_value(REG_BINARY, b'C:\\x'),
                  reg_value(REG_QWORD, (1).to_bytes(8, 'little'))):
        expect_error(s.run(reg_desktop=value), "Invalid data type for 'Desktop'")


@scenario
def desktop_values_naming_no_usable_folder(s):
    """One character, a relative name, a folder that does not exist and a name
    of 32,767 characters: the deletions find nothing, the two shortcuts and the
    PDF cannot be placed and are reported (an overlong name shortened in the
    middle); the programs are installed."""
    s.put_distribution()
    long_name = 'C:\\' + 'a' * 32764
    for value in ('C', 'Plocha', 'C:\\nowhere\\Desktop', long_name):
        first = value + '\\Orvo Tool.lnk'
        if len(first) > 260:  # shortened so that the box fits on the screen
            first = first[:60] + '...' + first[-60:]
        expect_error(s.run(reg_desktop=reg_text(value)), incomplete(3, first, 3))
    expect(s.c('C:\\Orvo_Tool\\Orvo Tool.exe').exists(), True, 'program installed')


@scenario
def read_only_targets(s):
    """A read-only replaced list and desktop shortcut are reported and left as
    they were; a read-only kept list is simply kept."""
    s.put_distribution()
    for path, data in ((s.c(f'{DATA}\\DBZ\\QKV.txt'), b'locked list'), (s.c(f'{DATA}\\DBZ\\Power.txt'), b'kept'),
                       (s.desktop / 'Orvo Tool.lnk', b'old shortcut')):
        place(path, data, 0o444)
    expect(bites(s.c(f'{DATA}\\DBZ\\QKV.txt'), 'r+b'), True, 'read-only without the privilege')
    expect_error(s.run(unprivileged=True), incomplete(2, f'{DATA}\\DBZ\\QKV.txt', 5))
    expect(s.c(f'{DATA}\\DBZ\\QKV.txt').read_bytes(), b'locked list', 'read-only list')
    expect((s.desktop / 'Orvo Tool.lnk').read_bytes(), b'old shortcut', 'read-only shortcut')


def hide(path):
    """The hidden attribute, where Wine keeps it: in Samba's extended attribute."""
    os.setxattr(path, 'user.DOSATTRIB', b'0x2')


@scenario
def hidden_installed_pdfs_are_refused_as_access_denied(s):
    """A data PDF and the desktop PDF the user hid: an upgrade refuses to
    replace either, as a copy does, and says "Access denied", never that they
    are in use; each keeps its old content."""
    s.put_distribution()
    expect_completion(s.run(), 'Instaltion completed.')
    hidden = [s.c(f'{DATA}\\Dokum\\Q KV seznam.pdf'), s.desktop / 'Orvo Tool EN.pdf']
    old = [path.read_bytes() for path in hidden]
    for path in hidden:
        hide(path)
    for name in ('Data/Q KV seznam.pdf', 'Orvo Tool EN.pdf'):
        (s.dist / name).write_bytes(b'new ' + (s.dist / name).read_bytes())
    expect_error(s.run(), incomplete(2, f'{DATA}\\Dokum\\Q KV seznam.pdf', 5))
    expect([path.read_bytes() for path in hidden], old, 'the hidden PDFs')


@scenario
def locked_target(s):
    """A list held open by another program without sharing is reported."""
    s.put_distribution()
    target = place(s.c(f'{DATA}\\DBZ\\QCAFL.txt'), b'in use')
    expect_error(s.run(hold=f'{DATA}\\DBZ\\QCAFL.txt'), incomplete(1, f'{DATA}\\DBZ\\QCAFL.txt', 32))
    expect(target.read_bytes(), b'in use', 'locked list')


@scenario
def read_only_rakoviny_stays_and_is_reported(s):
    """A read-only Rakoviny.txt cannot be removed: reported, and it stays."""
    s.put_distribution()
    target = place(s.c(f'{DATA}\\DBZ\\Rakoviny.txt'), b'old', 0o444)
    expect_error(s.run(unprivileged=True), incomplete(1, f'{DATA}\\DBZ\\Rakoviny.txt', 5))
    expect(target.exists(), True, 'read-only Rakoviny.txt')


@scenario
def data_folder_swapped_for_a_link_out_of_the_prefix(s):
    """Dokum replaced by a Unix symbolic link to a folder outside the prefix
    (Wine reports it as a reparse point, attributes 0x410): its 13 files are
    reported, the folder it leads to keeps every byte, a file there named like
    a leftover included, and the link stays."""
    s.put_distribution()
    outside = s.root / 'outside'
    place(outside / 'Orvo Tool CZ.pdf.setup-new', b'named like a leftover')
    place(outside / 'Power Seznam.pdf', b'theirs')
    s.c(DATA).mkdir()
    s.c(f'{DATA}\\Dokum').symlink_to(outside, target_is_directory=True)
    before = snapshot(outside)
    expect_error(s.run(), incomplete(13, f'{DATA}\\Dokum\\Orvo Tool CZ.pdf', 4395))
    expect(snapshot(outside), before, 'the folder outside the prefix')
    expect(s.c(f'{DATA}\\DBZ\\QKV.txt').exists(), True, 'the other folders installed')


@scenario
def program_folder_present_as_a_file(s):
    """Every copy into "C:\\Orvo_Tool" fails: four PDFs, the language file, the
    list and the two programs; the outcome is still an installation."""
    s.put_distribution()
    s.c('C:\\Orvo_Tool').write_bytes(b'not a folder')
    expect_error(s.run(), incomplete(8, 'C:\\Orvo_Tool\\Kesmark.pdf', 3))
    expect(s.c('C:\\Orvo_Tool').read_bytes(), b'not a folder', 'the file in the way')


@scenario
def dbz_present_as_a_file(s):
    """The two kept and five replaced lists of DBZ fail; nothing to remove there."""
    s.put_distribution()
    s.c(DATA).mkdir()
    s.c(f'{DATA}\\DBZ').write_bytes(b'not a folder')
    expect_error(s.run(), incomplete(7, f'{DATA}\\DBZ\\Power.txt', 3))


@scenario
def data_folder_missing(s):
    """No "Data" folder: its 24 files are reported; the rest is installed."""
    s.put_distribution()
    shutil.rmtree(s.dist / 'Data')
    expect_error(s.run(), incomplete(24, 'C:\\Orvo_Tool\\Kesmark.pdf', 3, 'Data\\Kesmark.pdf'))
    expect((s.desktop / 'Orvo Tool EN.pdf').exists(), True, 'desktop PDF placed')


@scenario
def target_folders_that_cannot_be_created(s):
    """A read-only "C:\\Orvo_Tool Data": DBZ, Dokum and Program cannot be made,
    and their 22 files are reported."""
    s.put_distribution()
    s.c(DATA).mkdir()
    s.c(DATA).chmod(0o555)
    expect(bites(s.c(DATA), 'mkdir'), True, 'no folder can be made without the privilege')
    expect_error(s.run(unprivileged=True), incomplete(22, f'{DATA}\\Dokum\\Orvo Tool CZ.pdf', 3))


@scenario
def read_only_distribution_installs_and_upgrades(s):
    """Files from read-only media are installed writable, so the upgrade from
    the same media replaces them: both runs complete."""
    s.put_distribution()
    for path in s.dist.rglob('*'):
        if path.is_file():
            path.chmod(0o444)
    expect(bites(s.dist / 'Data' / 'QKV.txt', 'r+b'), True, 'the distribution is read-only')
    expect_completion(s.run(unprivileged=True), 'Instaltion completed.')
    expect(s.c(f'{DATA}\\DBZ\\QKV.txt').stat().st_mode & 0o200, 0o200, 'installed list writable')
    expect_completion(s.run(unprivileged=True), 'Upgrade ready.')


@scenario
def planted_dlls_are_not_loaded(s):
    """DLLs named like those installers are attacked through, beside Setup.exe
    and preferred over Wine's own: Setup.exe loads none. Shown to bite first: a
    program without the hardening, from the same folder, loads version.dll.
    Wine cannot show the compatibility shims of Windows (which load
    version.dll for programs named setup), so the manifest's redirection is
    checked in the binary, not here."""
    s.put_distribution()
    for name in PLANTED:
        shutil.copy2(windows_build() / 'planted' / f'{name}.dll', s.dist)
    shutil.copy2(windows_build() / 'one_task_dialog.exe', s.dist)
    s.run(exe=s.dist / 'one_task_dialog.exe', native_dlls=PLANTED, quiet=True, check=False)
    loaded = sorted(p.name for p in s.dist.glob('*.loaded'))
    expect(loaded != [], True, f'an unhardened program loads a planted DLL ({loaded})')
    for marker in s.dist.glob('*.loaded'):
        marker.unlink()
    expect_completion(s.run(native_dlls=PLANTED), 'Instaltion completed.')
    expect(sorted(p.name for p in s.dist.glob('*.loaded')), [], 'planted DLLs loaded by Setup.exe')


@scenario
def a_write_to_the_drive_root_stays_in_the_lab(s):
    """The guard, shown working. A build that took an empty Desktop value for
    the desktop would write its shortcut to "\\", the root of the current
    drive. Wine's cmd, started where Setup is started (the distribution folder
    on the prefix's C:), makes that very write: it lands in the prefix, the
    host's / stays clean, and the invariant check names the stray file."""
    s.put_distribution()
    before, reg_before = snapshot(s.drive_c), registry(s.prefix)
    try:
        subprocess.run([loader(), 'cmd', '/c', 'copy', 'Orvo Tool.lnk', '\\Orvo Tool.lnk'], cwd=s.dist, env=s.env,
                       capture_output=True, timeout=120, check=True)
    finally:
        subprocess.run([wineserver(), '-k'], env=s.env, timeout=60)
    expect((s.drive_c / 'Orvo Tool.lnk').read_bytes(), (s.dist / 'Orvo Tool.lnk').read_bytes(), 'the stray write')
    expect(strays_at_host_root(), [], "desktop names at the host's /")
    try:
        check_invariants(before, snapshot(s.drive_c), reg_before, registry(s.prefix),
                         [str(s.desktop.relative_to(s.drive_c))])
    except AssertionError as caught:
        expect("'Orvo Tool.lnk'" in str(caught), True, f'the check names the stray file: {caught}')
    else:
        raise AssertionError('the invariant check let a write to the root of drive C: pass')


if __name__ == '__main__':
    sys.exit(scenario.main(sys.argv))
