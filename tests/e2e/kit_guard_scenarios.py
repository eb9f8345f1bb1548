#!/usr/bin/env python3
"""The check kit's guards under Wine: no start over an installed program, no
change without a save, a killed run cleaned up after at the next start, one
kit at a time, and a Desktop value that comes back after a kill."""
import re
import subprocess
import sys

from expectations import expect
from invariants import registry, snapshot
import expected_plan
from checked import Scenarios
from kit import package as check_kit
from kit_run import (KIT_KEY, PLOCHA, RUN_ONCE, SHELL_FOLDERS, check_left_alone, counts, output, run_kit, start_kit,
                     stop_wine, wait_for)
from lab.wine import NO_DAC_OVERRIDE, loader, windows_build

scenario = Scenarios()


@scenario
def check_kit_refuses_over_an_installed_program(s):
    """It would remove C:\\Orvo_Tool after its first scenario: it does not start."""
    kept = s.drive_c / 'Orvo_Tool' / 'Orvo Tool.exe'
    kept.parent.mkdir()
    kept.write_bytes(b'MZ the user\'s own program')
    code, out = run_kit(s, trees=True)
    expect(code, 2, 'exit status')
    expect(bool(re.search(r'^setup-check: not started, because C:\\Orvo_Tool exists', out, re.M)), True,
           'the one line saying why')
    expect(kept.read_bytes(), b'MZ the user\'s own program', 'the file in C:\\Orvo_Tool')


@scenario
def check_kit_without_a_save_place_changes_nothing(s):
    """Its key in HKCU cannot be made (a link to nowhere stands at its name):
    the desktop scenario is inconclusive, and the Desktop value never changes."""
    def block_the_save_place(kit):
        target = '\\Registry\\Machine\\NoSuchHive\\setup-check'.encode('utf-16-le')
        with open(s.prefix / 'user.reg', 'a', encoding='utf-8') as reg:
            reg.write('\n[Software\\\\setup-check] 1700000000\n#link\n'
                      f'"SymbolicLinkValue"=hex(6):{",".join(f"{b:02x}" for b in target)}\n')

    code, out = run_kit(s, '--only', 'desktop-expand', prepare=block_the_save_place)
    expect(bool(re.search(r'^desktop-expand \(.*\): inconclusive: cannot save the Desktop value', out, re.M)), True,
           'the scenario inconclusive for want of a save place')
    expect(counts(out), ['inconclusive'], 'scenario lines')
    expect(code, 4, 'exit status (nothing failed, something inconclusive)')



@scenario
def check_kit_cleans_up_after_a_killed_run(s):
    """Killed while Setup installs: the list beside the kit names what the run
    made. The next start removes exactly that (the trees, the desktop items,
    the work folder), leaves a file of the user's beside them, and runs."""
    check_kit.assemble(windows_build(), s.drive_c / 'kit', version='test')
    listed = s.drive_c / 'kit' / 'setup-check-cleanup.txt'
    try:
        first = start_kit(s, '--only', 'install-en')
        wait_for(s.desktop / expected_plan.shortcuts()[0])
        first.kill()
    finally:
        stop_wine(s)
    first.communicate()
    names = [line.split('\t', 1) for line in listed.read_text(encoding='utf-8').splitlines()]
    expect(names[0], ['end programs under', 'C:\\kit\\setup-check-work'], "the list's first line")
    expect(sorted(p for kind, p in names[1:] if kind == 'remove'),
           sorted(['C:\\Orvo_Tool', 'C:\\Orvo_Tool Data', 'C:\\kit\\setup-check-work'] +
                  [s.win(s.desktop / n) for n in expected_plan.desktop_names()]), 'the paths listed')
    expect((s.drive_c / 'Orvo_Tool').exists(), True, 'the killed run left its installation')
    mine = [s.drive_c / 'Orvo_Tool Mine' / 'keep.txt', s.desktop / 'keep.txt']
    for m in mine:
        m.parent.mkdir(exist_ok=True)
        m.write_bytes(b'the user\'s own')
    before, reg_before = snapshot(s.drive_c), registry(s.prefix)
    try:
        code, out = output(start_kit(s, '--only', 'renamed'))
    finally:
        stop_wine(s)
    expect(bool(re.search(r'^setup-check: removed what an interrupted run left: .*C:\\Orvo_Tool\b', out, re.M)), True,
           'the start says what it removed')
    expect(code, 0, 'exit status')
    for name in ['Orvo_Tool', 'Orvo_Tool Data', 'kit/setup-check-work', 'kit/setup-check-cleanup.txt'] + [
            str((s.desktop / n).relative_to(s.drive_c)) for n in expected_plan.desktop_names()]:
        expect((s.drive_c / name).exists(), False, f'{name} after the next start')
    expect([m.read_bytes() for m in mine], [b'the user\'s own'] * 2, "the user's files beside them")


