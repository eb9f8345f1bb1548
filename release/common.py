"""What every part of the release command shares: its one kind of expected
failure, paths shown in messages, tools run without a terminal, file sums."""
import hashlib
import os
import re
import signal
import subprocess
from pathlib import Path

TOOL_SECONDS = 300
# The options of a signing identity, for the release and the check kit alike.
SIGNING_OPTIONS = ('--cert', '--key', '--chain', '--ca', '--crl', '--pass-file', '--pkcs11-module', '--timestamp',
                   '--tsa-ca', '--allow-signer')
# In a tool's argument, replaced by the descriptor of a pipe holding the secret.
SECRET_FD = '@SECRET_FD@'
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
# OpenSSL's error lines: ID:error:CODE:LIBRARY:FUNCTION:REASON:FILE:LINE:
OPENSSL_ERROR = re.compile(r'^[0-9A-F]+:error:[0-9A-F]+:([^:]*):[^:]*:([^:]+):')
# Libraries whose errors only wrap another's, or come from osslsigncode
# trying one key format after another.
WRAPPERS = {'asn1 encoding routines', 'DECODER routines', 'engine routines', 'PEM routines', 'BIO routines'}

class ReleaseError(Exception):
    """An expected failure: printed as one `error:` line per problem, never a traceback."""


class Stopped(BaseException):
    """SIGTERM or SIGHUP: unwinds like Ctrl+C, so every `with` cleans up."""

    def __init__(self, signum):
        super().__init__(signal.Signals(signum).name)
        self.signum = signum


def stop_on_signals():
    """Ctrl+C, SIGTERM and SIGHUP unwind the release once; a repeat while it
    cleans up is ignored. SIGINT too is set here: a shell's background job
    starts with it ignored."""
    def stop(signum, frame):
        for each in STOP_SIGNALS:
            signal.signal(each, signal.SIG_IGN)
        raise KeyboardInterrupt if signum == signal.SIGINT else Stopped(signum)
    for signum in STOP_SIGNALS:
        signal.signal(signum, stop)


def shown(path):
    """A path for a message: bytes that are not UTF-8 as backslash escapes."""
    return os.fsencode(str(path)).decode('utf-8', 'backslashreplace')


def tool_reason(lines):
    """Why a tool failed, in its own words: the last OpenSSL error that does
    not merely wrap another (PIN incorrect, PIN locked, Connection refused
    ...); else its last line."""
    errors = [m.groups() for m in map(OPENSSL_ERROR.match, lines) if m]
    reasons = [reason for library, reason in errors if library not in WRAPPERS] or [r for _, r in errors]
    return reasons[-1] if reasons else lines[-1]


def run(cmd, failure, env=None, why=tool_reason, secret=None):
    """Runs a tool with no terminal to prompt on (stdin from /dev/null, a
    session of its own); on failure raises one line: `failure` and the
    tool's words that say why. A `secret` reaches the tool through a pipe
    whose descriptor replaces SECRET_FD in its arguments, never a file."""
    fds = ()
    if secret is not None:
        read_end, write_end = os.pipe()
        with os.fdopen(write_end, 'w') as pipe:  # a PIN fits the pipe's buffer
            pipe.write(secret + '\n')
        fds = (read_end,)
        cmd = [a.replace(SECRET_FD, str(read_end)) for a in cmd]
    try:
        proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True, errors='replace',
                              start_new_session=True, timeout=TOOL_SECONDS, env=env, pass_fds=fds)
    except subprocess.TimeoutExpired:
        raise ReleaseError(f'{failure}: {cmd[0]} gave no answer in {TOOL_SECONDS} s') from None
    finally:
        for fd in fds:
            os.close(fd)
    if proc.returncode != 0:
        lines = [line.strip() for line in (proc.stdout + proc.stderr).splitlines() if line.strip()]
        raise ReleaseError(f'{failure}' + (f' ({cmd[0]}: {why(lines)})' if lines else ''))
    return proc.stdout + proc.stderr


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()
