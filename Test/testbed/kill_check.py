"""The guard's test: a boot and a server check killed midway leave nothing running.

    PYTHONPATH=Test python3 -m testbed.kill_check [--build-dir build/efi]

Each row starts a test program with a token in its environment, waits until the process named in the
row (QEMU, dnsmasq) runs with that token, sends the row's signal to the program or to its process
group as a terminal's Ctrl-C does, and then finds every process that still carries the token: none
may be left after a few seconds. Whatever is left is reported and then killed by its process id.
Exit status 0 when nothing was left, 1 otherwise, 77 when the guard cannot be made here (needs root).
"""

import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time
import uuid
from pathlib import Path

from . import facts, guard

TOKEN = "TESTBED_KILL_CHECK"
SKIPPED = 77
START_SECONDS = 120.0
SETTLE_SECONDS = 2.0
END_SECONDS = 10.0
HARNESS = ["-m", "testbed.harness"]
SERVER_CHECK = facts.REPOSITORY / "Test" / "Tools" / "RivariCheck" / "server_check.py"

# (what happens, the program's arguments after python3, the process it waits for, the signal, sent to the group?)
ROWS = [
    ("kill -9 of the harness in a tap boot (QEMU, dnsmasq for DHCP and as the TFTP server)",
     HARNESS + ["--only", "example@dnsmasq"], "qemu-system-x86", signal.SIGKILL, False),
    ("SIGTERM of the harness, as a CI cancel sends it, in a tap boot",
     HARNESS + ["--only", "example@tftpd-hpa"], "in.tftpd", signal.SIGTERM, False),
    ("Ctrl-C of the harness in a boot on QEMU's own network",
     HARNESS + ["--only", "example"], "qemu-system-x86", signal.SIGINT, True),
    ("kill -9 of the server check while dnsmasq serves (it has dropped to nobody)",
     [str(SERVER_CHECK), "--server", "dnsmasq", "--tool", "STAND_IN"], "dnsmasq", signal.SIGKILL, False),
]


def carrying(token):
    """{pid: command name} of every process whose environment holds TOKEN."""
    found = {}
    marker = ("%s=%s" % (TOKEN, token)).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            environment = Path("/proc", entry, "environ").read_bytes().split(b"\0")
            name = Path("/proc", entry, "comm").read_text().strip()
        except OSError:
            continue
        if marker in environment:
            found[int(entry)] = name
    return found


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.2)
    return condition()


def run_row(row, build_dir, work, stand_in):
    """Kills one program midway; returns what went wrong, one line per process left (empty: nothing)."""
    title, arguments, target, sig, to_group = row
    token = uuid.uuid4().hex
    arguments = [stand_in if word == "STAND_IN" else word for word in arguments]
    if arguments[:len(HARNESS)] == HARNESS:
        arguments += ["--build-dir", str(build_dir), "--work-dir", str(work / token)]
    environment = dict(os.environ, **{TOKEN: token, "PYTHONPATH": str(facts.REPOSITORY / "Test")})
    with open(work / ("%s.log" % token), "wb") as log:
        program = subprocess.Popen([sys.executable] + arguments, env=environment, stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        if not wait_for(lambda: target in carrying(token).values(), START_SECONDS):
            return ["%s never started (log: %s)" % (target, work / ("%s.log" % token))]
        time.sleep(SETTLE_SECONDS)
        running = carrying(token)
        (os.killpg if to_group else os.kill)(program.pid, sig)
        program.wait(END_SECONDS)
        wait_for(lambda: not carrying(token), END_SECONDS)
        left = carrying(token)
        print("%s: %d processes running before the signal (%s), %d left"
              % (title, len(running), ", ".join(sorted(set(running.values()))), len(left)))
        return ["left %s (pid %d)" % (name, pid) for pid, name in sorted(left.items())]
    finally:
        for pid in carrying(token):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if program.poll() is None:
            program.kill()
            program.wait()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD, help="the efi build the harness boots")
    args = parser.parse_args(argv)
    if not guard.possible([]):
        print("SKIPPED: the kill check needs root's PID and network namespaces (CAP_SYS_ADMIN)")
        return SKIPPED
    failures = []
    with tempfile.TemporaryDirectory(prefix="testbed-kill-") as work:
        # The servers read the trees below it as the user nobody.
        Path(work).chmod(0o755)
        stand_in = Path(work) / "rivari-check-stand-in"
        # Keeps the server check busy with its server running, as a slow rivari-check would.
        stand_in.write_text("#!/bin/sh\nsleep 60\n")
        stand_in.chmod(0o755)
        for row in ROWS:
            failures += ["%s: %s" % (row[0], problem)
                         for problem in run_row(row, args.build_dir.resolve(), Path(work), str(stand_in))]
    for failure in failures:
        print("FAIL " + failure)
    print("kill check: %s" % ("nothing left" if not failures else "%d failures" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
