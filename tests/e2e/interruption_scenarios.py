#!/usr/bin/env python3
"""Runs that fail part-way, are killed, or meet another run, under Wine: the
installed program and the user's lists survive each, and a rerun completes."""
import hashlib
import shutil
import subprocess
import sys

from expectations import TEXTS, expect, expect_completion, expect_error, incomplete
import expected_plan
from checked import Scenarios, Skip
from lab.report import Report

scenario = Scenarios()

PROGRAM = 'C:\\Orvo_Tool\\Orvo Tool.exe'

# Runs the rest of the command line with a small tmpfs over FOLDER, in a mount
# namespace of its own: the wineserver started there renames on the small
# volume too. What the run left is copied back to the real folder afterwards.
SMALL_VOLUME = '''set -e
folder=$1 real=$2 size=$3
shift 3
mount --bind "$folder" "$real"
mount -t tmpfs -o "size=$size,mode=0755" tmpfs "$folder"
cp -a "$real/." "$folder/"
status=0
"$@" || status=$?
find "$real" -mindepth 1 -delete
cp -a "$folder/." "$real/"
exit $status'''


def on_small_volume(s, windows_folder, size):
    if subprocess.run(['unshare', '--mount', 'true'], capture_output=True).returncode != 0:
        raise Skip('no mount namespace can be made here (unshare --mount needs CAP_SYS_ADMIN)')
    real = s.root / 'real-folder'
    real.mkdir()
    return ['unshare', '--mount', '--propagation', 'private', 'sh', '-c', SMALL_VOLUME, 'small-volume',
            str(s.c(windows_folder)), str(real), size]


def sha256(path):
    h = hashlib.sha256()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            h.update(block)
    return h.hexdigest()


@scenario
def full_volume_keeps_the_previous_program(s):
    """An upgrade onto a volume that fills up while the new program is
    copied: the previous program (100,002 bytes) stays byte for byte and the
    box names it with the disk's reason; a rerun with room completes."""
    s.put_distribution()
    previous, new = (b'previous' * 12501)[:100002], b'new program ' * 34000
    (s.dist / 'Orvo Tool.exe').write_bytes(previous)
    expect_completion(s.run(), 'Instaltion completed.')
    (s.dist / 'Orvo Tool.exe').write_bytes(new)
    small = on_small_volume(s, 'C:\\Orvo_Tool', '256k')
    expect_error(s.run(wrap=small), incomplete(1, PROGRAM, 112))
    expect(s.c(PROGRAM).read_bytes() == previous, True, 'the previous program, byte for byte')
    expect_completion(s.run(), 'Upgrade ready.')
    expect(s.c(PROGRAM).read_bytes() == new, True, 'the new program after the rerun')


@scenario
def killed_mid_copy_keeps_the_previous_program(s):
    """The run killed while a 384 MB program is copied: the previous program
    stays whole; the rerun completes and leaves no temporary name."""
    s.put_distribution()
    expect_completion(s.run(), 'Instaltion completed.')
    previous = s.c(PROGRAM).read_bytes()
    big = s.dist / 'Orvo Tool.exe'
    with open(big, 'wb') as f:
        for i in range(384):
            f.write(bytes([i % 251]) * (1 << 20))
    temporary, installed = s.c(PROGRAM + '.setup-new'), s.c(PROGRAM)

    def copying():
        written = temporary if temporary.exists() else installed
        return written.stat().st_size not in (0, len(previous))

    expect(s.run_killed(copying), True, 'killed while the program was being copied')
    if temporary.exists():
        print(f'killed with {temporary.stat().st_size:,} of {big.stat().st_size:,} bytes copied')
    expect(s.c(PROGRAM).read_bytes() == previous, True, 'the previous program, whole')
    expect_completion(s.run(), 'Upgrade ready.')
    expect(sha256(s.c(PROGRAM)), sha256(big), 'the new program after the rerun')


@scenario
def double_launch_runs_one_after_the_other(s):
    """Setup started twice at once, as a double click twice does, each from a
    distribution of its own with a 48 MB program: one run installs, the other
    waits for it and then upgrades; each shows its own box, and every file the
    upgrade replaces is its own, so none was written by the first run after
    the second began. Nothing is left behind."""
    s.put_distribution()
    (s.dist / 'Orvo Tool.exe').write_bytes(b'first program ' * (48 << 16))
    other = s.drive_c / 'dist-other'
    shutil.copytree(s.dist, other)
    for path in other.rglob('*'):
        if path.is_file() and path.name not in ('dLangv.dat', 'Setup.exe'):
            path.write_bytes(b'other ' + path.read_bytes())
    before = s.observe()
    started = [s.start(s.root / 'first.txt'), s.start(s.root / 'second.txt', dist=other)]
    try:
        results = [s.finish(run, before) for run in started]
    finally:
        s.stop_wine()
    texts = [Report.box_text(r.boxes[0]) for r in results]
    expect(sorted(texts), ['Instaltion completed.', 'Upgrade ready.'], 'one installation, then one upgrade')
    for result, text in zip(results, texts):
        expect_completion(result, text)
    upgrade, first = (other, s.dist) if texts[1] == 'Upgrade ready.' else (s.dist, other)
    for source, target in expected_plan.copies() + [(n, n) for n in expected_plan.shortcuts()]:
        installed = s.c(target) if target.startswith('C:') else s.desktop / target.lstrip('\\')
        kept = source in ('Data\\Power.txt', 'Data\\PowerEN.txt')
        wanted = (first if kept else upgrade) / expected_plan.host(source)
        run = 'first' if kept else 'upgrading'
        expect(installed.read_bytes() == wanted.read_bytes(), True, f'{target} from the {run} run')


@scenario
def a_lock_that_cannot_be_had_changes_nothing(s):
    """Another kind of object (an event) holds the lock's name: the error box
    says that another Setup may be running and nothing was changed, with the
    system's reason; nothing is made. A mutex whose holder ended without
    letting go is taken, and the run completes."""
    s.put_distribution()
    expect_error(s.run(lock='event'), TEXTS['no-lock'][1] + '\n' + 'Invalid handle.')
    expect(s.c('C:\\Orvo_Tool').exists() or s.c('C:\\Orvo_Tool Data').exists(), False, 'installed folders')
    expect(sorted(p.name for p in s.desktop.iterdir()), [], 'desktop items')
    expect_completion(s.run(lock='abandoned'), 'Instaltion completed.')


if __name__ == '__main__':
    sys.exit(scenario.main(sys.argv))
