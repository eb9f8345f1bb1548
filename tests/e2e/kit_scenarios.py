#!/usr/bin/env python3
"""The check kit (setup-check.exe, with the contract suite and a sample
distribution, as kit/package.py assembles it) run under Wine in a
fresh prefix: every scenario passes or is skipped with its reason, and the
prefix is left as it was but for the report and its pictures. Then the
kit's guards: one kit at a time, a Desktop value that comes back after a
kill, no start over an installed program, no change without a save."""
import re
import shutil
import struct
import zlib
import subprocess
import sys
import time

from expectations import expect, expect_completion, expect_error
from invariants import check_invariants, registry, snapshot
import expected_plan
from checked import Scenarios
from kit import package as check_kit
from lab.wine import NO_DAC_OVERRIDE, arch, architecture_line, loader, windows_build, wineserver
from sample import distribution as sample

scenario = Scenarios()
SHELL_FOLDERS = 'user.reg:Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders'
KIT_KEY = 'user.reg:Software\\\\setup-check'
RUN_ONCE = 'user.reg:Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\RunOnce'
OUTPUTS = ('kit/setup-check-reports',)
PLOCHA = 'kit/setup-check-work/Plocha Žluťoučký kůň Рабочий стол'
VERDICT = r'^\S+ \(.*\): (ok|FAIL|skipped|inconclusive)\b'


def reports(s):
    """The kit's run folders, oldest first (their names sort in time order)."""
    return sorted((s.drive_c / 'kit' / 'setup-check-reports').iterdir())


def newest_report(s):
    return (reports(s)[-1] / 'report.txt').read_text(encoding='utf-8')


