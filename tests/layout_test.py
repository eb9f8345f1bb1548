#!/usr/bin/env python3
"""The tree keeps its shape: scripts/ holds entry points only, no Python file
changes its own search path, and nothing of the kit, the lab, the release or
the sample reads the tests' files.

usage: layout_test.py REPO_ROOT"""
import re
import subprocess
import sys

ENTRY_POINTS = {'scripts/' + n for n in ('bench.sh', 'check-kit.sh', 'demo.sh', 'install-deps.sh', 'release.sh',
                                          'screenshots.sh', 'test.sh')}
PARTS = ('kit/', 'lab/', 'release/', 'sample/')
SCRIPTS = ('.py', '.sh', '.ps1')
# A path into tests/ in code: 'tests/...', "tests\\...", or 'tests' as a path element.
READS_TESTS = re.compile(r"""(?<![\w.-])tests[/\\]|['"]tests['"]""")
PATH_EDIT = re.compile(r'sys\.path\.(insert|append|extend)|site\.addsitedir')


def code_lines(text):
    """Lines that are not comments; docstrings count as code, so keep paths out of them."""
    return [(i, line) for i, line in enumerate(text.splitlines(), 1) if not line.lstrip().startswith('#')]


def problems(files):
    """`files`: path -> text. What breaks the layout, one line each."""
    found = [f'{p}: scripts/ holds entry points only' for p in files
             if p.startswith('scripts/') and p not in ENTRY_POINTS]
    for path, text in files.items():
        for i, line in code_lines(text):
            if path.endswith('.py') and PATH_EDIT.search(line):
                found.append(f'{path}:{i}: a Python file changes its own search path')
            if path.startswith(PARTS) and path.endswith(SCRIPTS) and READS_TESTS.search(line):
                found.append(f'{path}:{i}: reads from tests/')
    return found


def main(root):
    names = subprocess.run(['git', '-C', root, 'ls-files', '-z'], check=True, capture_output=True).stdout
    files = {}
    for name in filter(None, names.decode().split('\0')):
        if name.startswith('scripts/') or name.endswith(SCRIPTS):
            with open(f'{root}/{name}', encoding='utf-8', errors='replace') as f:
                files[name] = f.read()
    found = problems(files)
    print('\n'.join(found) or f'layout: {len(files)} scripts checked')
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
