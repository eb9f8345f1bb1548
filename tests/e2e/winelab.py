"""Runs the real Setup.exe under Wine, one fresh prefix per scenario.

A template prefix is booted once per test run and copied for each scenario.
The Win32 helper boxprobe.exe starts the installer, reads every box and the
main window, saves PNG screenshots, presses OK and writes a UTF-8 report.

Environment (set by CTest): SETUP_WINDOWS_BUILD (folder with Setup.exe and
boxprobe.exe), SETUP_WINE_ARCH (win32 or win64), SETUP_LAB (work folder).
"""
import hashlib
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / 'scripts'))
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
import expected_plan  # noqa: E402
import make_distribution  # noqa: E402

WINE_ENV = {
    'WINEDEBUG': '-all',
    'WINEDLLOVERRIDES': 'mscoree,mshtml=;winemenubuilder.exe=d',
    'LANG': 'C.UTF-8',
}
# Without CAP_DAC_OVERRIDE root obeys file permissions, as a Windows user obeys
# the read-only attribute; measured to give Windows error 5 under Wine here.
NO_DAC_OVERRIDE = ['setpriv', '--bounding-set=-dac_override,-dac_read_search',
                   '--inh-caps=-dac_override,-dac_read_search']


def lab_dir():
    return Path(os.environ.get('SETUP_LAB', Path.cwd() / 'wine-lab'))


def arch():
    return os.environ.get('SETUP_WINE_ARCH', 'win32')


def windows_build():
    return Path(os.environ['SETUP_WINDOWS_BUILD'])


def loader():
    return '/usr/lib/wine/wine64' if arch() == 'win64' else '/usr/lib/wine/wine'


def wineserver():
    return '/usr/lib/wine/wineserver'


def display():
    env = os.environ.get('DISPLAY')
    f = lab_dir() / 'display'
    if f.exists():
        return f.read_text().split()[0]
    if env:
        return env
    raise RuntimeError('no X display: run the wine.display fixture or set DISPLAY')


def z_path(p):
    """The Windows name of a host path through Wine's Z: drive."""
    return 'Z:' + str(Path(p).resolve()).replace('/', '\\')


# ---- fixtures ---------------------------------------------------------------

