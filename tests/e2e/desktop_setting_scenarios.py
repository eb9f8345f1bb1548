#!/usr/bin/env python3
"""The desktop setting as the real Setup.exe under Wine reads it: the values
that name no folder end the run, those that name one are followed."""
import sys
from pathlib import Path

from expectations import expect, expect_completion, expect_error
from checked import Scenarios
from installed import DATA, PROGRAM, SHORTCUTS, tree
from lab.scenario import REG_DWORD, REG_EXPAND_SZ, REG_SZ, reg_text, reg_value

scenario = Scenarios()

NO_DESKTOP = 'Nemůžu v registrech najít cestu k pracovní ploše.'


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


if __name__ == '__main__':
    sys.exit(scenario.main(sys.argv))
