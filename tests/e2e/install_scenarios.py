#!/usr/bin/env python3
"""The whole installation by the real Setup.exe under Wine: files, desktop and
the desktop setting's failures."""
import os
import subprocess
import sys
import zipfile
from pathlib import Path

from expectations import INCOMPLETE, expect, expect_completion, expect_error, incomplete
import expected_plan
from checked import Scenarios, shell_folders_opens
from invariants import TEMPORARY
from lab.scenario import REG_DWORD, REG_EXPAND_SZ, REG_SZ, reg_text, reg_value
from lab.wine import windows_build
from sample import distribution as sample

scenario = Scenarios()

PROGRAM, DATA = 'C:\\Orvo_Tool', 'C:\\Orvo_Tool Data'
NO_DESKTOP = 'Nemůžu v registrech najít cestu k pracovní ploše.'
SHORTCUTS = expected_plan.shortcuts()
OLDER_COPIES = expected_plan.older_copies()


def installed_files():
    """Every installed file with its distribution source."""
    return {target: expected_plan.host(source) for source, target in expected_plan.copies()}


def tree(root):
    return sorted(str(p.relative_to(root)) for p in root.rglob('*')) if root.exists() else []


def expect_full_installation(s, pdf):
    for target, source in installed_files().items():
        expect(s.c(target).read_bytes() if s.c(target).exists() else None, (s.dist / source).read_bytes(), target)
    expected = {t[3:].replace('\\', '/') for t in installed_files()}
    expected |= {f[3:].replace('\\', '/') for f in expected_plan.folders()} - {'Orvo_Tool', 'Orvo_Tool Data'}
    found = [f'Orvo_Tool/{p}' for p in tree(s.drive_c / 'Orvo_Tool')]
    found += [f'Orvo_Tool Data/{p}' for p in tree(s.drive_c / 'Orvo_Tool Data')]
    expect(sorted(found), sorted(expected), 'installed tree')
    expect_desktop(s, pdf)


def expect_desktop(s, pdf):
    placed = SHORTCUTS + ([pdf] if pdf else [])
    expect(sorted(tree(s.desktop)), sorted(placed), 'desktop')
    for name in placed:
        expect((s.desktop / name).read_bytes(), (s.dist / name).read_bytes(), f'desktop {name}')


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


def expect_desktop_failure(s, report, text):
    expect_error(report, text)
    expect(s.c(f'{PROGRAM}\\Orvo Tool.exe').exists(), False, 'program copied')
    expect(s.c(f'{PROGRAM}\\Orvo Dustrel.exe').exists(), False, 'companion copied')
    expect(s.c(f'{DATA}\\DBZ\\QKV.txt').exists(), True, 'the files before the desktop step installed')
    for root in (s.drive_c, Path('/')):
        for name in SHORTCUTS + ['Orvo Tool EN.pdf']:
            expect((root / name).exists(), False, f'{name} at the root of {root}')


def desktop_failure_scenario(name, reg_desktop, message):
    """A desktop setting that names no folder ends the run with its message."""
    def run(s):
        s.put_distribution()
        expect_desktop_failure(s, s.run(reg_desktop=reg_desktop), message)
    run.__name__ = name
    scenario(run)


desktop_failure_scenario('desktop_value_of_number_type_fails', reg_value(REG_DWORD, (7).to_bytes(4, 'little')),
                         "Invalid data type for 'Desktop'")
desktop_failure_scenario('shell_folders_key_missing_fails', 'delete-key', NO_DESKTOP)
desktop_failure_scenario('desktop_value_missing_fails', 'delete', NO_DESKTOP)
desktop_failure_scenario('desktop_value_empty_fails', reg_text(''), NO_DESKTOP)


def expect_desktop_at_plocha(s, value):
    """The desktop setting names the folder Plocha beside the usual desktop."""
    s.put_distribution()
    plocha = s.desktop.parent / 'Plocha'
    plocha.mkdir()
    s.desktops.append(plocha)
    expect_completion(s.run(reg_desktop=value), 'Instaltion completed.')
    expect(sorted(tree(plocha)), sorted(SHORTCUTS + ['Orvo Tool EN.pdf']), 'items on the desktop Plocha')


@scenario
def expandable_desktop_value_is_expanded(s):
    expect_desktop_at_plocha(s, reg_text('%USERPROFILE%\\Plocha', REG_EXPAND_SZ))


@scenario
def unterminated_odd_length_desktop_value_is_read_whole(s):
    # UTF-16 without a terminating NUL, and one stray byte that makes no character
    path = f'C:\\users\\{s.desktop.parent.name}\\Plocha'
    expect_desktop_at_plocha(s, reg_value(REG_SZ, path.encode('utf-16-le') + b'\x41'))