def start_display():
    lab_dir().mkdir(parents=True, exist_ok=True)
    r, w = os.pipe()
    proc = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
                            pass_fds=(w,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(w)
    number = b''
    deadline = time.time() + 30
    while not number.endswith(b'\n') and time.time() < deadline:
        chunk = os.read(r, 16)
        if not chunk:
            break
        number += chunk
    os.close(r)
    if not number.strip():
        proc.kill()
        raise RuntimeError('Xvfb did not start')
    (lab_dir() / 'display').write_text(f':{number.decode().strip()} {proc.pid}\n')
    print(f'Xvfb on :{number.decode().strip()} (pid {proc.pid})')


def stop_display():
    f = lab_dir() / 'display'
    if not f.exists():
        return
    _, pid = f.read_text().split()
    try:
        os.kill(int(pid), signal.SIGTERM)
    except ProcessLookupError:
        pass
    f.unlink()
    print(f'Xvfb {pid} stopped')


def scenario_env(prefix, home):
    """`home` must not exist: Wine then keeps the user's folders (the desktop
    among them) inside the prefix instead of linking them to the host's home."""
    assert not home.exists(), home
    env = {k: v for k, v in os.environ.items() if not k.startswith('WINE')}
    env.update(WINE_ENV)
    env.update({'WINEPREFIX': str(prefix), 'WINEARCH': arch(), 'HOME': str(home),
                'XDG_CONFIG_HOME': str(home / '.config'), 'DISPLAY': display()})
    return env


def boot_template():
    """Boots the prefix every scenario starts from."""
    template = lab_dir() / 'template'
    shutil.rmtree(template, ignore_errors=True)
    env = scenario_env(template, lab_dir() / 'no-home')
    t0 = time.time()
    subprocess.run([loader(), 'wineboot', '-i'], env=env, check=True, timeout=300,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # A managed window waits for a window manager that Xvfb does not have.
    subprocess.run([loader(), 'reg', 'add', 'HKCU\\Software\\Wine\\X11 Driver', '/v', 'Managed', '/d', 'N', '/f'],
                   env=env, check=True, timeout=120, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([wineserver(), '-w'], env=env, timeout=120)
    print(f'template prefix ({arch()}) booted in {time.time() - t0:.1f} s')
    measure_registry_baseline(template)


# ---- scenarios --------------------------------------------------------------

def unescape(value):
    """Reverses boxprobe's escaping of backslashes and line breaks, in one pass."""
    return re.sub(r'\\(.)', lambda m: {'n': '\n', 'r': '\r'}.get(m.group(1), m.group(1)), value)


class Report:
    """What boxprobe saw: boxes and windows in order, and the exit status."""

    def __init__(self, text):
        self.boxes, self.windows, self.exit, self.timeout, self.notes = [], [], None, False, []
        block = None
        for line in text.splitlines():
            if line in ('box', 'window', 'window-before-box'):
                block = {'kind': line, 'children': [], 'icon': 'none'}
            elif line == 'end' and block is not None:
                (self.boxes if block['kind'] == 'box' else self.windows).append(block)
                block = None
            elif '=' in line:
                key, value = line.split('=', 1)
                value = unescape(value)
                if block is None and key == 'seen_ms' and self.boxes:
                    self.boxes[-1]['seen_ms'] = int(value)
                elif block is None:
                    if key == 'exit':
                        self.exit = int(value)
                    elif key == 'timeout':
                        self.timeout = True
                    else:
                        self.notes.append(line)
                elif key == 'child':
                    cls, cid, vis, txt = value.split('|', 3)
                    block['children'].append({'class': cls, 'id': int(cid), 'visible': vis == 'visible', 'text': txt})
                else:
                    block[key] = value

    @staticmethod
    def box_kind(box):
        statics = [c for c in box['children'] if c['class'].lower() == 'static']
        return 'messagebox' if any(c['id'] == 65535 for c in statics) else 'taskdialog'

    @staticmethod
    def box_text(box):
        statics = [c for c in box['children'] if c['class'].lower() == 'static']
        if Report.box_kind(box) == 'messagebox':
            return next(c['text'] for c in statics if c['id'] == 65535)
        # Task dialog: heading first, then the main text.
        return statics[1]['text'] if len(statics) > 1 else ''

    @staticmethod
    def box_heading(box):
        statics = [c for c in box['children'] if c['class'].lower() == 'static']
        return statics[0]['text'] if Report.box_kind(box) == 'taskdialog' and statics else ''

    @staticmethod
    def buttons(box):
        return [c['text'] for c in box['children'] if c['class'].lower() == 'button' and c['visible']]


# ---- invariants checked around every run of the installer ----------------------

POWER_LISTS = [expected_plan.host(t[3:]) for t in expected_plan.kept_targets()]
DESKTOP_NAMES = expected_plan.desktop_names()


def snapshot(drive_c):
    """Path -> fingerprint: kind, size, content hash and read-only bit; Wine's
    hard-linked system files by inode, size and time instead of content."""
    out = {}
    for folder, dirs, files in os.walk(drive_c):
        for name in dirs + files:
            path = Path(folder) / name
            rel = str(path.relative_to(drive_c))
            st = os.lstat(path)
            if os.path.islink(path):
                out[rel] = ('link', os.readlink(path))
            elif name in dirs:
                out[rel] = ('dir', bool(st.st_mode & 0o200))
            elif rel.startswith('windows/'):
                out[rel] = ('system file', st.st_ino, st.st_size, st.st_mtime_ns)
            else:
                digest = hashlib.sha256(path.read_bytes()).hexdigest()
                out[rel] = ('file', st.st_size, digest, bool(st.st_mode & 0o200))
    return out


def registry(prefix):
    """Key -> {value name: data} of the prefix's registry files, without time stamps."""
    keys = {}
    for name in ('system.reg', 'user.reg', 'userdef.reg'):
        key = None
        text = (prefix / name).read_text(encoding='utf-8', errors='replace').replace('\\\n  ', '')
        for line in text.splitlines():
            if line.startswith('['):
                key = name + ':' + line[1:line.rindex(']')]
                keys.setdefault(key, {})
            elif key and line and not line.startswith(('#', ';')):
                value, _, data = line.partition('=')
                keys[key][value] = data
    return keys


def changed_keys(before, after):
    return {k for k in set(before) | set(after) if before.get(k) != after.get(k)}


def key_family(key):
    """The part of a key that Wine's own changes are measured by."""
    return '\\\\'.join(key.split('\\\\')[:4])


def allowed_path(rel, desktops):
    if rel in ('Orvo_Tool', 'Orvo_Tool Data') or rel.startswith(('Orvo_Tool/', 'Orvo_Tool Data/')):
        return True
    parent, _, name = rel.rpartition('/')
    # Wine keeps a file's Zone.Identifier stream as a sibling named after it.
    return parent in desktops and name.removesuffix(':Zone.Identifier') in DESKTOP_NAMES


def check_invariants(before, after, reg_before, reg_after, desktops, harness_keys=()):
    """Raises when the run touched what it must not. `desktops` are the desktop
    folders relative to drive_c; `harness_keys` what the scenario itself set."""
    stray = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p)
                   and not allowed_path(p, desktops))
    expect(stray, [], 'paths changed outside the installed trees and the desktop names')
    for rel in POWER_LISTS:
        if rel in before:
            expect(after.get(rel), before[rel], f'kept file {rel}')
    baseline = set((lab_dir() / 'registry-baseline.txt').read_text().splitlines())
    written = sorted(k for k in changed_keys(reg_before, reg_after)
                     if key_family(k) not in baseline and k not in harness_keys)
    expect(written, [], 'registry keys written beyond what Wine itself changes')


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


def copy_prefix(template, prefix):
    """A fresh prefix from the template. Wine's system files (about 500 MB in a
    64-bit prefix) are hard links: Wine only maps them, and the snapshot checks
    that they keep their inode, size and time. Everything else is copied."""
    windows = Path('drive_c') / 'windows'
    shutil.copytree(template, prefix, symlinks=True,
                    ignore=lambda d, names: ['windows'] if Path(d) == template / 'drive_c' else [])
    shutil.copytree(template / windows, prefix / windows, symlinks=True, copy_function=os.link)


class Scenario:
    """A fresh prefix, a distribution folder and one run of the installer."""

    def __init__(self, name):
        self.name = name
        self.root = lab_dir() / 'scenarios' / name
        shutil.rmtree(self.root, ignore_errors=True)
        self.prefix = self.root / 'prefix'
        self.home = self.root / 'no-home'
        self.dist = self.root / 'dist'
        self.dist.mkdir(parents=True)
        copy_prefix(lab_dir() / 'template', self.prefix)
        self.drive_c = self.prefix / 'drive_c'
        self.env = scenario_env(self.prefix, self.home)
        self.exe_name = 'Setup.exe'
        self.cwd = None  # the distribution folder, unless a scenario starts Setup elsewhere
        self.desktops = [self.desktop]

    def check_run(self, result, before, reg_before, set_desktop):
        """Every run: one box, a defined exit status, no hang, and nothing
        touched beyond the installed trees, the desktop names and the registry
        changes Wine makes by itself."""
        expect(result.timeout, False, 'run finished before the watchdog')
        expect(len(result.boxes), 1, 'number of boxes')
        expect(result.exit in (0, 1), True, f'exit status {result.exit} is 0 or 1')
        desktops = [str(d.relative_to(self.drive_c)) for d in self.desktops]
        harness = {'user.reg:Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders'} \
            if set_desktop else set()
        check_invariants(before, snapshot(self.drive_c), reg_before, registry(self.prefix), desktops, harness)

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

    def run(self, show=None, hold=None, unprivileged=False, timeout=60, reg_desktop=None, exe=None, quiet=False,
            trace_registry=False, native_dlls=(), check=True):
        """Runs the installer through boxprobe; returns the Report (with Wine's
        registry trace in .trace when asked for)."""
        report = self.root / 'report.txt'
        cmd = [loader(), str(windows_build() / 'boxprobe.exe'), '--report', z_path(report),
               '--exe', z_path(exe or self.dist / self.exe_name), '--cwd', z_path(self.cwd or self.dist),
               '--shots', z_path(self.root / 'shot'), '--timeout', str(timeout)]
        if show:
            cmd += ['--show', show]
        if hold:
            cmd += ['--hold', hold]
        if reg_desktop and len(reg_desktop) > 8000:
            (self.root / 'desktop-value.txt').write_text(reg_desktop)
            reg_desktop = '@' + z_path(self.root / 'desktop-value.txt')
        if reg_desktop:
            cmd += ['--reg-desktop', reg_desktop]
        if unprivileged:
            cmd = NO_DAC_OVERRIDE + cmd
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
            subprocess.run([wineserver(), '-k'], env=self.env, timeout=60)
        self.seconds = time.time() - t0
        if proc.returncode != 0 or not report.exists():
            raise AssertionError(f'boxprobe failed ({proc.returncode}): {proc.stderr.decode(errors="replace")}')
        result = Report(report.read_text(encoding='utf-8'))
        result.trace = proc.stderr.decode(errors='replace') if trace_registry else ''
        if check:
            self.check_run(result, before, reg_before, bool(reg_desktop))
        for box in [] if quiet else result.boxes + result.windows:
            if box.get('shot'):
                print(f'screenshot: {self.root / Path(box["shot"].replace(chr(92), "/")).name}')
        return result


def main(argv):
    commands = {'start-display': start_display, 'stop-display': stop_display, 'boot-template': boot_template}
    if len(argv) != 2 or argv[1] not in commands:
        print('usage: winelab.py ' + '|'.join(commands), file=sys.stderr)
        return 2
    commands[argv[1]]()
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))


