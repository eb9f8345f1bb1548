"""A scenario: a fresh prefix copied from the template, a distribution folder
on its C: drive, and runs of the installer through boxprobe. Also the
registry values boxprobe sets and the lab a script can hold for a while. The
Wine tests check each run (their checked.py); here a run is only made."""
import os
import pwd
import shutil
import subprocess
import sys
import time
from pathlib import Path

from lab.report import Report
from lab.snapshot import changed_keys, key_family, registry
from lab.wine import (NO_DAC_OVERRIDE, boot_prefix, copy_prefix, lab_dir, loader, scenario_env, start_display,
                      stop_display, wineserver, windows_build, z_path)
from sample import distribution as sample


class Scenario:
    """A fresh prefix, a distribution folder and one run of the installer."""

    def __init__(self, name):
        self.name = name
        self.root = lab_dir() / 'scenarios' / name
        shutil.rmtree(self.root, ignore_errors=True)
        self.prefix = self.root / 'prefix'
        self.home = self.root / 'no-home'
        copy_prefix(lab_dir() / 'template', self.prefix)
        self.drive_c = self.prefix / 'drive_c'
        # On the prefix's own C:, so that "the root of the current drive" is
        # inside the lab, where the invariants see it and the prefix is thrown away.
        self.dist = self.drive_c / 'dist'
        self.dist.mkdir()
        self.env = scenario_env(self.prefix, self.home)
        self.exe_name = 'Setup.exe'
        self.cwd = None  # the distribution folder, unless a scenario starts Setup elsewhere
        self.desktops = [self.desktop]

    def observe(self):
        """What a run's checks compare against, taken before it: nothing here."""
        return None

    def check_run(self, result, before, set_desktop):
        """Checks one run that ended; a lab run is only made."""

    def check_killed(self, before):
        """Checks what a killed run left; a lab run is only made."""

    def win(self, path):
        """The Windows name of a host path inside this prefix's drive C:."""
        return 'C:\\' + str(Path(path).relative_to(self.drive_c)).replace('/', '\\')

    def c(self, windows_path):
        """Host path of a C: path."""
        assert windows_path[:3].upper() == 'C:\\'
        return self.drive_c / windows_path[3:].replace('\\', '/')

    def put_installer(self, name='Setup.exe'):
        self.exe_name = name
        shutil.copy2(windows_build() / 'Setup.exe', self.dist / name)

    def put_distribution(self, language=1, without=()):
        """The installer beside a complete sample distribution."""
        self.put_installer()
        sample.write(self.dist, language, without)

    @property
    def desktop(self):
        return self.drive_c / 'users' / pwd.getpwuid(os.getuid()).pw_name / 'Desktop'

    def probe(self, report, timeout=60, exe=None, shots='shot', cwd=None):
        """boxprobe's command line for one run; the report and the pictures are
        the harness's, kept on the host through Z:."""
        return [loader(), str(windows_build() / 'boxprobe.exe'), '--report', z_path(report),
                '--exe', self.win(exe or self.dist / self.exe_name), '--cwd', self.win(cwd or self.cwd or self.dist),
                '--shots', z_path(self.root / shots), '--timeout', str(timeout)]

    def run(self, show=None, hold=None, cover=False, unprivileged=False, timeout=60, reg_desktop=None, exe=None, quiet=False,
            trace_registry=False, native_dlls=(), check=True, wrap=(), lock=None):
        """Runs the installer through boxprobe (inside `wrap`, a command that
        runs the rest); returns the Report (with Wine's registry trace in
        .trace when asked for)."""
        report = self.root / 'report.txt'
        cmd = self.probe(report, timeout, exe)
        if show:
            cmd += ['--show', show]
        if hold:
            cmd += ['--hold', hold]
        if cover:
            cmd += ['--cover', '1']
        if lock:
            cmd += ['--lock', lock]
        if reg_desktop and len(reg_desktop) > 8000:
            (self.root / 'desktop-value.txt').write_text(reg_desktop)
            reg_desktop = '@' + z_path(self.root / 'desktop-value.txt')
        if reg_desktop:
            cmd += ['--reg-desktop', reg_desktop]
        if unprivileged:
            cmd = NO_DAC_OVERRIDE + cmd
        cmd = list(wrap) + cmd
        before = self.observe() if check else None
        env = dict(self.env)
        if trace_registry:
            env['WINEDEBUG'] = '-all,trace+reg'
        if native_dlls:
            env['WINEDLLOVERRIDES'] += ';' + ','.join(native_dlls) + '=n,b'
        t0 = time.time()
        try:
            proc = subprocess.run(cmd, env=env, timeout=timeout + 60, capture_output=True)
        finally:
            self.stop_wine()
        self.seconds = time.time() - t0
        if proc.returncode != 0 or not report.exists():
            raise AssertionError(f'boxprobe failed ({proc.returncode}): {proc.stderr.decode(errors="replace")}')
        result = Report(report.read_text(encoding='utf-8'))
        result.trace = proc.stderr.decode(errors='replace') if trace_registry else ''
        if b'Unhandled exception' in proc.stderr:
            print("a process of the prefix crashed; Wine's crash handler said:\n" + proc.stderr.decode(errors='replace'))
        if check:
            self.check_run(result, before, bool(reg_desktop))
        for box in [] if quiet else result.boxes + result.windows:
            if box.get('shot'):
                print(f'screenshot: {self.root / Path(box["shot"].replace(chr(92), "/")).name}')
        return result


    def read_shortcuts(self, paths):
        """The shortcuts at `paths` (host paths in this prefix) as Wine's shell
        reads and resolves them: boxprobe's shortcut blocks, in order."""
        report = self.root / 'shortcuts.txt'
        cmd = [loader(), str(windows_build() / 'boxprobe.exe'), '--report', z_path(report)]
        for path in paths:
            cmd += ['--shortcut', self.win(path)]
        try:
            proc = subprocess.run(cmd, env=self.env, timeout=120, capture_output=True)
        finally:
            self.stop_wine()
        if proc.returncode != 0 or not report.exists():
            raise AssertionError(f'boxprobe failed ({proc.returncode}): {proc.stderr.decode(errors="replace")}')
        return Report(report.read_text(encoding='utf-8')).shortcuts

    def stop_wine(self):
        """Ends every process of the prefix and waits for its server to go, so
        that the next run starts one of its own (in its own mount namespace)."""
        subprocess.run([wineserver(), '-k'], env=self.env, timeout=60)
        subprocess.run([wineserver(), '-w'], env=self.env, timeout=60)

    def start(self, report, timeout=60, dist=None):
        """A run in the background (of the Setup.exe in `dist`, there), with
        what it will be checked against."""
        exe = dist / self.exe_name if dist else None
        return (subprocess.Popen(self.probe(report, timeout, exe=exe, shots=report.stem, cwd=dist), env=self.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE), report)

    def finish(self, started, before):
        proc, report = started
        _, err = proc.communicate(timeout=180)
        if proc.returncode != 0 or not report.exists():
            raise AssertionError(f'boxprobe failed ({proc.returncode}): {err.decode(errors="replace")}')
        result = Report(report.read_text(encoding='utf-8'))
        self.check_run(result, before, False)
        return result

    def run_killed(self, until, timeout=60):
        """Starts the installer and kills its process (SIGKILL: no box, no exit
        status) as soon as `until()` holds; the trees may then hold planned
        names and their temporary names only. Returns whether `until()` held
        before the run ended by itself."""
        before = self.observe()
        proc, _ = self.start(self.root / 'killed.txt', timeout)
        caught = False
        try:
            deadline = time.time() + timeout
            while proc.poll() is None and time.time() < deadline and not caught:
                caught = until()
                if not caught:
                    time.sleep(0.002)
            if caught:
                for pid in self.setup_pids():
                    os.kill(pid, 9)
        finally:
            self.stop_wine()
            proc.wait(timeout=60)
        self.check_killed(before)
        return caught

    def setup_pids(self):
        """The installer's host processes: started by name from this scenario's distribution folder."""
        pids = []
        for proc in Path('/proc').iterdir():
            try:
                if (proc.name.isdigit() and self.exe_name.encode() in (proc / 'cmdline').read_bytes()
                        and Path(os.readlink(proc / 'cwd')) == Path(self.cwd or self.dist)):
                    pids.append(int(proc.name))
            except OSError:
                continue
        return pids


