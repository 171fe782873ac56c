"""Starts and stops the TFTP servers the tests run against, each as a context
manager that yields once the server answers and always ends the server's whole
process group on exit, also when the body raises:

    with tftpd_hpa(root, "127.0.0.1") as server:      # in.tftpd (root: it chroots and drops to nobody)
    with dnsmasq_tftp(root, "127.0.0.2") as server:   # dnsmasq-base as a TFTP-only server, always port 69
    with hostile(root, "127.0.0.1", 0, "half-size") as server:
        server.port, server.address, server.log_path
        agreed_block_size(server.address, server.port, "rivari.ini")

The served tree must be readable by the user "nobody" (both daemons drop to it).
Python standard library only.
"""

import contextlib
import ctypes
import os
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from hostile_tftp import DATA, OACK, RRQ, error_packet

HOSTILE_SCRIPT = Path(__file__).resolve().parent / "hostile_tftp.py"
TFTP_PORT = 69
PROBE_NAME = "tolvane-probe.missing"
START_SECONDS = 10.0
STOP_SECONDS = 5.0
PR_SET_PDEATHSIG = 1


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


def die_with_parent():
    """In the child before exec: the kernel kills it when the test process dies, even by SIGKILL."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def stop_group(process):
    """SIGTERM to the process group, SIGKILL when it lingers; waits for the leader."""
    for sig, grace in ((signal.SIGTERM, STOP_SECONDS), (signal.SIGKILL, STOP_SECONDS)):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            break
        try:
            process.wait(grace)
            # The leader is gone; a straggler of its group still gets the KILL.
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, signal.SIGKILL)
            break
        except subprocess.TimeoutExpired:
            continue
    with contextlib.suppress(subprocess.TimeoutExpired):
        process.wait(STOP_SECONDS)


@contextlib.contextmanager
def process_group(command, log_path, stdout=None):
    """Runs COMMAND in its own session and process group (output to LOG_PATH); ends the group on exit."""
    with open(log_path, "ab") as log:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=stdout or log, stderr=log,
                                   start_new_session=True, preexec_fn=die_with_parent)
    try:
        yield process
    finally:
        stop_group(process)
        if process.stdout is not None:
            process.stdout.close()


def free_udp_port(address):
    """A UDP port nobody uses on ADDRESS right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind((address, 0))
        return probe.getsockname()[1]


def read_request(filename, options):
    fields = [filename, "octet"] + [str(word) for item in options.items() for word in item]
    return struct.pack("!H", RRQ) + b"".join(field.encode("ascii") + b"\0" for field in fields)


def first_answer(address, port, filename, options, timeout=1.0):
    """Sends one read request; returns (opcode, packet, transfer address) of the answer, or None."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
        client.settimeout(timeout)
        client.sendto(read_request(filename, options), (address, port))
        try:
            packet, source = client.recvfrom(65536)
        except socket.timeout:
            return None
        opcode = struct.unpack("!H", packet[:2])[0] if len(packet) >= 2 else 0
        if opcode in (DATA, OACK):
            # Ends the transfer at once, as a client does that only wanted the options.
            client.sendto(error_packet(0, "probe done"), source)
        return opcode, packet, source


def oack_options(packet):
    """The option name -> value pairs of an OACK packet."""
    words = packet[2:].split(b"\0")[:-1]
    return {name.decode("ascii").lower(): value.decode("ascii") for name, value in zip(words[::2], words[1::2])}


def agreed_block_size(address, port, filename, requested=64512):
    """The block size the server agrees to when asked for REQUESTED: 512 when it ignores the option, None on error or silence."""
    answer = first_answer(address, port, filename, {"blksize": requested, "tsize": 0})
    if answer is None or answer[0] not in (DATA, OACK):
        return None
    if answer[0] == DATA:
        return 512
    return int(oack_options(answer[1]).get("blksize", 512))


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
def dnsmasq_tftp(root, address="127.0.0.1", port=TFTP_PORT, extra_args=(), log_path=None):
    """dnsmasq as a TFTP-only server (no DNS, no DHCP) on ADDRESS; dnsmasq serves TFTP on port 69 only."""
    if port not in (0, TFTP_PORT):
        raise ValueError("dnsmasq serves TFTP on port 69 only; give each server its own address instead")
    log_path = log_file(log_path, "dnsmasq-tftp")
    command = ["dnsmasq", "--port=0", "--conf-file=/dev/null", "--keep-in-foreground", "--no-resolv", "--no-hosts",
               "--listen-address=%s" % address, "--bind-interfaces", "--enable-tftp", "--tftp-root=%s" % root,
               "--pid-file=", "--log-facility=-"]
    with process_group(command + list(extra_args), log_path) as process:
        server = RunningServer("dnsmasq", address, TFTP_PORT, process, log_path)
        wait_until_answering(server)
        yield server


@contextlib.contextmanager
def hostile(root, address="127.0.0.1", port=0, fault="none", log_path=None):
    """hostile_tftp.py with one FAULT; its stderr (one line per request) goes to the log file."""
    log_path = log_file(log_path, "hostile-" + fault)
    command = [sys.executable, str(HOSTILE_SCRIPT), "--address", address, "--port", str(port),
               "--root", str(root), "--fault", fault]
    with process_group(command, log_path, stdout=subprocess.PIPE) as process:
        ready, _, _ = select.select([process.stdout], [], [], START_SECONDS)
        line = process.stdout.readline().decode("ascii", "replace").split() if ready else []
        if len(line) != 2 or line[0] != "ready":
            raise RuntimeError("hostile server (%s) did not start:\n%s" % (fault, Path(log_path).read_text()))
        server = RunningServer("hostile " + fault, address, int(line[1]), process, log_path)
        yield server