# ---- registry values, as boxprobe's --reg-desktop takes them -------------------

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


# ---- scenario registry ------------------------------------------------------

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
        s = Scenario(argv[1])
        self.table[argv[1]](s)
        # Kept only when the scenario fails, for a look at what went wrong.
        shutil.rmtree(s.prefix)
        print(f'{argv[1]}: passed under Wine ({arch()}) in {time.time() - t0:.1f} s')
        return 0


def expect(actual, wanted, what):
    if actual != wanted:
        raise AssertionError(f'{what}: expected {wanted!r}, got {actual!r}')


def only_box(report):
    expect(report.timeout, False, 'run finished before the watchdog')
    expect(len(report.boxes), 1, 'number of boxes')
    return report.boxes[0]


def expect_completion(report, text, caption='Setup'):
    """One task dialog: caption, empty heading, the text, one OK, no icon; exit 0."""
    box = only_box(report)
    expect(Report.box_kind(box), 'taskdialog', 'box kind')
    expect(box['caption'], caption, 'box caption')
    expect(Report.box_heading(box), '', 'box heading')
    expect(Report.box_text(box), text, 'box text')
    expect(Report.buttons(box), ['OK'], 'box buttons')
    expect(box['icon'], 'none', 'box icon')
    expect([w['kind'] for w in report.windows], [], 'main window before the box or left open after it')
    expect(report.exit, 0, 'exit status')


