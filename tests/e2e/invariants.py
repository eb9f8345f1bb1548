"""The invariants checked around every run of the installer: nothing changes
outside the installed trees and the desktop names, no registry writes beyond
Wine's own, the kept lists keep their bytes."""
import hashlib
import os
from pathlib import Path

from lab import lab_dir
import expected_plan  # noqa: E402  (its folder is put on the path by lab)
from expectations import expect

POWER_LISTS = [expected_plan.host(t[3:]) for t in expected_plan.kept_targets()]
DESKTOP_NAMES = expected_plan.desktop_names()
# Every name in the two trees a run may create, replace or remove, relative to drive_c.
PLANNED = {expected_plan.host(t[3:]) for t in expected_plan.folders() + [t for _, t in expected_plan.copies()]
           + [s.target for s in expected_plan.steps(op='remove')]}
# Where a file is written before it is published under its name.
TEMPORARY = '.setup-new'


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


# Wine's plug-and-play service enumerates the display and PCI devices when it
# starts, now and then late in a run, so one measured run does not always
# show it; a program run by a user never writes there.
WINE_DEVICES = 'system.reg:System\\\\CurrentControlSet\\\\Enum\\\\'
# Wine's crash handler (winedbg --auto) keeps its settings and its console's
# here when a process of the prefix crashes: under load one of Wine's own now
# and then does. A crash of Setup or of boxprobe shows in their exit status,
# which every run checks; the handler's report goes to the run's output.
WINE_CRASH_HANDLER = ('user.reg:Console', 'user.reg:Software\\\\Wine\\\\WineDbg')


def key_family(key):
    """The part of a key that Wine's own changes are measured by."""
    return '\\\\'.join(key.split('\\\\')[:4])


def strays_at_host_root():
    """Desktop names at the host's /: where a run writes "the root of the
    current drive" when that drive is Wine's Z:. Nothing of a run may be there."""
    return sorted(name for name in DESKTOP_NAMES if os.path.lexists(Path('/') / name))


def planned_name(rel, desktops):
    parent, _, name = rel.rpartition('/')
    return rel in PLANNED or (parent in desktops and name in DESKTOP_NAMES)


def base_name(rel):
    """The planned name behind a temporary name, a zone mark or both (Wine
    keeps a file's Zone.Identifier stream as a sibling named after it)."""
    return rel.removesuffix(':Zone.Identifier').removesuffix(TEMPORARY)


def allowed_path(rel, desktops):
    return planned_name(base_name(rel), desktops)


def temporaries(paths):
    return sorted(p for p in paths if p.removesuffix(':Zone.Identifier').endswith(TEMPORARY))


def check_invariants(before, after, reg_before, reg_after, desktops, harness_keys=(), killed=False):
    """Raises when the run touched what it must not. `desktops` are the desktop
    folders relative to drive_c; `harness_keys` what the scenario itself set.
    Only a run that was killed may leave temporary names behind."""
    stray = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p)
                   and not allowed_path(p, desktops))
    expect(stray, [], 'paths changed outside the planned names and their temporary names')
    if not killed:
        expect(temporaries(after), [], 'temporary names after a run that ended')
    expect(strays_at_host_root(), [], "desktop names at the host's /, outside the lab")
    for rel in POWER_LISTS:
        if rel in before:
            expect(after.get(rel), before[rel], f'kept file {rel}')
    baseline = set((lab_dir() / 'registry-baseline.txt').read_text().splitlines())
    written = sorted(k for k in changed_keys(reg_before, reg_after)
                     if key_family(k) not in baseline and k not in harness_keys and not k.startswith(WINE_DEVICES)
                     and not k.startswith(WINE_CRASH_HANDLER))
    expect(written, [], 'registry keys written beyond what Wine itself changes')