@scenario
def check_kit_started_twice(s):
    """A second kit, started while the first has replaced the Desktop value,
    refuses with one line and exit 2; the first ends normally and puts it back."""
    check_kit.assemble(windows_build(), s.drive_c / 'kit', version='test')
    before, reg_before = snapshot(s.drive_c), registry(s.prefix)
    try:
        first = start_kit(s, '--only', 'desktop-expand', '--only', 'elsewhere', '--only', 'renamed')
        wait_for(s.drive_c / PLOCHA)
        code, out = output(start_kit(s, '--only', 'renamed', cwd='.'), timeout=120)
        expect((code, out.strip()), (2, 'setup-check: not started, because another setup-check is running on '
                                        'this machine'), 'the second kit')
        code, out = output(first)
    finally:
        stop_wine(s)
    expect(counts(out), ['ok', 'ok', 'ok'], 'the first kit')
    expect(code, 0, "the first kit's exit status")
    check_left_alone(s, before, reg_before)


@scenario
def check_kit_killed_and_started_again(s):
    """Killed while Setup runs on the replaced Desktop value: the save is on
    disk with its RunOnce entry. The entry's command, run from another folder
    as at the next logon, restores the value and removes both. (A whole kit
    started again does the same first, but under Wine its start also starts
    Wine's desktop process, which rewrites the value itself.)"""
    check_kit.assemble(windows_build(), s.drive_c / 'kit', version='test')
    reg_before = registry(s.prefix)
    try:
        first = start_kit(s, '--only', 'desktop-expand')
        wait_for(s.drive_c / PLOCHA / expected_plan.shortcuts()[0])
        first.kill()
    finally:
        stop_wine(s)  # Setup.exe, left showing its box, too
    first.communicate()
    killed = registry(s.prefix)
    expect(killed[SHELL_FOLDERS].get('"Desktop"') != reg_before[SHELL_FOLDERS].get('"Desktop"'), True,
           'the Desktop value replaced when the kit was killed')
    expect(sorted(killed.get(KIT_KEY, {})), ['"Original"', '"Replacement"', '"RunOnce key made"', '"Saved"'],
           "the kit's key after the kill")
    command = re.search(r'^"\\"(C:.*setup-check\.exe)\\" (--restore-desktop)"$',
                        '\n'.join(killed.get(RUN_ONCE, {}).values()), re.M)
    expect(bool(command), True, 'the RunOnce entry after the kill')
    try:
        proc = subprocess.Popen(NO_DAC_OVERRIDE + [loader(), command.group(1).replace('\\\\', '\\'), command.group(2)],
                                cwd=s.drive_c, env=s.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        code, out = output(proc, timeout=120)
    finally:
        stop_wine(s)
    expect(code, 0, 'exit status')
    expect(bool(re.search(r'^setup-check: restored the Desktop value to REG_SZ ', out, re.M)), True, 'the restore said')
    after = registry(s.prefix)
    expect(after[SHELL_FOLDERS].get('"Desktop"'), reg_before[SHELL_FOLDERS].get('"Desktop"'), 'the Desktop value')
    expect((after.get(KIT_KEY), after.get(RUN_ONCE)), (reg_before.get(KIT_KEY), reg_before.get(RUN_ONCE)),
           "the kit's key and the RunOnce key")


if __name__ == '__main__':
    sys.exit(scenario.main(sys.argv))
