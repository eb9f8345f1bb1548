"""The installer's plan as the plan printer (setup-plan) prints it from the
product's own tables: what the sample, the bench and the release read, so
none of them keeps a list of its own. The tests' own expectation,
expected_plan.tsv, is kept apart from this on purpose."""
import json
import os
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


class PlanError(Exception):
    pass


def tool(path=None):
    """The plan printer: `path`, else $SETUP_PLAN_TOOL, else the native build's."""
    found = Path(path or os.environ.get('SETUP_PLAN_TOOL') or ROOT / 'build' / 'native' / 'setup-plan')
    if not found.is_file():
        raise PlanError(f'no plan printer at {found}: build it with '
                        'cmake --preset native && cmake --build --preset native --target setup-plan')
    return found


def load(path=None):
    """The printed plan: {'install': [step], 'desktop': [step], 'language_pdfs': {key: name}},
    each step {'op', 'source', 'target', 'class'}."""
    return json.loads(subprocess.run([str(tool(path))], check=True, capture_output=True, text=True).stdout)


def sources(plan):
    """Every distribution file the plan reads, in the plan's order, each once."""
    names = [s['source'] for part in ('install', 'desktop') for s in plan[part] if s['source']]
    names += [p for p in plan['language_pdfs'].values() if p]
    return list(dict.fromkeys(names))


def copies(plan):
    """(source, target) of every file the install plan copies into drive C:, in order."""
    return [(s['source'], s['target']) for s in plan['install'] if s['op'] in ('copy', 'copy-kept')]


def shortcuts(plan):
    return [s['target'].lstrip('\\') for s in plan['desktop'] if s['op'] == 'copy-to-desktop']


def host(windows_name):
    """A backslash name as a relative host path ('Data\\QKV.txt' -> 'Data/QKV.txt')."""
    return windows_name.replace('\\', '/')
