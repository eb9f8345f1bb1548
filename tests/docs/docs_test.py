#!/usr/bin/env python3
"""The README and the guides in docs/ against the tree, one check per run:

  paths    every repository path and source file name in their code exists
  options  every option shown with scripts/release.sh, scripts/check-kit.sh
           or setup-check is one that program takes
  links    every relative link leads to a file, and every #anchor to a heading

usage: docs_test.py paths|options|links
Windows paths (C:\\Orvo_Tool, Data\\QKV.txt), absolute POSIX paths and
outputs under build/ are not the tree's, and are skipped.
"""
import fnmatch
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
DOCS = [ROOT / 'README.md'] + sorted((ROOT / 'docs').glob('*.md'))
FENCE = re.compile(r'^```.*?^```', re.M | re.S)
# A relative path: a lowercase or dot first folder, not the tail of a longer
# path, a URL or a Windows path.
PATH = re.compile(r'(?<![\w./\\:$@-])(\.?[a-z0-9_][\w.-]*/(?:[\w.*-]+/?)*)(?=[\s`\'"),;:\]]|$)')
SOURCE = re.compile(r'(?<![\w./\\-])([\w-]+\.(?:py|sh|cpp|h|cmake|ps1|yml|tsv))(?![\w/.])')
OPTION = re.compile(r'(?<![\w-])--[a-z][a-z0-9-]*')
LINK = re.compile(r'\]\(([^)\s]+)\)')
# Each program, and the sources whose text names every option it takes.
PROGRAMS = {
    'scripts/release.sh': ['scripts/release.sh', 'release/__main__.py', 'release/common.py'],
    'scripts/check-kit.sh': ['scripts/check-kit.sh', 'release/common.py'],
    'setup-check': ['kit/src/main.cpp'],
}


def tree():
    try:
        listed = subprocess.run(['git', '-C', str(ROOT), 'ls-files', '-co', '--exclude-standard'],
                                capture_output=True, text=True, check=True).stdout.splitlines()
    except (OSError, subprocess.CalledProcessError):  # not a checkout: the files as they are
        listed = [str(p.relative_to(ROOT)) for p in ROOT.rglob('*') if p.is_file() and '.git' not in p.parts]
    files = [f for f in listed if (ROOT / f).is_file()]
    return set(files) | {str(Path(f).parents[i]) + '/' for f in files for i in range(len(Path(f).parts) - 1)}


def code(text):
    """(line, code) of every inline span and logical line of a code block:
    fenced, or indented four spaces; a trailing backslash joins lines."""
    blanked = FENCE.sub(lambda m: re.sub(r'[^\n]', ' ', m.group()), text)
    for m in re.finditer(r'`([^`]+)`', blanked):
        yield text.count('\n', 0, m.start()) + 1, ' '.join(m.group(1).split())
    lines = text.split('\n')
    fenced = {n for m in FENCE.finditer(text) for n in range(text.count('\n', 0, m.start()),
                                                             text.count('\n', 0, m.end()) + 1)}
    held, start = '', 0
    for n, line in enumerate(lines):
        if n in fenced and not line.startswith('```') or n not in fenced and line.startswith('    '):
            held, start = (held + ' ' + line.strip(), start) if held else (line.strip(), n + 1)
            if held.endswith('\\'):
                held = held[:-1]
                continue
        if held:
            yield start, held
            held = ''
    if held:
        yield start, held


def slug(heading):
    return re.sub(r'[^\w\- ]', '', heading.strip().lower()).replace(' ', '-')


def anchors(doc):
    return {slug(h) for h in re.findall(r'^#+ (.*)$', FENCE.sub('', doc.read_text()), re.M)}


def check_paths(doc, files):
    for line, span in code(doc.read_text()):
        for path in PATH.findall(span):
            if path.startswith('build/'):
                continue
            if path not in files and path + '/' not in files and not fnmatch.filter(files, path):
                yield f'{line}: {path}: not in the tree'
        for name in SOURCE.findall(span):
            if not any(f.rsplit('/', 1)[-1] == name for f in files):
                yield f'{line}: {name}: no file of that name in the tree'


def check_options(doc, files):
    taken = {p: set(OPTION.findall(' '.join((ROOT / s).read_text() for s in sources if s in files)))
             for p, sources in PROGRAMS.items()}
    for line, span in code(doc.read_text()):
        for program, options in taken.items():
            if re.match(r'(bash |\.\\)?' + re.escape(program), span):
                for option in sorted(set(OPTION.findall(span)) - options):
                    yield f'{line}: {program} takes no {option}'


def check_links(doc, files):
    text = FENCE.sub('', doc.read_text())
    for m in LINK.finditer(text):
        target, _, anchor = m.group(1).partition('#')
        if re.match(r'[a-z]+:', target):
            continue
        line = text.count('\n', 0, m.start()) + 1
        linked = (doc.parent / target).resolve() if target else doc
        if not linked.exists():
            yield f'{line}: {m.group(1)}: no such file'
        elif anchor and anchor not in anchors(linked):
            yield f'{line}: {m.group(1)}: no heading with that anchor'


CHECKS = {'paths': check_paths, 'options': check_options, 'links': check_links}

if __name__ == '__main__':
    if len(sys.argv) != 2 or sys.argv[1] not in CHECKS:
        raise SystemExit(__doc__.split('usage: ', 1)[1].split('\n', 1)[0])
    files = tree()
    faults = [f'{doc.relative_to(ROOT)}:{fault}' for doc in DOCS for fault in CHECKS[sys.argv[1]](doc, files)]
    print('\n'.join(faults) or f'docs.{sys.argv[1]}: {len(DOCS)} documents hold to the tree')
    sys.exit(1 if faults else 0)
