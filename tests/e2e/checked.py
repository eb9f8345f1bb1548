"""The Wine tests' scenarios: each run of the lab's Scenario checked against
what every run must show and leave alone, and the named scenario sets CTest
runs, one per process."""
import shutil
import subprocess
import sys
import time

import named
from expectations import expect, only_box
from invariants import check_invariants, registry, snapshot
from lab import scenario
from lab.wine import NO_DAC_OVERRIDE, OwnDisplay, arch
from named import Skip  # noqa: F401  (the scenario sets raise it)


class Scenario(scenario.Scenario):
    """A lab scenario whose every run is checked."""

    def observe(self):
        return snapshot(self.drive_c), registry(self.prefix)

    def check_run(self, result, before, set_desktop):
        """Every run: one box, a defined exit status, no hang, and nothing
        touched beyond the installed trees, the desktop names and the registry
        changes Wine makes by itself."""
        only_box(result)
        expect(result.exit in (0, 1), True, f'exit status {result.exit} is 0 or 1')
        desktops = [str(d.relative_to(self.drive_c)) for d in self.desktops]
        harness = {'user.reg:Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders'} \
            if set_desktop else set()
        check_invariants(before[0], snapshot(self.drive_c), before[1], registry(self.prefix), desktops, harness)

    def check_killed(self, before):
        """A killed run may leave planned names and their temporary names only."""
        desktops = [str(d.relative_to(self.drive_c)) for d in self.desktops]
        check_invariants(before[0], snapshot(self.drive_c), before[1], registry(self.prefix), desktops, killed=True)


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


def shell_folders_opens(trace):
    """Access masks with which the installer opened the Shell Folders key,
    from Wine's registry trace (the installer spells the key in capitals)."""
    key = 'L"SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders",'
    return [line.split(key, 1)[1].split(',', 1)[0] for line in trace.splitlines()
            if 'NtOpenKeyEx' in line and key in line]


class Scenarios(named.Tests):
    """The scenario sets: each scenario in a fresh prefix on a display of its own."""

    def run(self, name, fn):
        t0 = time.time()
        with OwnDisplay():
            s = Scenario(name)
            try:
                try:
                    fn(s)
                finally:
                    s.stop_wine()  # nothing of the prefix may outlive its display
            except named.Skip:
                shutil.rmtree(s.prefix)
                raise
        # Kept only when the scenario fails, for a look at what went wrong.
        shutil.rmtree(s.prefix)
        return f'passed under Wine ({arch()}) in {time.time() - t0:.1f} s'
