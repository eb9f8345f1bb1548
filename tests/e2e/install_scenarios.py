#!/usr/bin/env python3
"""The whole installation by the real Setup.exe under Wine: files, desktop,
shortcuts, upgrades and the released zip."""
import os
import subprocess
import sys
import zipfile
from pathlib import Path

from expectations import expect, expect_completion
import expected_plan
from checked import Scenarios, shell_folders_opens
from installed import DATA, OLDER_COPIES, PROGRAM, SHORTCUTS, expect_desktop, expect_full_installation, tree
from invariants import TEMPORARY
from lab.wine import windows_build
from sample import distribution as sample

scenario = Scenarios()


@scenario
def first_run_installs_everything(s):
    s.put_distribution(language=1)
    report = s.run(trace_registry=True)
    expect_completion(report, 'Instaltion completed.')
    expect_full_installation(s, 'Orvo Tool EN.pdf')
    # Read afresh for each of the 8 desktop paths, with the right to query only (KEY_QUERY_VALUE = 1).
    expect(shell_folders_opens(report.trace), ['1'] * 8, 'Shell Folders opened by the installer')
    expect(s.c(f'{DATA}\\DBZ\\Rakoviny.txt').exists(), False, 'Rakoviny.txt installed')


# What Wine's shell32 must make of the installed desktop shortcuts: the stored
# target, working folder, icon, Resolve's status, the resolved target and what it is.
SHORTCUT_TARGETS = {
    'Orvo Tool.lnk': dict(path=f'{PROGRAM}\\Orvo Tool.exe', working=PROGRAM, icon_file=f'{PROGRAM}\\Orvo Tool.exe',
                          icon_index='0', resolve='0x00000000', resolved=f'{PROGRAM}\\Orvo Tool.exe',
                          resolved_kind='file'),
    'Orvo_Tool DATA.lnk': dict(path=DATA, working='', icon_file='', icon_index='0', resolve='0x00000000',
                               resolved=DATA, resolved_kind='folder'),
}


@scenario
def desktop_shortcuts_open_the_installed_program(s):
    """After an installation the desktop's shortcuts, loaded and resolved
    through IShellLinkW, lead to the installed program (which exists) and
    to the data folder."""
    s.put_distribution(language=1)
    expect_completion(s.run(), 'Instaltion completed.')
    read = s.read_shortcuts([s.desktop / name for name in SHORTCUT_TARGETS])
    for name, shortcut in zip(SHORTCUT_TARGETS, read):
        got = {k: shortcut.get(k) for k in SHORTCUT_TARGETS[name]}
        expect(got, SHORTCUT_TARGETS[name], f'{name} through the shell')


@scenario
def second_run_upgrades_and_keeps_edited_power_lists(s):
    s.put_distribution(language=2)
    expect_completion(s.run(), 'Installation ist fertig.')
    edits = {f'{DATA}\\DBZ\\Power.txt': b'edited in DBZ', f'{DATA}\\Program\\Power.txt': b'edited in Program',
             f'{DATA}\\DBZ\\QCAFL.txt': b'edited list'}
    for target, data in edits.items():
        s.c(target).write_bytes(data)
    expect_completion(s.run(), 'Upgrade ist fertig.')
    expect(s.c(f'{DATA}\\DBZ\\Power.txt').read_bytes(), b'edited in DBZ', 'kept Power.txt in DBZ')
    expect(s.c(f'{DATA}\\Program\\Power.txt').read_bytes(), b'edited in Program', 'kept Power.txt in Program')
    expect(s.c(f'{DATA}\\DBZ\\QCAFL.txt').read_bytes(), (s.dist / 'Data/QCAFL.txt').read_bytes(), 'replaced QCAFL')


@scenario
def an_old_rakoviny_list_is_removed(s):
    s.put_distribution()
    s.c(f'{DATA}\\DBZ').mkdir(parents=True)
    s.c(f'{DATA}\\DBZ\\Rakoviny.txt').write_bytes(b'old list')
    expect_completion(s.run(), 'Instaltion completed.')
    expect(s.c(f'{DATA}\\DBZ\\Rakoviny.txt').exists(), False, 'Rakoviny.txt left in DBZ')


