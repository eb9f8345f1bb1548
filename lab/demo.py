#!/usr/bin/env python3
"""Runs Setup.exe on a sample distribution under Wine, in a throwaway prefix on
a virtual display, and prints what the box said, the installed tree, the
desktop and where the screenshots are."""
import os
import sys
from pathlib import Path

root = Path(__file__).resolve().parent.parent
from lab import plan, scenario
from lab.report import Report
from sample import distribution as sample


def tree(folder):
    if not folder.exists():
        return ['  (not there)']
    lines = []
    for p in sorted(folder.rglob('*')):
        rel = p.relative_to(folder)
        lines.append(f'  {rel}/' if p.is_dir() else f'  {rel}  ({p.stat().st_size} bytes)')
    return lines or ['  (empty)']


def main():
    with scenario.Session(root / 'build' / 'demo'):
        s = scenario.Scenario('demo')
        s.put_installer()
        sample.write(s.dist, language=int(os.environ.get('DEMO_LANGUAGE', '1')))
        report = s.run()
    for box in report.boxes:
        print(f'\nbox "{box["caption"]}": {Report.box_text(box)!r} (icon: {box["icon"]}, buttons: {Report.buttons(box)})')
    print(f'exit status: {report.exit}')
    for folder in plan.load()['roots']:
        print(f'\n{folder}:')
        print('\n'.join(tree(s.c(folder))))
    desktop = s.drive_c / 'users' / os.environ.get('USER', 'root') / 'Desktop'
    print(f'\ndesktop ({desktop}):')
    print('\n'.join(tree(desktop)))
    print('\nscreenshots:')
    for shot in sorted(s.root.glob('shot-*.png')):
        print(f'  {shot}')
    return 0 if report.exit == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
