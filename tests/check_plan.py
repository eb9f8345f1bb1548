#!/usr/bin/env python3
"""The product's plan, as setup-plan prints it from the tables Setup.exe is
built from, against the tests' own list: the one place where a misspelt,
missing, extra or reordered name in the plan is caught.

usage: check_plan.py SETUP_PLAN_PROGRAM
"""
import sys

import expected_plan
from lab import plan


def differences(actual):
    problems = []
    got = [expected_plan.Step(plan, s['op'], s['source'], s['target'])
           for plan in ('install', 'desktop') for s in actual[plan]]
    for i in range(max(len(got), len(expected_plan.STEPS))):
        want = expected_plan.STEPS[i] if i < len(expected_plan.STEPS) else None
        have = got[i] if i < len(got) else None
        if want != have:
            problems.append(f'step {i + 1}: expected {want}, the product has {have}')
    for plan in ('install', 'desktop'):
        for s in actual[plan]:
            if s['class'] != expected_plan.CLASSES.get(s['op']):
                problems.append(f'{plan} {s["op"]} {s["target"]}: class {s["class"]}')
    if actual['language_pdfs'] != expected_plan.LANGUAGE_PDFS:
        problems.append(f'language PDFs: expected {expected_plan.LANGUAGE_PDFS}, '
                        f'the product has {actual["language_pdfs"]}')
    shortcuts = {name: (s['target'], s['folder']) for name, s in actual['shortcuts'].items()}
    for what, want, have in (('roots', expected_plan.roots(), actual['roots']),
                             ('shortcut targets', expected_plan.SHORTCUT_TARGETS, shortcuts)):
        if want != have:
            problems.append(f'{what}: expected {want}, the product has {have}')
    return problems


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    actual = plan.load(argv[1])
    problems = differences(actual)
    for p in problems:
        print(p)
    n = len(actual['install']) + len(actual['desktop'])
    print(f'{n} steps and {len(actual["language_pdfs"])} language PDFs compared: '
          f'{"no difference" if not problems else f"{len(problems)} differences"}')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
