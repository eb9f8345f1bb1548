#!/usr/bin/env python3
"""The check kit (setup-check.exe, with the contract suite and a sample
distribution, as scripts/check_kit.py assembles it) run under Wine in a
fresh prefix: every scenario passes or is skipped with its reason, and the
prefix is left as it was but for the report and its pictures."""
import re
import shutil
import subprocess
import sys
import time

from expectations import expect
from invariants import check_invariants, registry, snapshot
from lab import NO_DAC_OVERRIDE, arch, loader, windows_build, wineserver
from scenario import Scenarios
import check_kit  # noqa: E402  (scripts/, put on the path by lab)
import expected_plan  # noqa: E402

scenario = Scenarios()
SHELL_FOLDERS = 'user.reg:Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders'
OUTPUTS = ('kit/report.txt', 'kit/setup-check-pictures')


def run_kit(s, *args, prepare=None):
    """Runs the kit in C:\\kit, as a user whom the read-only attribute binds;
    returns its exit status and output. Checks that the prefix is left as it
    was: only the report and the pictures are new."""
    kit = check_kit.assemble(windows_build(), s.drive_c / 'kit', version='test')
    if prepare:
        prepare(kit)
    before, reg_before = snapshot(s.drive_c), registry(s.prefix)
    t0 = time.time()
    try:
        proc = subprocess.run(NO_DAC_OVERRIDE + [loader(), 'setup-check.exe', *args], cwd=s.drive_c / 'kit',
                              env=s.env, capture_output=True, timeout=900)
    finally:
        subprocess.run([wineserver(), '-k'], env=s.env, timeout=60)
    out = proc.stdout.decode('utf-8', errors='replace')
    print(out)
    print(f'setup-check ({arch()} build) ran {time.time() - t0:.1f} s, exit status {proc.returncode}')
    after = snapshot(s.drive_c)
    new = sorted(p for p in set(after) - set(before) if not p.startswith(OUTPUTS))
    expect(new, [], 'left in the prefix besides the report and its pictures')
    kept = {p: v for p, v in after.items() if not p.startswith(OUTPUTS)}
    check_invariants(before, kept, reg_before, registry(s.prefix), [str(s.desktop.relative_to(s.drive_c))])
    expect(registry(s.prefix)[SHELL_FOLDERS].get('"Desktop"'), reg_before[SHELL_FOLDERS].get('"Desktop"'),
           'the Desktop value (type and data)')
    for name in ['Orvo_Tool', 'Orvo_Tool Data'] + [f'{s.desktop.relative_to(s.drive_c)}/{n}'
                                                   for n in expected_plan.desktop_names()]:
        expect((s.drive_c / name).exists(), False, f'{name} left')
    return proc.returncode, out


@scenario
def check_kit_passes_under_wine(s):
    code, out = run_kit(s)
    summary = re.search(r'^(\d+) passed, (\d+) failed, (\d+) skipped\s*$', out, re.M)
    expect(bool(summary), True, 'a closing line of counts')
    expect(summary.group(2), '0', 'failed scenarios')
    expect(code, 0, 'exit status')
    lines = re.findall(r'^\S+ \(.*\): (ok|FAIL|skipped)', out, re.M)
    expect(len(lines), int(summary.group(1)) + int(summary.group(3)), 'one line per scenario')
    expect(len(list((s.drive_c / 'kit' / 'setup-check-pictures').glob('*.png'))) > 0, True, 'pictures of the boxes')


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


if __name__ == '__main__':
    sys.exit(scenario.main(sys.argv))