@scenario
def empty_folder_says_setup_ran_in_the_wrong_folder(s):
    """Setup.exe alone: every copy lacks its source, so the second line says
    where Setup was started instead of naming a file; no language file: Czech."""
    s.put_installer()
    expect_error(s.run(), INCOMPLETE[0].format(33, 'C:\\Orvo_Tool\\Kesmark.pdf') + '\n' +
                 f'Instalační program je nutné spustit ze složky s instalačními soubory; byl spuštěn ve složce '
                 f'„{s.win(s.dist)}“.')
    for folder in (PROGRAM, DATA, f'{DATA}\\DBZ', f'{DATA}\\Dokum', f'{DATA}\\Program'):
        expect(s.c(folder).is_dir(), True, folder)


def incomplete_message_scenario(name, language, arrange, expected, unprivileged=False):
    """A failed installation, read back in the installation's language with the
    first failure's name and the system's reason, or the folders involved."""
    def run(s):
        s.put_distribution(language=language)
        text = expected(s, arrange(s))
        expect_error(s.run(unprivileged=unprivileged), text)
        expect(s.c(f'{PROGRAM}\\Orvo Tool.exe').exists(), True, 'program installed')
    run.__name__ = name
    scenario(run)


def read_only_target(s):
    target = s.c(f'{DATA}\\DBZ\\QKV.txt')
    target.parent.mkdir(parents=True)
    target.write_bytes(b'locked list')
    target.chmod(0o444)


def upgrade_started_elsewhere(s):
    """Installed once; then started from another folder, as from a command
    prompt or a shortcut whose "Start in" is elsewhere."""
    expect_completion(s.run(), 'Installation ist fertig.')
    elsewhere = s.drive_c / 'elsewhere'
    elsewhere.mkdir()
    s.cwd = elsewhere
    return elsewhere


incomplete_message_scenario(
    'czech_missing_data_list_names_its_source', 0, lambda s: (s.dist / 'Data/QKV.txt').unlink(),
    lambda s, _: incomplete(1, f'{DATA}\\DBZ\\QKV.txt', 2, 'Data\\QKV.txt', language=0))
incomplete_message_scenario(
    'russian_read_only_target_gives_the_reason', 4, read_only_target,
    lambda s, _: incomplete(1, f'{DATA}\\DBZ\\QKV.txt', 5, language=4), unprivileged=True)
incomplete_message_scenario(
    'swedish_unreadable_source_is_named', 3, lambda s: (s.dist / 'Data/QKV.txt').chmod(0),
    lambda s, _: incomplete(1, f'{DATA}\\DBZ\\QKV.txt', 5, 'Data\\QKV.txt', language=3), unprivileged=True)
incomplete_message_scenario(
    'german_upgrade_started_elsewhere_names_both_folders', 2, upgrade_started_elsewhere,
    lambda s, elsewhere: INCOMPLETE[2].format(29, 'C:\\Orvo_Tool\\Kesmark.pdf') + '\n' +
    f'Setup muss aus dem Ordner gestartet werden, in dem sich die Installationsdateien befinden; es wurde im Ordner '
    f'„{s.win(elsewhere)}“ gestartet, die Dateien befinden sich aber im Ordner „{s.win(s.dist)}“.')


@scenario
def english_installation_started_elsewhere_speaks_english(s):
    """No language file where Setup was started, so the installation itself
    speaks Czech; the message takes the language of the files beside Setup."""
    s.put_distribution(language=1)
    s.cwd = s.drive_c / 'elsewhere'
    s.cwd.mkdir()
    expect_error(s.run(), INCOMPLETE[1].format(33, 'C:\\Orvo_Tool\\Kesmark.pdf') + '\n' +
                 f'Setup must be started from the folder that holds the installation files; it was started in '
                 f'“{s.win(s.cwd)}”, but the files are in “{s.win(s.dist)}”.')


@scenario
def data_folder_present_as_a_file(s):
    s.put_distribution()
    s.c(DATA).write_bytes(b'not a folder')
    expect_error(s.run(), incomplete(22, f'{DATA}\\Dokum\\Orvo Tool CZ.pdf', 3))
    expect(s.c(DATA).read_bytes(), b'not a folder', 'the file in the way')
    expect(s.c(f'{PROGRAM}\\Orvo Tool.exe').exists(), True, 'program installed')
    expect_desktop(s, 'Orvo Tool EN.pdf')


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
