#!/usr/bin/env python3
"""An installation by the real Setup.exe under Wine that is left incomplete:
the message in the installation's language, naming the first failure and
the reason, or the folders Setup was started in and the files are in."""
import sys

from expectations import INCOMPLETE, expect, expect_completion, expect_error, incomplete
from checked import Scenarios
from installed import DATA, PROGRAM, expect_desktop

scenario = Scenarios()


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


if __name__ == '__main__':
    sys.exit(scenario.main(sys.argv))
