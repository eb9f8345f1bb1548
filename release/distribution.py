"""The vendor's distribution folder checked against the installer's own plan:
every file the plan reads present once, regular, non-empty and of its kind."""
import os
import stat
import struct
from pathlib import Path

from lab import plan as printed
from . import shortcuts
from .common import shown
from .pe import pe_image

LANGUAGES = {0: 'Czech', 1: 'English', 2: 'German', 3: 'Swedish', 4: 'Russian'}
PROGRAMS = ('Orvo Tool.exe', 'Orvo Dustrel.exe')


def windows_name(path, root):
    return str(path.relative_to(root)).replace('/', '\\')


def folder_index(root):
    """Lower-cased relative Windows name -> the host paths that carry it.
    Links to folders are entries, never walked."""
    index = {}
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files) + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
            path = Path(folder, name)
            index.setdefault(windows_name(path, root).lower(), []).append(path)
    return index


def language_problem(data):
    if data.strip(b'0123456789\r\n \t-') == b'' and any(c in data for c in b'0123456789\r\n'):
        return f'holds the text {data[:16]!r} where a 4-byte number belongs (write the code as binary)'
    if len(data) != 4:
        return f'is {len(data)} bytes; a language file is exactly 4'
    code = struct.unpack('<i', data)[0]
    if code not in LANGUAGES:
        return f'holds language code {code}; only 0 to 4 show a completion text'
    return None


def content_problem(name, data):
    """What is wrong with a present, non-empty file of the plan, or None."""
    lower = name.lower()
    if lower in (p.lower() for p in PROGRAMS) and not pe_image(data):
        return 'is not a Windows program (no valid PE headers)'
    if lower.endswith('.pdf') and not data.startswith(b'%PDF-'):
        return 'is not a PDF (does not begin with %PDF-)'
    if lower == 'dlangv.dat':
        return language_problem(data)
    return None


def link_problem(path):
    kind = 'folder' if path.is_dir() else 'file'
    return f'is a symbolic link to {shown(os.readlink(path))}; give the {kind} itself'


def file_problem(name, path):
    st = os.lstat(path)
    if stat.S_ISLNK(st.st_mode):
        return link_problem(path)
    if not stat.S_ISREG(st.st_mode):
        return 'not a regular file'
    if st.st_size == 0:
        return 'empty'
    return content_problem(name, path.read_bytes())


def check(source_dir, plan):
    """(files: name -> host path, errors, notes) of the folder against the plan."""
    index = folder_index(source_dir)
    errors, files, linked = [], {}, set()
    for key, paths in list(index.items()):
        if any(p.is_symlink() and p.is_dir() for p in paths):
            linked.add(key)
            errors.append(f'{windows_name(paths[0], source_dir)}: {link_problem(paths[0])}')
            del index[key]
    for name in printed.sources(plan):
        if name.lower().rsplit('\\', 1)[0] in linked:
            continue
        paths = index.pop(name.lower(), [])
        if not paths:
            errors.append(f'{name}: missing')
        elif len(paths) > 1:
            errors.append(f'{name}: present {len(paths)} times, in names that differ only in case')
        elif problem := file_problem(name, paths[0]):
            errors.append(f'{name}: {problem}')
        elif problem := shortcuts.problem(name, paths[0], plan['shortcuts']):
            errors.append(f'{name} {problem}')
        else:
            files[name] = paths[0]
    notes = []
    for key, paths in sorted(index.items()):
        name = shown(windows_name(paths[0], source_dir))
        if name != windows_name(paths[0], source_dir):
            errors.append(f'{name}: the name is not UTF-8, so Windows would show other letters; rename it')
        elif key == 'setup.exe':
            notes.append(f'{name}: replaced by the built Setup.exe')
        else:
            notes.append(f'{name}: not used by the installer, left out of the release')
    return files, errors, notes