@scenario
def older_desktop_copies_are_removed(s):
    s.put_distribution()
    for name in OLDER_COPIES + ['Orvo Tool 4_1 CZ.exe']:
        (s.desktop / name).write_bytes(b'MZ old')
    expect_completion(s.run(), 'Instaltion completed.')
    expect(sorted(tree(s.desktop)), sorted(SHORTCUTS + ['Orvo Tool EN.pdf', 'Orvo Tool 4_1 CZ.exe']), 'desktop')


def pdf_scenario(code, pdf, text):
    def run(s):
        s.put_distribution(language=code)
        expect_completion(s.run(), text)
        expect_desktop(s, pdf)
    run.__name__ = f'language_{code if code >= 0 else "minus_1"}_places_{pdf.split()[-1][:2] if pdf else "no"}_pdf'
    scenario(run)


pdf_scenario(0, 'Orvo Tool CZ.pdf', 'Instalace dokončena')
pdf_scenario(2, 'Orvo Tool DE.pdf', 'Installation ist fertig.')
pdf_scenario(3, 'Orvo Tool EN.pdf', 'Installation är klar.')
pdf_scenario(-1, None, '')


@scenario
def installed_files_lose_the_download_zone(s):
    """A download's zone travels with a copy on Windows, and goes with the
    temporary copy's stream before it is published. Wine keeps a stream as a
    sibling "name:Zone.Identifier", does not copy it and leaves it when the
    file goes, so a killed run's leftovers, read-only as copied from read-only
    media and marked, are placed for every replaced file: the upgrade removes
    each leftover, makes the file again and drops its mark. The kept lists
    are not copied again."""
    s.put_distribution()
    expect_completion(s.run(), 'Instaltion completed.')
    zone = b'[ZoneTransfer]\r\nZoneId=3\r\n'
    leftovers = [s.c(t.target + TEMPORARY) for t in expected_plan.steps(op='copy')]
    leftovers += [s.desktop / f'{n}{TEMPORARY}' for n in SHORTCUTS + ['Orvo Tool EN.pdf']]
    for path in leftovers:
        path.with_name(path.name + ':Zone.Identifier').write_bytes(zone)
        path.write_bytes(b'cut short')
        path.chmod(0o444)
    expect_completion(s.run(unprivileged=True), 'Upgrade ready.')
    marks = [p.with_name(p.name + ':Zone.Identifier') for p in leftovers]
    expect([str(p) for p in leftovers + marks if p.exists()], [], 'leftovers and zone marks after the upgrade')


@scenario
def released_zip_installs_as_a_customer_would(s):
    """The release command's zip, extracted, and its Setup.exe started from the
    extracted folder: the full tree. The zip holds the build this host runs."""
    source = s.root / 'vendor'
    sample.write(source, language=2)
    probe = Path(__file__).resolve().parents[2] / 'release' / 'python.sh'
    python = subprocess.run(['bash', str(probe)], check=True, capture_output=True, text=True).stdout.strip()
    subprocess.run([python, '-P', '-m', 'release', '--setup-exe', str(windows_build() / 'Setup.exe'),
                    '--plan-tool', os.environ['SETUP_PLAN_TOOL'], '--epoch', '1767225600',
                    str(source), str(s.root / 'out')], check=True, capture_output=True)
    top = f"Orvo_Tool-Setup-{sample.VERSIONS['Orvo Tool.exe']}"
    with zipfile.ZipFile(s.root / 'out' / f'{top}.zip') as z:
        z.extractall(s.dist)
    s.dist = s.dist / top
    expect_completion(s.run(), 'Installation ist fertig.')
    expect_full_installation(s, 'Orvo Tool DE.pdf')


if __name__ == '__main__':
    sys.exit(scenario.main(sys.argv))
