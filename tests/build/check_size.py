#!/usr/bin/env python3
"""Setup.exe less its resources must weigh no more than the reference program
built in the same run, nor more than the project's budget.

usage: check_size.py SETUP_EXE REFERENCE_EXE BUDGET_BYTES"""
import os
import sys

import pe as pefile


def code_size(path):
    exe = pefile.load(path)
    rsrc = exe.section('.rsrc')
    return os.path.getsize(path) - (rsrc['rawsize'] if rsrc else 0)


def main(setup, reference, budget):
    ours, theirs, budget = code_size(setup), code_size(reference), int(budget)
    print(f'Setup.exe {os.path.getsize(setup)} bytes, {ours} bytes less resources')
    print(f'reference program {theirs} bytes less resources')
    print(f'budget {budget} bytes; Setup.exe is {ours / theirs:.1%} of the reference')
    ok = ours <= theirs and ours <= budget
    print('size within reference and budget' if ok else 'FAILED: Setup.exe grew past the reference or the budget')
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:4]))
