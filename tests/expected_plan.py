"""The installation as the tests expect it, read from expected_plan.tsv beside
this file: the one list of names every test and the sample distribution use."""
from collections import namedtuple
from pathlib import Path

Step = namedtuple('Step', 'plan op source target')

# The file class of each operation; steps that install no file have none.
CLASSES = {'copy': 'replaced', 'copy-kept': 'kept', 'remove': 'removed', 'remove-from-desktop': 'desktop',
           'copy-to-desktop': 'desktop', 'copy-language-pdf': 'desktop'}


def _read():
    steps, pdfs, unused, shortcuts = [], {}, [], {}
    for line in (Path(__file__).with_name('expected_plan.tsv')).read_text(encoding='utf-8').splitlines():
        if not line or line.startswith('#'):
            continue
        cells = line.split('\t') + ['', '', '']
        if cells[0] == 'language-pdf':
            pdfs[cells[1]] = cells[2] or None
        elif cells[0] == 'unused':
            unused.append(cells[1])
        elif cells[0] == 'shortcut':
            shortcuts[cells[1]] = (cells[2], cells[3] == 'folder')
        else:
            steps.append(Step(cells[0], cells[1], cells[2] or None, cells[3] or None))
    return steps, pdfs, unused, shortcuts


# SHORTCUT_TARGETS: shortcut name -> (the target it must lead to once installed, whether a folder).
STEPS, LANGUAGE_PDFS, UNUSED, SHORTCUT_TARGETS = _read()


def steps(plan=None, op=None):
    return [s for s in STEPS if plan in (None, s.plan) and op in (None, s.op)]


def copies():
    """(source, target) of every file the two plans copy into drive C:, in order."""
    return [(s.source, s.target) for s in STEPS if s.op in ('copy', 'copy-kept')]


def sources():
    """Every distribution file a step copies, in order, each once."""
    names = [s.source for s in STEPS if s.source] + [p for p in LANGUAGE_PDFS.values() if p]
    return list(dict.fromkeys(names))


def distribution():
    """Every file of a complete distribution: the sources and the unused files."""
    return sources() + UNUSED


def older_copies():
    return [s.target.lstrip('\\') for s in steps('desktop', 'remove-from-desktop')]


def shortcuts():
    return [s.target.lstrip('\\') for s in steps('desktop', 'copy-to-desktop')]


def desktop_names():
    """Every name the installer may place on or remove from a desktop."""
    return set(older_copies() + shortcuts() + [p for p in LANGUAGE_PDFS.values() if p])


def language_pdf(code):
    key = 'negative' if code < 0 else str(code) if code <= 4 else 'above 4'
    return LANGUAGE_PDFS[key]


def roots():
    """The installed trees: every folder made that is not inside another."""
    found = []
    for folder in folders():
        if not any(folder.startswith(root + '\\') for root in found):
            found.append(folder)
    return found


def folders():
    return [s.target for s in STEPS if s.op in ('ensure-program-folder', 'ensure-folder')]


def kept_targets():
    return [s.target for s in steps(op='copy-kept')]


def host(windows_name):
    """A backslash name as a relative host path ('Data\\QKV.txt' -> 'Data/QKV.txt')."""
    return windows_name.replace('\\', '/')
