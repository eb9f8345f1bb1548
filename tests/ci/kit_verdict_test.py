#!/usr/bin/env python3
"""The CI workflow's verdict on a check kit run (.github/ci/kit_verdict.py),
on a real run's output (the kit under 32-bit Wine) and that output changed
as a hosted runner or a broken desktop would change it."""
import sys
from pathlib import Path

from kit_verdict import verdict  # .github/ci, on the path CTest gives

HERE = Path(__file__).resolve().parent

WINE = (HERE / 'kit-output-wine.txt').read_text(encoding='utf-8')


def changed(text, *pairs):
    """`text` with each (old, new) replaced; each old must be there."""
    for old, new in zip(pairs[::2], pairs[1::2]):
        if old not in text:
            raise AssertionError(f'{old!r} is not in the output')
        text = text.replace(old, new)
    return text


WINE_PART = "ok (skipped: an ordinary user's installation (Wine runs every program elevated and keeps no access list of its own))"
ELEVATED = ("inconclusive: an ordinary user's installation (the kit runs elevated, and the Administrators entry lets "
            "Setup write C:\\Orvo_Tool whatever this user's own entry says)")
# A hosted runner: every installation scenario inconclusive for the elevation alone.
RUNNER = changed(WINE, WINE_PART, ELEVATED, '16 passed, 0 failed, 2 skipped, 0 inconclusive',
                 '11 passed, 0 failed, 2 skipped, 5 inconclusive')
SELF_TEST = 'text read; heading read'

CASES = [  # what, output, exit status, reasons it fails the job (a piece of each), parts let through
    ('the Wine run as it was', WINE, 0, [], 0),
    ('a hosted runner, elevated', RUNNER, 4, [], 5),
    ('another inconclusive part beside the elevation', changed(
        RUNNER, "entry says)\ninstall-de", "entry says); box text (neither controls nor accessibility expose it)\ninstall-de"),
     4, ['install-en inconclusive, not as a hosted runner must be: box text'], 5),
    ('inconclusive for another reason only', changed(
        WINE, 'renamed (renamed to Setup (1).exe): ok', 'renamed (renamed to Setup (1).exe): inconclusive: could not '
        'prepare the scenario: cannot make Setup (1).exe', '16 passed, 0 failed, 2 skipped, 0 inconclusive',
        '15 passed, 0 failed, 2 skipped, 1 inconclusive'),
     4, ['renamed inconclusive, not as a hosted runner must be: could not prepare'], 0),
    ('a failed scenario', changed(WINE, 'upgrade (upgrade keeps edited power lists): ok',
                                  'upgrade (upgrade keeps edited power lists): FAIL: the edited power list',
                                  '16 passed, 0 failed', '15 passed, 1 failed'),
     1, ['upgrade (upgrade keeps', 'exit status 1'], 0),
    ('a self-test that could not read the text', changed(WINE, SELF_TEST, 'text NOT read, saw ""; heading read'),
     0, ['could not read its own boxes'], 0),
    ('a self-test that saw no message box', changed(WINE, 'its message box: text read', 'its message box: not seen'),
     0, ['could not read its own boxes'], 0),
    ('no self-test line', changed(WINE, 'self-test: ', 'self test: '), 0, ['0 self-test lines'], 0),
    ('NOT in what a box showed', changed(WINE, '"setup-check button"', '"NOT setup-check button"'), 0, [], 0),
    ('counts that disagree', changed(WINE, '16 passed', '17 passed'), 0, ['closing counts do not match'], 0),
    ('stopped early', WINE, 1, ['exit status 1 (something failed, or the kit stopped early)'], 0),
    ('inconclusive status, nothing inconclusive', WINE, 4, ['exit status 4'], 0),
    ('clean status over inconclusive lines', RUNNER, 0, ['exit status 0'], 5),
    ('ended by the workflow', WINE, 'none: ended after 30 minutes', ['exit status none'], 0),
]

failed = 0
for what, output, status, wanted, let_through in CASES:
    problems, accepted = verdict(output, status)
    ok = len(problems) == len(wanted) and all(any(w in p for p in problems) for w in wanted) and \
        len(accepted) == let_through
    failed += not ok
    print(f"{'ok' if ok else 'FAIL'}: {what}: {problems or 'passes'}; {len(accepted)} let through")
sys.exit(1 if failed else 0)
