"""The TFTP servers the tests run against, each a context manager that yields once the server answers
and ends the server's process group on exit, also when the body raises:

    with tftpd_hpa(root, "127.0.0.1") as server:      # in.tftpd (root: it chroots and drops to nobody)
    with dnsmasq_tftp(root, "127.0.0.2") as server:   # dnsmasq-base as a TFTP-only server, always port 69
    with hostile(root, "127.0.0.1", 0, "half-size") as server:
    with atftpd(root, "127.0.0.1", 0, ["--no-tsize"]) as server:  # atftpd from its Debian package (ATFTPD_CACHE)
        server.port, server.address, server.log_path
        probe_block_size(server.address, server.port, facts.CONFIGURATION_FILE)

start(kind, ...) picks one by the kind a boot.txt names. The served tree must be readable by the user
nobody (both daemons drop to it). Run them only inside the guard's namespaces (guard.py): a daemon that
changed its user outlives a killed test anywhere else.
"""

import contextlib
import os
import select
import shutil
import socket
import subprocess
import tempfile
import time
from pathlib import Path

from . import facts, tftp_wire
from .processes import package_module, process_group

PROBE_NAME = "tolvane-probe.missing"
START_SECONDS = 10.0
KINDS = ("tftpd-hpa", "dnsmasq", "hostile", "atftpd")
# atftpd is unpacked from its Debian package here (scripts/prerequisites.sh), never installed: its package would
# replace tftpd-hpa's.
ATFTPD_CACHE = facts.REPOSITORY / "build" / "atftpd"
ATFTPD_FETCH = "apt-get download atftpd && dpkg -x atftpd_*.deb %s" % ATFTPD_CACHE


class RunningServer:
    """A started server: where it listens, its process and the file its output goes to."""

    def __init__(self, name, address, port, process, log_path):
        self.name = name
        self.address = address
        self.port = port
        self.process = process
        self.log_path = log_path

    def log_text(self):
        return Path(self.log_path).read_text(errors="replace") if self.log_path else ""


def free_udp_port(address):
    """A UDP port nobody uses on ADDRESS right now (inside the guard's namespace only this test binds)."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind((address, 0))
        return probe.getsockname()[1]


def first_answer(address, port, filename, options, timeout=1.0):
    """Sends one read request; returns (opcode, packet, transfer address) of the answer, or None."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
        client.settimeout(timeout)
        client.sendto(tftp_wire.read_request(filename, options), (address, port))
        try:
            packet, source = client.recvfrom(65536)
        except socket.timeout:
            return None
        opcode = tftp_wire.opcode_of(packet)
        if opcode in (tftp_wire.DATA, tftp_wire.OACK):
            # Ends the transfer at once, as a client does that only wanted the options.
            client.sendto(tftp_wire.error_packet(0, "probe done"), source)
        return opcode, packet, source


def probe_block_size(address, port, filename, requested=facts.DRIVER_BLOCK_SIZE):
    """The block size the server agrees to when asked for REQUESTED: 512 when it ignores the option, None on error or silence."""
    answer = first_answer(address, port, filename, {"blksize": requested, "tsize": 0})
    return None if answer is None else tftp_wire.agreed_block_size(answer[1])


