#!/usr/bin/env python3
"""The check kit (setup-check.exe, with the contract suite and a sample
distribution, as kit/package.py assembles it) run under Wine in a
fresh prefix: every scenario passes or is skipped with its reason, and the
prefix is left as it was but for the report and its pictures; its reports
kept run after run, and what it fails or cannot prepare said in its words."""
import re
import shutil
import struct
import time
import zlib
import sys

from expectations import expect, expect_completion, expect_error
import expected_plan
from checked import Scenarios
from kit import package as check_kit
from kit_run import counts, newest_report, output, reports, run_kit, start_kit, stop_wine
from lab.wine import architecture_line, windows_build
from sample import distribution as sample

scenario = Scenarios()


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



if __name__ == '__main__':
    sys.exit(scenario.main(sys.argv))
