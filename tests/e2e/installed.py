"""What a whole installation leaves: the installed trees and the desktop, against the plan."""
from expectations import expect
import expected_plan

PROGRAM, DATA = 'C:\\Orvo_Tool', 'C:\\Orvo_Tool Data'

SHORTCUTS = expected_plan.shortcuts()
OLDER_COPIES = expected_plan.older_copies()


def installed_files():
    """Every installed file with its distribution source."""
    return {target: expected_plan.host(source) for source, target in expected_plan.copies()}


def tree(root):
    return sorted(str(p.relative_to(root)) for p in root.rglob('*')) if root.exists() else []


def expect_full_installation(s, pdf):
    for target, source in installed_files().items():
        expect(s.c(target).read_bytes() if s.c(target).exists() else None, (s.dist / source).read_bytes(), target)
    expected = {t[3:].replace('\\', '/') for t in installed_files()}
    expected |= {f[3:].replace('\\', '/') for f in expected_plan.folders()} - {'Orvo_Tool', 'Orvo_Tool Data'}
    found = [f'Orvo_Tool/{p}' for p in tree(s.drive_c / 'Orvo_Tool')]
    found += [f'Orvo_Tool Data/{p}' for p in tree(s.drive_c / 'Orvo_Tool Data')]
    expect(sorted(found), sorted(expected), 'installed tree')
    expect_desktop(s, pdf)


def expect_desktop(s, pdf):
    placed = SHORTCUTS + ([pdf] if pdf else [])
    expect(sorted(tree(s.desktop)), sorted(placed), 'desktop')
    for name in placed:
        expect((s.desktop / name).read_bytes(), (s.dist / name).read_bytes(), f'desktop {name}')
