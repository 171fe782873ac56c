"""Processes a test starts: each in a session and process group of its own, ended as a group on every path.

The namespace guard (guard.py) is what ends them when the test itself is killed; the process group is
how a running test stops one server, one QEMU, in order.
"""

import contextlib
import ctypes
import os
import signal
import subprocess
import sys
from pathlib import Path

STOP_SECONDS = 5.0
PR_SET_PDEATHSIG = 1


def die_with_parent():
    """In the child before exec: SIGKILL when the parent dies (kept only while the child keeps its user)."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def stop_group(process):
    """SIGTERM to the process group, SIGKILL when it lingers; waits for the leader."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            break
        try:
            process.wait(STOP_SECONDS)
            # The leader is gone; a straggler of its group still gets the KILL.
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, signal.SIGKILL)
            break
        except subprocess.TimeoutExpired:
            continue
    with contextlib.suppress(subprocess.TimeoutExpired):
        process.wait(STOP_SECONDS)


@contextlib.contextmanager
def process_group(command, log_path, stdout=None, cwd=None):
    """Runs COMMAND in its own session and process group (stderr to LOG_PATH); ends the group on exit."""
    with open(log_path, "ab") as log:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=stdout or log, stderr=log, cwd=cwd,
                                   start_new_session=True, preexec_fn=die_with_parent)
    try:
        yield process
    finally:
        stop_group(process)
        if process.stdout is not None:
            process.stdout.close()


def package_module(name, *args):
    """(command, working directory) that runs module NAME of this package as a program."""
    return [sys.executable, "-m", "%s.%s" % (__package__, name)] + list(args), str(Path(__file__).resolve().parents[1])


def run_quietly(command):
    """Runs a short set-up command; raises CalledProcessError with its output when it fails."""
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, capture_output=True)
