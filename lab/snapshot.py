"""What a run could change, read before and after it: the files of a
prefix's drive C: and its registry."""
import hashlib
import os
from pathlib import Path


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
