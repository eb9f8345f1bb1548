"""The check kit under Wine: assembled in C:\\kit, started as a user whom the
read-only attribute binds, its output and reports read, and the prefix
checked to be left as it was but for the report and its pictures."""
import re
import subprocess
import time

from expectations import expect
from invariants import check_invariants, registry, snapshot
import expected_plan
from kit import package as check_kit
from lab.wine import NO_DAC_OVERRIDE, arch, loader, windows_build, wineserver

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

