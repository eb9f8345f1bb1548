#!/usr/bin/env python3
"""The Wine lab's fixtures, as CTest runs them: the virtual display and the
template prefix, with a check first that the host's / is clean.

The lab itself: lab.py (display, prefixes), scenario.py (a scenario and its
runs), invariants.py (what every run must leave alone), report.py (what
boxprobe saw), expectations.py (what a run must have shown)."""
import sys

from invariants import strays_at_host_root
from lab.scenario import boot_template
from lab.wine import start_display, stop_display


def boot_checked_template():
    """Refuses to start on a host whose / already holds desktop names: a
    suite run there would report strays that are not its own."""
    strays = strays_at_host_root()
    if strays:
        raise SystemExit(f"the host's / holds {', '.join(strays)}: left by an earlier run outside its lab; "
                         "remove them before running the Wine tests")
    boot_template()


def main(argv):
    commands = {'start-display': start_display, 'stop-display': stop_display, 'boot-template': boot_checked_template}
    if len(argv) != 2 or argv[1] not in commands:
        print('usage: winelab.py ' + '|'.join(commands), file=sys.stderr)
        return 2
    commands[argv[1]]()
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
