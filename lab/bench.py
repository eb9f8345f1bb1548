#!/usr/bin/env python3
"""Speed figures for the installer; prints them, asserts nothing.

1. POSIX port: install a ~512 MB distribution into a fresh tree, against the
   same files copied with cp; median of several alternated runs.
2. Under Wine: time from start to the completion box, against a program that
   only shows one task dialog, alternated in the same prefix.
3. Desktop-setting reads per run (Wine's registry trace) and file-system calls
   per installed file (strace on the POSIX port).
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from collections import Counter
from pathlib import Path

root = Path(__file__).resolve().parent.parent
from lab import plan, scenario
from lab import wine as lab
from sample import distribution as sample

RUNS = int(os.environ.get('BENCH_RUNS', '5'))
MB = 1 << 20
# PDFs of several sizes; with the desktop copy about 512 MB are installed.
PDF_SIZES = {'Data/Kesmark.pdf': 1, 'Data/KesmarkE.pdf': 2, 'Data/KesmarkD.pdf': 4, 'Data/KesmarkS.pdf': 8,
             'Orvo Tool CZ.pdf': 64, 'Orvo Tool DE.pdf': 64, 'Orvo Tool EN.pdf': 64}
PLAN = plan.load()
LIST_PDFS = [plan.host(s) for s in plan.sources(PLAN)
             if s.startswith('Data\\') and s.endswith('.pdf') and s not in ('Data\\' + n[5:] for n in PDF_SIZES)]
for i, name in enumerate(LIST_PDFS):
    PDF_SIZES[name] = 4 + 4 * i + (1 if i == 9 else 0)


def big_distribution(folder):
    sample.write(folder, language=1)
    for name, size in PDF_SIZES.items():
        (folder / name).write_bytes(sample.pdf(Path(name).name, size * MB))


def copies(dist, target_root, desktop):
    """(source, target folder) of every copy the installer makes, for cp."""
    groups = {desktop: [plan.host(n) for n in plan.shortcuts(PLAN)] + ['Orvo Tool EN.pdf']}
    for source, target in plan.copies(PLAN):
        folder = target_root / 'drive_c' / plan.host(target[3:]).rpartition('/')[0]
        groups.setdefault(folder, []).append(plan.host(source))
    return {folder: [str(dist / s) for s in sources] for folder, sources in groups.items()}


def fresh(work):
    shutil.rmtree(work / 'target', ignore_errors=True)
    (work / 'target/drive_c').mkdir(parents=True)
    (work / 'target/Desktop').mkdir()
    subprocess.run(['sync'])


def run_setup(exe, dist, work, wrap=()):
    env = dict(os.environ, WINEPREFIX=str(work / 'target'), XDG_CONFIG_HOME=str(work / 'config'))
    t0 = time.perf_counter()
    proc = subprocess.run(list(wrap) + [str(exe)], cwd=dist, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)
    elapsed = time.perf_counter() - t0
    if proc.returncode != 0:
        raise RuntimeError(f'Setup failed: {proc.stdout} {proc.stderr}')
    return elapsed


def run_cp(dist, work):
    t0 = time.perf_counter()
    for folder, sources in copies(dist, work / 'target', work / 'target/Desktop').items():
        folder.mkdir(parents=True, exist_ok=True)
        subprocess.run(['cp', '--preserve=mode,timestamps'] + sources + [str(folder)], check=True)
    return time.perf_counter() - t0


def run_cp_sync(dist, work):
    """cp, then sync of every copied file and its folder: the durability
    Setup gives each file it publishes."""
    t0 = time.perf_counter()
    run_cp(dist, work)
    copied = [p for p in (work / 'target').rglob('*') if p.is_file()]
    subprocess.run(['sync'] + [str(p) for p in copied] + sorted({str(p.parent) for p in copied}), check=True)
    return time.perf_counter() - t0


def posix_figures(native_exe):
    with tempfile.TemporaryDirectory(prefix='setup-bench-') as tmp:
        work = Path(tmp)
        dist = work / 'dist'
        big_distribution(dist)
        (work / 'config').mkdir()
        (work / 'config/user-dirs.dirs').write_text(f'XDG_DESKTOP_DIR="{work}/target/Desktop"\n')
        setup_times, cp_times, sync_times = [], [], []
        for _ in range(RUNS):
            fresh(work)
            setup_times.append(run_setup(native_exe, dist, work))
            installed = sum(p.stat().st_size for p in (work / 'target').rglob('*') if p.is_file())
            fresh(work)
            cp_times.append(run_cp(dist, work))
            fresh(work)
            sync_times.append(run_cp_sync(dist, work))
        s, c, y = (statistics.median(t) for t in (setup_times, cp_times, sync_times))
        count = sum(1 for p in (work / 'target').rglob('*') if p.is_file())
        print(f'POSIX port: {installed / MB:.0f} MB installed in {count} files')
        print(f'  Setup median {s * 1000:.0f} ms, cp median {c * 1000:.0f} ms, cp and sync median {y * 1000:.0f} ms '
              f'over {RUNS} alternated runs')
        print(f'  Setup / cp = {s / c:.3f}; Setup / (cp and sync) = {s / y:.3f}')
        fresh(work)
        trace = work / 'strace.txt'
        run_setup(native_exe, dist, work, wrap=['strace', '-f', '-qq', '-o', str(trace)])
        calls = Counter(m.group(1) for line in trace.read_text().splitlines()
                        if (m := re.match(r'\d+\s+(\w+)\(', line)))
        fs = {'openat', 'newfstatat', 'fstat', 'statx', 'stat', 'lstat', 'copy_file_range', 'read', 'write', 'close',
              'utimensat', 'fchmod', 'mkdir', 'unlink', 'access', 'fsync', 'rename', 'renameat2', 'link', 'flock',
              'chmod', 'fchmodat'}
        files = sum(1 for p in (work / 'target').rglob('*') if p.is_file())
        total = sum(n for name, n in calls.items() if name in fs)
        print(f'  file-system calls: {total} for {files} installed files = {total / files:.1f} per file; '
              + ', '.join(f'{k} {v}' for k, v in calls.most_common() if k in fs))


def wine_figures():
    with scenario.Session(root / 'build' / 'bench'):
        s = scenario.Scenario('bench')
        s.put_distribution(language=1)
        yardstick = Path(shutil.copy2(lab.windows_build() / 'one_task_dialog.exe', s.dist))
        setup_ms, dialog_ms = [], []
        for _ in range(RUNS):
            for name in ('Orvo_Tool', 'Orvo_Tool Data'):
                shutil.rmtree(s.drive_c / name, ignore_errors=True)
            for p in s.desktop.iterdir():
                p.unlink()
            setup_ms.append(s.run(quiet=True).boxes[0]['seen_ms'])
            dialog_ms.append(s.run(exe=yardstick, quiet=True).boxes[0]['seen_ms'])
        a, b = statistics.median(setup_ms), statistics.median(dialog_ms)
        print(f'Wine ({lab.arch()}): start to completion box, median of {RUNS}: Setup {a} ms, '
              f'one task dialog {b} ms; ratio {a / b:.3f}')
        print(f'  Setup runs {setup_ms}, task dialog runs {dialog_ms}')
        opens = scenario.shell_folders_opens(s.run(quiet=True, trace_registry=True).trace)
        print(f'  desktop-setting reads per run: {len(opens)}, with access masks {sorted(set(opens))}')


def main():
    posix_figures(root / 'build' / 'native' / 'Setup')
    wine_figures()


if __name__ == '__main__':
    main()