# The incomplete-installation message's first line, by language code.
INCOMPLETE = {0: 'Instalace není dokončena: {} soubor(ů) nelze nainstalovat (první: {})',
              1: 'Installation incomplete: {} file(s) could not be installed (first: {})',
              2: 'Installation unvollständig: {} Datei(en) konnten nicht installiert werden (erste: {})',
              4: 'Установка не завершена: не удалось установить файлов: {} (первый: {})'}
# Wine's own (English) texts for the system's error codes.
WINE_ERROR = {2: 'File not found.', 3: 'Path not found.', 5: 'Access denied.', 32: 'Sharing violation.'}


def incomplete(count, first, name, error, language=1):
    """The whole text: count and first target, then the failed name and the system's reason."""
    return INCOMPLETE[language].format(count, first) + f'\n{name}: {WINE_ERROR[error]}'


def expect_error(report, text, caption='Setup'):
    """One system box with the stop icon, then the empty main window stays until closed; exit 1."""
    box = only_box(report)
    expect(Report.box_kind(box), 'messagebox', 'box kind')
    expect(box['caption'], caption, 'box caption')
    expect(Report.box_text(box), text, 'box text')
    expect(Report.buttons(box), ['OK'], 'box buttons')
    expect(box['icon'], 'stop', 'box icon')
    windows = [w for w in report.windows if w['kind'] == 'window']
    expect(len(windows), 1, 'main window left open after the error box')
    expect(windows[0]['caption'], 'Setup 1.0', 'main window caption')
    expect([c['text'] for c in windows[0]['children'] if c['visible']], [], 'visible controls on the main window')
    expect(report.exit, 1, 'exit status')
    return windows[0]
