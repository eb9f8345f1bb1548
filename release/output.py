"""OUT_DIR as one transaction: checked before the build, every file written
under a temporary name, all renamed into place or none."""
import os
import signal

from .common import ReleaseError, shown


CLEANUP_SIGNALS = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}


class Output:
    """OUT_DIR written under temporary names and renamed into place only when
    every file is complete; on any failure it is left as it was found."""

    def __init__(self, folder):
        self.folder, self.pending, self.placed = folder, [], []
        self.created = []

    def __enter__(self):
        missing = [p for p in [self.folder, *self.folder.parents] if not p.exists()]
        for folder in reversed(missing):
            folder.mkdir()
            self.created.append(folder)
        return self

    def partial(self, name):
        path = self.folder / f'.{name}.partial'
        self.pending.append((path, self.folder / name))
        return path

    def commit(self):
        # All renamed or, on a failure, all undone: no signal in between.
        signal.pthread_sigmask(signal.SIG_BLOCK, CLEANUP_SIGNALS)
        for partial, final in self.pending:
            os.replace(partial, final)
            self.placed.append(final)

    def __exit__(self, kind, value, trace):
        if kind is None:
            return
        for path in [p for p, _ in self.pending] + self.placed:
            path.unlink(missing_ok=True)
        for folder in reversed(self.created):
            folder.rmdir()
        if issubclass(kind, OSError):
            raise ReleaseError(f'writing {shown(self.folder)} failed ({value.strerror or value}); '
                               'it is left as it was found') from None


def check_out_dir(out_dir, source_dir):
    if out_dir.is_symlink() or (out_dir.exists() and not out_dir.is_dir()):
        raise ReleaseError(f'{shown(out_dir)}: not a folder; give an empty or new folder')
    if out_dir.exists() and any(out_dir.iterdir()):
        raise ReleaseError(f'{shown(out_dir)}: not empty; give an empty or new folder')
    if out_dir == source_dir or source_dir in out_dir.parents:
        raise ReleaseError(f'{shown(out_dir)}: inside the distribution folder')
