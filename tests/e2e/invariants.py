"""The invariants checked around every run of the installer: nothing changes
outside the installed trees and the desktop names, no registry writes beyond
Wine's own, the kept lists keep their bytes."""
import os
from pathlib import Path

import expected_plan
from expectations import expect
from lab.snapshot import WINE_CRASH_HANDLER, WINE_DEVICES, changed_keys, key_family, registry, snapshot  # noqa: F401
from lab.wine import lab_dir

POWER_LISTS = [expected_plan.host(t[3:]) for t in expected_plan.kept_targets()]
DESKTOP_NAMES = expected_plan.desktop_names()
# Every name in the two trees a run may create, replace or remove, relative to drive_c.
PLANNED = {expected_plan.host(t[3:]) for t in expected_plan.folders() + [t for _, t in expected_plan.copies()]
           + [s.target for s in expected_plan.steps(op='remove')]}
# Where a file is written before it is published under its name.
TEMPORARY = '.setup-new'


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
