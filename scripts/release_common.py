"""What every part of the release command shares: its one kind of expected
failure, paths shown in messages, tools run without a terminal, file sums."""
import hashlib
import os
import subprocess
from pathlib import Path

TOOL_SECONDS = 300


class ReleaseError(Exception):
    """An expected failure: printed as one `error:` line per problem, never a traceback."""


def shown(path):
    """A path for a message: bytes that are not UTF-8 as backslash escapes."""
    return os.fsencode(str(path)).decode('utf-8', 'backslashreplace')


def run(cmd, failure, env=None, why=lambda lines: lines[-1]):
    """Runs a tool with no terminal to prompt on (stdin from /dev/null, a
    session of its own); on failure raises one line: `failure` and the
    tool's words that say why (its last line unless `why` picks another)."""
    try:
        proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True, errors='replace',
                              start_new_session=True, timeout=TOOL_SECONDS, env=env)
    except subprocess.TimeoutExpired:
        raise ReleaseError(f'{failure}: {cmd[0]} gave no answer in {TOOL_SECONDS} s') from None
    if proc.returncode != 0:
        lines = [line.strip() for line in (proc.stdout + proc.stderr).splitlines() if line.strip()]
        raise ReleaseError(f'{failure}' + (f' ({cmd[0]}: {why(lines)})' if lines else ''))
    return proc.stdout + proc.stderr


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()
