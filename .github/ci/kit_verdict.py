"""The workflow's verdict on a check kit run on a hosted Windows runner, from
the kit's output and exit status: what fails the job, one line each (none
when the run passes), and the inconclusive parts let through, with why.

A self-test that could not read the kit's own boxes fails the job: the
runner's desktop cannot be read, and nothing the kit saw there counts. So
does any failed scenario, an exit status but 0 or 4, counts that disagree
with the scenario lines, and any inconclusive part but those EXPECTED lists.
"""
import re

# Inconclusive parts a hosted runner cannot avoid, each with why. Any other
# inconclusive part fails the job.
EXPECTED = {
    # Hosted runners run as an administrator with UAC off, so the kit and every
    # Setup it starts run elevated; a standard account is later work.
    "an ordinary user's installation (the kit runs elevated":
        'the runner is an administrator with UAC off',
}

VERDICT = re.compile(r'^(\S+) \((.*)\): (ok|FAIL|skipped|inconclusive)\b:? ?(.*)$')
SUMMARY = re.compile(r'^(\d+) passed, (\d+) failed, (\d+) skipped, (\d+) inconclusive$')
STATUS = {0: 'nothing failed or was inconclusive', 1: 'something failed, or the kit stopped early',
          2: 'the kit did not start', 3: "an error of the kit's own ended it", 4: 'something was inconclusive'}


def self_test_problem(lines):
    """Why the self-test shows that this desktop's boxes cannot be read, or None."""
    found = [line for line in lines if line.startswith('self-test: ')]
    if len(found) != 1:
        return f'{len(found)} self-test lines, not one: the kit did not read its own boxes'
    said = re.sub(r'"[^"]*"', '""', found[0])  # what a box showed may say anything
    if 'its task dialog' not in said or 'its message box' not in said or \
            re.search(r'\bNOT\b|not seen|could not be shown', said):
        return f"the kit could not read its own boxes on this desktop ({found[0]})"
    return None


def verdict(output, status):
    """(what fails the job, [(scenario, inconclusive part, why it is let through)])"""
    lines = [line.rstrip('\r') for line in output.splitlines()]
    found, accepted = [], []
    broken = self_test_problem(lines)
    if broken:
        return [broken], []
    verdicts = [m for m in map(VERDICT.match, lines) if m]
    summaries = [m for m in map(SUMMARY.match, lines) if m]
    if not verdicts:
        found.append('no scenario line')
    tally = [sum(m.group(3) == v for m in verdicts) for v in ('ok', 'FAIL', 'skipped', 'inconclusive')]
    if len(summaries) != 1 or [int(n) for n in summaries[0].groups()] != tally:
        found.append(f'the closing counts do not match the scenario lines ({tally[0]} ok, {tally[1]} FAIL, '
                     f'{tally[2]} skipped, {tally[3]} inconclusive)')
    for m in verdicts:
        if m.group(3) == 'FAIL':
            found.append(m.group(0))
        elif m.group(3) == 'inconclusive':
            parts = m.group(4).split('; ')
            accepted += [(m.group(1), part, why) for part in parts for start, why in EXPECTED.items()
                         if part.startswith(start)]
            unexpected = [part for part in parts if not any(map(part.startswith, EXPECTED))]
            if unexpected:
                found.append(f'{m.group(1)} inconclusive, not as a hosted runner must be: {"; ".join(unexpected)}')
    if status not in (0, 4) or (status == 4) != (tally[3] > 0):
        meaning = STATUS.get(status, "not one of the kit's")
        found.append(f'exit status {status} ({meaning})')
    return found, accepted
