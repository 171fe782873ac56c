"""The guard: every test runs in PID and network namespaces of its own, so nothing it starts outlives it.

enter() runs the test again under unshare(1) in new PID and network namespaces, the test as the
namespace's first process, and waits for it. When that process ends, however it ends (a normal exit,
Ctrl-C, kill -9 of the test or of unshare, a ctest timeout, a CI cancel's SIGTERM, which the waiting
process answers by killing unshare), the kernel kills every other process of the namespace, also daemons that changed their user (which loses them PR_SET_PDEATHSIG), and the network
namespace with its tap device and its firewall rules vanishes with them. The namespace starts with
nothing but its loopback interface: no test can reach the host's addresses or a real network.

With root (CAP_SYS_ADMIN) the namespaces are made directly; without it, in a user namespace where the
kernel allows one, which is enough for QEMU's own network but not for the real servers (they drop to
the user nobody, which a user namespace does not hold). Where neither can be made the guard says why,
and the tests that need a network are skipped with that reason.
"""

import os
import signal
import subprocess
import sys

from .processes import die_with_parent

MARK = "TESTBED_GUARD"
NAMESPACES = ["--pid", "--fork", "--kill-child", "--mount-proc", "--net"]
# Tried in turn: the mode's name and the extra unshare options it needs.
MODES = (("root", []), ("user", ["--user", "--map-root-user"]))
NO_NAMESPACES = "PID and network namespaces cannot be made here (no CAP_SYS_ADMIN and no user namespaces)"


class Guard:
    """Where this test runs: MODE "root" or "user" inside the namespaces, or None with REASON outside."""

    def __init__(self, mode, reason=None):
        self.mode = mode
        self.reason = reason

    def real_servers_reason(self):
        """Why real servers (tftpd-hpa, dnsmasq, the tap network) cannot run here, or None when they can."""
        if self.mode is None:
            return self.reason
        if self.mode != "root":
            return "the real servers need root's namespaces (CAP_SYS_ADMIN): they drop to the user nobody"
        return None


def possible(options):
    """True when unshare can make the namespaces with OPTIONS here."""
    try:
        return subprocess.run(["unshare"] + options + NAMESPACES + ["true"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def inside():
    """Set-up inside the namespaces: loopback up, SIGTERM ends the test with its clean-up (an init ignores it otherwise)."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    return Guard(os.environ[MARK])


def run_inside(mode, options):
    """
    Runs this same command under unshare and exits with its status. unshare dies with this process
    (and its namespace with it); a SIGTERM, SIGINT or SIGHUP here kills unshare, which ignores them itself.
    """
    sys.stdout.flush()
    sys.stderr.flush()
    command = ["unshare"] + options + NAMESPACES + ["--", sys.executable] + sys.orig_argv[1:]
    process = subprocess.Popen(command, env=dict(os.environ, **{MARK: mode}), preexec_fn=die_with_parent)

    def stop(signum, _):
        # No wait here: the interrupted wait below holds the process's lock.
        process.kill()
        os._exit(128 + signum)

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, stop)
    code = process.wait()
    sys.exit(code if code >= 0 else 128 - code)


def within():
    """True in the namespaces enter() made: the run of the test that enter() returns into."""
    return os.environ.get(MARK) in dict(MODES) and os.getpid() == 1


def enter():
    """
    Runs the rest of this test in namespaces of its own: runs the same command again under unshare and
    exits with its status, or returns the Guard once inside (or, where no namespace can be made, a
    Guard saying why).
    """
    if within():
        return inside()
    for mode, options in MODES:
        if possible(options):
            run_inside(mode, options)
    os.environ.pop(MARK, None)
    return Guard(None, NO_NAMESPACES)
