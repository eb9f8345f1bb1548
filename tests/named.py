"""The one runner of the Python tests: a named set of test functions, one run
per process as CTest starts them; `--list` gives CTest the names."""
import sys

# The exit status of a skipped test, as CTest is told.
SKIPPED = 77


class Skip(Exception):
    """A test this host cannot stage, with the reason."""


class Tests:
    def __init__(self):
        self.table = {}

    def __call__(self, fn):
        self.table[fn.__name__] = fn
        return fn

    def run(self, name, fn):
        """Runs one test; returns how it passed, in words."""
        fn()
        return 'passed'

    def main(self, argv):
        if len(argv) == 2 and argv[1] == '--list':
            print(';'.join(self.table))
            return 0
        if len(argv) != 2 or argv[1] not in self.table:
            print(f'usage: {argv[0]} --list | ' + '|'.join(self.table), file=sys.stderr)
            return 2
        try:
            how = self.run(argv[1], self.table[argv[1]])
        except Skip as skip:
            print(f'{argv[1]}: skipped: {skip}')
            return SKIPPED
        print(f'{argv[1]}: {how}')
        return 0
