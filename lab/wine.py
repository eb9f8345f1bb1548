"""The virtual display, the Wine prefixes and the environment every Wine run
shares. Environment (set by CTest): SETUP_WINDOWS_BUILD (folder with Setup.exe
and boxprobe.exe), SETUP_WINE_ARCH (win32 or win64), SETUP_LAB (work folder)."""
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

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


def architecture_line(exe):
    """The report's architecture line for the program `exe` in this lab's
    prefix, as IsWow64Process2 gives it: derived from the prefix and the
    program's own PE machine, so each Wine path expects its own build."""
    data = Path(exe).read_bytes()
    machine = int.from_bytes(data[int.from_bytes(data[0x3C:0x40], 'little') + 4:][:2], 'little')
    kit = {0x14C: '32-bit x86', 0x8664: '64-bit x64'}[machine]
    system = 'x64' if arch() == 'win64' else 'x86'
    how = 'running under WoW64' if (system, kit) == ('x64', '32-bit x86') else 'native'
    return f'{system} system; this kit is {kit}, {how}'


def loader():
    return '/usr/lib/wine/wine64' if arch() == 'win64' else '/usr/lib/wine/wine'


def wineserver():
    return '/usr/lib/wine/wineserver'


def display():
    if _own_display:
        return _own_display
    env = os.environ.get('DISPLAY')
    f = lab_dir() / 'display'
    if f.exists():
        return f.read_text().split()[0]
    if env:
        return env
    raise RuntimeError('no X display: run the wine.display fixture or set DISPLAY')


def z_path(p):
    """The Windows name of a host path through Wine's Z: drive (the host's /):
    for the harness's own files, never for what a scenario installs from."""
    return 'Z:' + str(Path(p).resolve()).replace('/', '\\')


def launch_xvfb():
    """A new Xvfb on a free display number: (':N', its process)."""
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
    return f':{number.decode().strip()}', proc


def start_display():
    lab_dir().mkdir(parents=True, exist_ok=True)
    number, proc = launch_xvfb()
    (lab_dir() / 'display').write_text(f'{number} {proc.pid}\n')
    print(f'Xvfb on {number} (pid {proc.pid})')


class OwnDisplay:
    """A display of the scenario's own for as long as the `with` block runs.
    CTest runs scenarios side by side, and a picture taken from the screen
    would otherwise show whatever another scenario's window has there (a
    window of another prefix is not in this one's z-order)."""

    def __enter__(self):
        global _own_display
        _own_display, self.proc = launch_xvfb()
        return self

    def __exit__(self, *exc):
        global _own_display
        _own_display = None
        self.proc.terminate()
        self.proc.wait(timeout=30)


_own_display = None


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


def boot_prefix():
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
    return template


def copy_prefix(template, prefix):
    """A fresh prefix from the template. Wine's system files (about 500 MB in a
    64-bit prefix) are hard links: Wine only maps them, and the snapshot checks
    that they keep their inode, size and time. Everything else is copied."""
    windows = Path('drive_c') / 'windows'
    shutil.copytree(template, prefix, symlinks=True,
                    ignore=lambda d, names: ['windows'] if Path(d) == template / 'drive_c' else [])
    shutil.copytree(template / windows, prefix / windows, symlinks=True, copy_function=os.link)