def measure_registry_baseline(template):
    """What Wine itself changes in the registry while a program that does
    nothing but show one task dialog runs: the families of keys it touches."""
    s = Scenario('registry-baseline')
    shutil.copy2(windows_build() / 'one_task_dialog.exe', s.dist)
    before = registry(s.prefix)
    s.run(exe=s.dist / 'one_task_dialog.exe', quiet=True, check=False)
    families = sorted({key_family(k) for k in changed_keys(before, registry(s.prefix))})
    (lab_dir() / 'registry-baseline.txt').write_text('\n'.join(families) + '\n')
    shutil.rmtree(s.root)
    print('registry baseline, key families Wine changes by itself in a run: ' + '; '.join(families))


def boot_template():
    """The template prefix, and what Wine changes in its registry by itself."""
    measure_registry_baseline(boot_prefix())


REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 1, 2, 3, 4, 7, 11


def reg_value(kind, data):
    return f'{kind}:{data.hex()}'


def reg_text(text, kind=REG_SZ, terminated=True):
    return reg_value(kind, (text + ('\0' if terminated else '')).encode('utf-16-le'))


class Session:
    """A lab of its own for a script: a virtual display and a booted
    template prefix for as long as the `with` block runs."""

    def __init__(self, lab):
        os.environ['SETUP_LAB'] = str(lab)

    def __enter__(self):
        start_display()
        try:
            boot_template()
        except BaseException:
            stop_display()
            raise
        return self

    def __exit__(self, *exc):
        stop_display()