def wait_until_answering(server, seconds=START_SECONDS):
    """Returns once SERVER answers a read request for a missing file; raises when it exits or stays mute."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if server.process.poll() is not None:
            raise RuntimeError("%s exited with status %d before it answered:\n%s"
                               % (server.name, server.process.returncode, server.log_text()))
        if first_answer(server.address, server.port, PROBE_NAME, {}, timeout=0.2) is not None:
            return
    raise RuntimeError("%s did not answer on %s:%d within %.0f s:\n%s"
                       % (server.name, server.address, server.port, seconds, server.log_text()))


def log_file(log_path, name):
    if log_path is not None:
        return Path(log_path)
    handle, path = tempfile.mkstemp(prefix=name + "-", suffix=".log")
    os.close(handle)
    return Path(path)


@contextlib.contextmanager
def tftpd_hpa(root, address="127.0.0.1", port=0, extra_args=(), log_path=None):
    """in.tftpd serving ROOT on ADDRESS:PORT (0: a free port); it logs to syslog only, so its log file holds only failures."""
    port = port or free_udp_port(address)
    log_path = log_file(log_path, "tftpd-hpa")
    command = ["in.tftpd", "-L", "-4", "-vvv", "-u", "nobody", "-s", str(root), "--address", "%s:%d" % (address, port)]
    with process_group(command + list(extra_args), log_path) as process:
        server = RunningServer("tftpd-hpa", address, port, process, log_path)
        wait_until_answering(server)
        yield server


@contextlib.contextmanager
def dnsmasq_tftp(root, address="127.0.0.1", port=facts.TFTP_PORT, extra_args=(), log_path=None):
    """dnsmasq as a TFTP-only server (no DNS, no DHCP) on ADDRESS; dnsmasq serves TFTP on port 69 only."""
    if port not in (0, facts.TFTP_PORT):
        raise ValueError("dnsmasq serves TFTP on port 69 only; give each server its own address instead")
    log_path = log_file(log_path, "dnsmasq-tftp")
    command = ["dnsmasq", "--port=0", "--conf-file=/dev/null", "--keep-in-foreground", "--no-resolv", "--no-hosts",
               "--listen-address=%s" % address, "--bind-interfaces", "--enable-tftp", "--tftp-root=%s" % root,
               "--pid-file=", "--log-facility=-"]
    with process_group(command + list(extra_args), log_path) as process:
        server = RunningServer("dnsmasq", address, facts.TFTP_PORT, process, log_path)
        wait_until_answering(server)
        yield server


@contextlib.contextmanager
def hostile(root, address="127.0.0.1", port=0, fault="none", log_path=None):
    """The hostile server (hostile.py) with one FAULT; its stderr (one line per request) goes to the log file."""
    log_path = log_file(log_path, "hostile-" + fault)
    command, directory = package_module("hostile", "--address", address, "--port", str(port), "--root", str(root),
                                        "--fault", fault)
    with process_group(command, log_path, stdout=subprocess.PIPE, cwd=directory) as process:
        ready, _, _ = select.select([process.stdout], [], [], START_SECONDS)
        line = process.stdout.readline().decode("ascii", "replace").split() if ready else []
        if len(line) != 2 or line[0] != "ready":
            raise RuntimeError("hostile server (%s) did not start:\n%s" % (fault, Path(log_path).read_text()))
        yield RunningServer("hostile " + fault, address, int(line[1]), process, log_path)


def atftpd_program():
    """The atftpd program: on the PATH, else unpacked in ATFTPD_CACHE; None when neither has it."""
    found = shutil.which("atftpd")
    if found is not None:
        return found
    unpacked = ATFTPD_CACHE / "usr" / "sbin" / "atftpd"
    return str(unpacked) if unpacked.is_file() else None


def atftpd_missing_reason():
    """Why atftpd cannot be run here, or None."""
    if atftpd_program() is None:
        return "atftpd not found on the PATH or in %s (scripts/prerequisites.sh unpacks it: %s)" % (ATFTPD_CACHE,
                                                                                                 ATFTPD_FETCH)
    return None


@contextlib.contextmanager
def atftpd(root, address="127.0.0.1", port=0, extra_args=(), log_path=None):
    """atftpd in the foreground serving ROOT on ADDRESS:PORT (0: a free port), logging to its log file."""
    program = atftpd_program()
    if program is None:
        raise RuntimeError(atftpd_missing_reason())
    port = port or free_udp_port(address)
    log_path = log_file(log_path, "atftpd")
    command = [program, "--daemon", "--no-fork", "--user", "nobody", "--group", "nogroup", "--bind-address", address,
               "--port", str(port), "--logfile", "-", "--verbose=7", *extra_args, str(root)]
    with process_group(command, log_path) as process:
        server = RunningServer("atftpd", address, port, process, log_path)
        wait_until_answering(server)
        yield server


def start(kind, args, root, address, port, log_path):
    """The context manager of one server named as boot.txt names it: KIND with its ARGS (hostile: the fault)."""
    if kind == "tftpd-hpa":
        return tftpd_hpa(root, address, port, args, log_path)
    if kind == "dnsmasq":
        return dnsmasq_tftp(root, address, port, args, log_path)
    if kind == "hostile":
        return hostile(root, address, port, args[0], log_path)
    if kind == "atftpd":
        return atftpd(root, address, port, args, log_path)
    raise ValueError("unknown server kind %r (known: %s)" % (kind, ", ".join(KINDS)))