def start_kit(s, *args, cwd='kit'):
    """The kit as a user whom the read-only attribute binds, started in C:\\`cwd`."""
    return subprocess.Popen(NO_DAC_OVERRIDE + [loader(), 'C:\\kit\\setup-check.exe', *args], cwd=s.drive_c / cwd,
                            env=s.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def output(proc, timeout=900):
    out, _ = proc.communicate(timeout=timeout)
    text = out.decode('utf-8', errors='replace')
    print(text)
    return proc.returncode, text


def stop_wine(s):
    subprocess.run([wineserver(), '-k'], env=s.env, timeout=60)


def wait_for(path, seconds=300):
    deadline = time.time() + seconds
    while not path.exists():
        if time.time() > deadline:
            raise AssertionError(f'{path} did not appear within {seconds} s')
        time.sleep(0.05)


def check_left_alone(s, before, reg_before, trees=False):
    """Only the report and the pictures are new; the Desktop value is as it was,
    and no key or RunOnce entry of the kit is left."""
    after = snapshot(s.drive_c)
    new = sorted(p for p in set(after) - set(before) if not p.startswith(OUTPUTS))
    expect(new, [], 'left in the prefix besides the report and its pictures')
    kept = {p: v for p, v in after.items() if not p.startswith(OUTPUTS)}
    reg_after = registry(s.prefix)
    check_invariants(before, kept, reg_before, reg_after, [str(s.desktop.relative_to(s.drive_c))])
    expect(reg_after[SHELL_FOLDERS].get('"Desktop"'), reg_before[SHELL_FOLDERS].get('"Desktop"'),
           'the Desktop value (type and data)')
    expect(reg_after.get(KIT_KEY), reg_before.get(KIT_KEY), "the kit's key")
    expect(reg_after.get(RUN_ONCE), reg_before.get(RUN_ONCE), 'the RunOnce key')
    if not trees:
        for name in ['Orvo_Tool', 'Orvo_Tool Data'] + [f'{s.desktop.relative_to(s.drive_c)}/{n}'
                                                       for n in expected_plan.desktop_names()]:
            expect((s.drive_c / name).exists(), False, f'{name} left')


def run_kit(s, *args, prepare=None, trees=False):
    """Assembles the kit in C:\\kit and runs it there; returns its exit status
    and output. Checks that the prefix is left as it was."""
    kit = check_kit.assemble(windows_build(), s.drive_c / 'kit', version='test')
    if prepare:
        prepare(kit)
    before, reg_before = snapshot(s.drive_c), registry(s.prefix)
    t0 = time.time()
    try:
        code, out = output(start_kit(s, *args))
    finally:
        stop_wine(s)
    print(f'setup-check ({arch()} build) ran {time.time() - t0:.1f} s, exit status {code}')
    check_left_alone(s, before, reg_before, trees)
    return code, out


def counts(out):
    summary = re.search(r'^(\d+) passed, (\d+) failed, (\d+) skipped, (\d+) inconclusive\s*$', out, re.M)
    expect(bool(summary), True, 'a closing line of the four counts')
    lines = re.findall(VERDICT, out, re.M)
    expect([int(n) for n in summary.groups()], [lines.count(v) for v in ('ok', 'FAIL', 'skipped', 'inconclusive')],
           'the counts against the ok, FAIL, skipped and inconclusive lines')
    return lines


@scenario
def check_kit_passes_under_wine(s):
    code, out = run_kit(s)
    lines = counts(out)
    expect(lines.count('FAIL') + lines.count('inconclusive'), 0, 'failed or inconclusive scenarios')
    expect(re.findall(r'^(\S+) \(.*\): skipped\b', out, re.M), ['zone-marks', 'locked-source', 'junction'],
           'skipped scenarios (Wine keeps streams as files, lets a read through a byte-range lock, makes no junction)')
    expect(bool(re.search(r'^locked-source \(.*\): skipped: Wine does not stop a read through another handle at a '
                          r'byte-range lock', out, re.M)), True, "the lock scenario's reason, from its probe")
    expect(bool(re.search(r'^junction \(.*\): skipped: Wine cannot make a junction \(FSCTL_SET_REPARSE_POINT failed '
                          r'with error \d+\)', out, re.M)), True, "the junction scenario's reason, from its attempt")
    expect(code, 0, 'exit status')
    report = newest_report(s)
    expect(bool(re.search(r'^User: .+; (not )?elevated; integrity level \w+', report, re.M)), True,
           'the user, elevation and integrity level in the report')
    # Wine's GetProcessMitigationPolicy answers without filling the policy in: off, as read.
    expect(re.findall(r'^Redirection trust: (.*?)\r?$', report, re.M),
           ['asked for and read back off: junctions of any account are followed'], 'the redirection trust, read back')
    expect(re.findall(r'^Architecture: (.*)$', report, re.M), [architecture_line(s.drive_c / 'kit/setup-check.exe')],
           'the architecture as IsWow64Process2 gives it')
    expect(len(list((reports(s)[-1] / 'pictures').glob('*.png'))) > 0, True, 'pictures of the boxes')


def magenta_share(png):
    """The share of pure magenta pixels in a picture the box driver wrote
    (8-bit RGB, filter 0 on every row, as tools/boxdriver/png.cpp writes)."""
    data = png.read_bytes()
    w, h = struct.unpack('>II', data[16:24])
    idat, pos = b'', 8
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        idat += data[pos + 8:pos + 8 + n] if kind == b'IDAT' else b''
        pos += 12 + n
    raw = zlib.decompress(idat)
    rows = [raw[y * (1 + 3 * w) + 1:(y + 1) * (1 + 3 * w)] for y in range(h)]
    magenta = sum(row[x:x + 3] == b'\xff\x00\xff' for row in rows for x in range(0, 3 * w, 3))
    return magenta / (w * h)


@scenario
def check_kit_box_driver_presses_behind_another_window(s):
    """An active topmost window covers the screen (the user at work elsewhere):
    the box driver still presses OK on a task dialog and on a message box,
    pictures them as they draw themselves, and reads the message box's icon."""
    s.put_distribution()
    good = (s.dist / 'dLangv.dat').read_bytes()
    (s.dist / 'dLangv.dat').write_bytes(b'\x01')
    for name, expected in (('message box', lambda r: expect_error(r, 'Read beyond end of file.')),
                           ('task dialog', lambda r: expect_completion(r, 'Instaltion completed.'))):
        report = s.run(cover=True)
        expected(report)
        shot = s.root / report.boxes[0]['shot'].replace('\\', '/').rsplit('/', 1)[-1]
        share = magenta_share(shot)
        print(f'{name} picture: {share:.1%} magenta')
        expect(share < 0.01, True, f'the {name} pictured, not the window in front of it')
        (s.dist / 'dLangv.dat').write_bytes(good)


def plant_run_folders(s, seconds):
    """A folder of the kit's dated name for each of the next `seconds`, as
    anyone may have made one, each holding a note."""
    now = int(time.time())
    planted = [s.drive_c / 'kit' / 'setup-check-reports' / time.strftime('%Y-%m-%d %H.%M.%SZ', time.gmtime(t))
               for t in range(now, now + seconds)]
    for folder in planted:
        folder.mkdir()
        (folder / 'planted.txt').write_text("not the kit's\n")
    return planted


@scenario
def check_kit_second_run_keeps_the_first_runs_report(s):
    """Started again, as the README asks: a new dated folder, the first run's
    report and pictures as they were, and the newest found by its name. A
    folder of its start's name is there already (one is planted for every
    second it may start in): it makes the next name and writes into none."""
    check_kit.assemble(windows_build(), s.drive_c / 'kit', version='test')
    outs = []
    for _ in range(2):
        try:
            outs.append(output(start_kit(s, '--only', 'renamed')))
        finally:
            stop_wine(s)
        if len(outs) == 1:
            first = {p: p.read_bytes() for p in reports(s)[0].rglob('*') if p.is_file()}
            planted = plant_run_folders(s, 300)
    expect([code for code, _ in outs], [0, 0], 'exit statuses')
    runs = [p for p in reports(s) if p not in planted]
    expect(len(runs), 2, 'run folders')
    expect({p: p.read_bytes() for p in runs[0].rglob('*') if p.is_file()}, first, "the first run's files")
    expect(any(p.suffix == '.png' for p in first), True, "the first run's pictures")
    said = re.findall(r'^report: (C:\\kit\\setup-check-reports\\[^\\]+)\\report\.txt\r?$', outs[1][1], re.M)
    expect(said, ['C:\\kit\\setup-check-reports\\' + runs[-1].name], 'the report the second run names')
    expect(runs[-1].name.endswith(' (2)') and runs[-1].name[:-4] in {p.name for p in planted}, True,
           f'{runs[-1].name}: the name after the planted one of its start')
    expect({p.name: sorted(q.name for q in p.iterdir()) for p in planted}, {p.name: ['planted.txt'] for p in planted},
           'the planted folders')


@scenario
def check_kit_restores_desktop_after_a_failed_scenario(s):
    """The desktop scenario, failed by a distribution without a shortcut: the
    Desktop value it replaced is back, type and data."""
    def without_shortcut(kit):
        shutil.copytree(kit / 'dist', kit / 'broken')
        (kit / 'broken' / expected_plan.shortcuts()[0]).unlink()

    code, out = run_kit(s, '--only', 'desktop-expand', 'C:\\kit\\broken', prepare=without_shortcut)
    expect(code, 1, 'exit status')
    expect(bool(re.search(r'^desktop-expand \(.*\): FAIL: .*Plocha', out, re.M)), True,
           'the scenario failed on its own desktop folder')


@scenario
def check_kit_fails_a_shortcut_made_on_the_build_machine(s):
    """A distribution whose Orvo Tool.lnk leads to the build machine's copy:
    the installation fails, naming the shortcut, what it points to and what
    it must; the shell's reading of it is in the report."""
    def build_machine_shortcut(kit):
        shutil.copytree(kit / 'dist', kit / 'broken')
        (kit / 'broken' / 'Orvo Tool.lnk').write_bytes(sample.shell_link(
            'D:\\build\\Orvo Tool.exe', 'D:\\build', 'D:\\build\\Orvo Tool.exe'))

    code, out = run_kit(s, '--only', 'install-en', 'C:\\kit\\broken', prepare=build_machine_shortcut)
    expect(code, 1, 'exit status')
    expect(bool(re.search(r'^install-en \(.*\): FAIL: .*Orvo Tool\.lnk points to D:\\build\\Orvo Tool\.exe, '
                          r'not C:\\Orvo_Tool\\Orvo Tool\.exe', out, re.M)), True, 'the failure names the shortcut')
    report = newest_report(s)
    expect('  shortcut Orvo_Tool DATA.lnk: target C:\\Orvo_Tool Data, working folder none, icon none, resolved '
           '0x00000000 to C:\\Orvo_Tool Data (folder)' in report, True, 'the shell\'s reading in the report')


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
def check_kit_blames_setup_for_nothing_it_could_not_prepare(s):
    """A scenario the kit cannot prepare (its Setup (1).exe cannot be made:
    the name is taken) and a contract suite taken away are inconclusive, each
    in its own words, never failed."""
    def unpreparable(kit):
        shutil.copytree(kit / 'dist', kit / 'broken')
        (kit / 'broken' / 'Setup (1).exe').write_bytes(b'taken')
        (kit / 'fileops_contract.exe').unlink()

    code, out = run_kit(s, '--only', 'renamed', '--only', 'contract', 'C:\\kit\\broken', prepare=unpreparable)
    expect(re.findall(r'^(\S+) \(.*\): (\w+): (.*?)\r?$', out, re.M),
           [('renamed', 'inconclusive', 'could not prepare the scenario: cannot make Setup (1).exe'),
            ('contract', 'inconclusive', 'the contract suite is missing: fileops_contract.exe is not beside '
                                         'setup-check.exe (removed by antivirus? unpack the kit again)')],
           'the two scenario lines')
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
