"""A scenario: a fresh prefix copied from the template, a distribution folder
on its C: drive, and runs of the installer through boxprobe, each checked
against the shared invariants. Also the registry values boxprobe sets, the
named scenario sets CTest runs, and the lab a script can hold for a while."""
import os
import pwd
import shutil
import subprocess
import sys
import time
from pathlib import Path

from lab import (NO_DAC_OVERRIDE, OwnDisplay, arch, boot_prefix, copy_prefix, lab_dir, loader, scenario_env,
                 start_display, stop_display, wineserver, windows_build, z_path)
import make_distribution  # noqa: E402  (its folder is put on the path by lab)
from expectations import expect, only_box
from invariants import changed_keys, check_invariants, key_family, registry, snapshot
from report import Report


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

    def check_run(self, result, before, reg_before, set_desktop):
        """Every run: one box, a defined exit status, no hang, and nothing
        touched beyond the installed trees, the desktop names and the registry
        changes Wine makes by itself."""
        only_box(result)
        expect(result.exit in (0, 1), True, f'exit status {result.exit} is 0 or 1')
        desktops = [str(d.relative_to(self.drive_c)) for d in self.desktops]
        harness = {'user.reg:Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders'} \
            if set_desktop else set()
        check_invariants(before, snapshot(self.drive_c), reg_before, registry(self.prefix), desktops, harness)

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
        make_distribution.write(self.dist, language, without)

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
        before, reg_before = (snapshot(self.drive_c), registry(self.prefix)) if check else (None, None)
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
            self.check_run(result, before, reg_before, bool(reg_desktop))
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

    def finish(self, started, before, reg_before):
        proc, report = started
        _, err = proc.communicate(timeout=180)
        if proc.returncode != 0 or not report.exists():
            raise AssertionError(f'boxprobe failed ({proc.returncode}): {err.decode(errors="replace")}')
        result = Report(report.read_text(encoding='utf-8'))
        self.check_run(result, before, reg_before, False)
        return result

    def run_killed(self, until, timeout=60):
        """Starts the installer and kills its process (SIGKILL: no box, no exit
        status) as soon as `until()` holds; the trees may then hold planned
        names and their temporary names only. Returns whether `until()` held
        before the run ended by itself."""
        before, reg_before = snapshot(self.drive_c), registry(self.prefix)
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
        desktops = [str(d.relative_to(self.drive_c)) for d in self.desktops]
        check_invariants(before, snapshot(self.drive_c), reg_before, registry(self.prefix), desktops, killed=True)
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


class Skip(Exception):
    """A scenario this host cannot stage, with the reason."""


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


def bites(path, mode):
    """True when, without the file-permission privilege, `path` cannot be opened
    in `mode` (or a folder made in it): the fault a scenario sets up really happens."""
    code = f'import os; os.mkdir({str(path / "x")!r})' if mode == 'mkdir' else f'open({str(path)!r}, {mode!r})'
    proc = subprocess.run(NO_DAC_OVERRIDE + [sys.executable, '-c', code], capture_output=True)
    return proc.returncode != 0 and b'PermissionError' in proc.stderr


def place(path, data, mode=None):
    """A file of the scenario's own, before the run."""
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    if mode is not None:
        path.chmod(mode)
    return path


def boot_template():
    """The template prefix, and what Wine changes in its registry by itself."""
    measure_registry_baseline(boot_prefix())


# The exit status of a skipped scenario, as CTest is told.
SKIPPED = 77

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 1, 2, 3, 4, 7, 11


def reg_value(kind, data):
    return f'{kind}:{data.hex()}'


def reg_text(text, kind=REG_SZ, terminated=True):
    return reg_value(kind, (text + ('\0' if terminated else '')).encode('utf-16-le'))


def shell_folders_opens(trace):
    """Access masks with which the installer opened the Shell Folders key,
    from Wine's registry trace (the installer spells the key in capitals)."""
    key = 'L"SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders",'
    return [line.split(key, 1)[1].split(',', 1)[0] for line in trace.splitlines()
            if 'NtOpenKeyEx' in line and key in line]


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


class Scenarios:
    """A named set of scenario functions, run one per process by CTest."""

    def __init__(self):
        self.table = {}

    def __call__(self, fn):
        self.table[fn.__name__] = fn
        return fn

    def main(self, argv):
        if len(argv) == 2 and argv[1] == '--list':
            print(';'.join(self.table))
            return 0
        if len(argv) != 2 or argv[1] not in self.table:
            print('usage: SCRIPT --list | ' + '|'.join(self.table), file=sys.stderr)
            return 2
        t0 = time.time()
        try:
            with OwnDisplay():
                s = Scenario(argv[1])
                try:
                    self.table[argv[1]](s)
                finally:
                    s.stop_wine()  # nothing of the prefix may outlive its display
        except Skip as skip:
            shutil.rmtree(s.prefix)
            print(f'{argv[1]}: skipped: {skip}')
            return SKIPPED
        # Kept only when the scenario fails, for a look at what went wrong.
        shutil.rmtree(s.prefix)
        print(f'{argv[1]}: passed under Wine ({arch()}) in {time.time() - t0:.1f} s')
        return 0
