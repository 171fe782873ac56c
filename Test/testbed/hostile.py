"""A small TFTP server (RFC 1350, options RFC 2347/2348/2349/7440) that misbehaves in one chosen way per run,
to show what a TFTP client does with servers that answer the size query wrongly, ignore options or go silent.

    PYTHONPATH=Test python3 -m testbed.hostile --address A --port P --root DIR --fault FAULT

Port 0 takes any free port. Once bound it prints one line "ready PORT" on stdout and serves read requests
until it is killed (SIGTERM ends it cleanly). Every request is served in its own transfer, from a new UDP
port, and logged as one line on stderr. A new fault is one entry in FAULTS and its branch in
plan_transfer (or in Transfer, for faults in the middle of a transfer). Importable as well:

    with HostileTftpServer("127.0.0.1", 0, root, "half-size") as server:
        ... server.port ...
"""

import argparse
import os
import select
import signal
import socket
import struct
import sys
import threading
import time
from pathlib import Path

from . import firmware_facts
from .tftp_wire import (ACK, DEFAULT_BLOCK_SIZE, ERROR, ERROR_ACCESS, ERROR_ILLEGAL, ERROR_NOT_FOUND,
                        ERROR_OPTIONS, ERROR_UNKNOWN_TID, MAX_BLOCK_SIZE, MIN_BLOCK_SIZE, WRQ, ack_number,
                        data_packet, error_packet, oack_packet, parse_request)

DEFAULT_TIMEOUT = 1.0
SENDS_PER_PACKET = 6
RECEIVE_BUFFER = 65536

FAULTS = {
    "none": "well-behaved: OACK for the tsize and blksize asked for, real size, agreed blksize",
    "ignore-options": "no OACK: 512-byte DATA at once, options ignored",
    "half-size": "tsize answered as half the real size",
    "double-size": "tsize answered as twice the real size",
    "size-not-found": 'ERROR 1 "File not found" to a request with tsize but no blksize (the size query)',
    "silent-after-two": "sends two DATA blocks of each transfer, then never answers again",
    "ignore-blksize": "answers tsize in the OACK, leaves blksize out, 512-byte blocks",
    "refuse-blksize": "ERROR 8 to any request carrying blksize",
    "malformed-packet": "a 3-byte DATA packet (no whole block number) where a read's first block belongs",
    "unknown-opcode": "a packet of opcode 9 where a read's first block belongs",
    "unasked-option": "acknowledges an option no request asked for (blocksize2=512) beside the others",
    "refuse-windowsize": "ERROR 8 to any request carrying windowsize",
    "windowsize-4": "acknowledges windowsize 4 and sends four blocks per acknowledgement (RFC 7440)",
    "stall-10s": "after a read's options are acknowledged, answers nothing for 10 s, then sends the file",
    "stall-30s": "after a read's options are acknowledged, answers nothing for 30 s, then sends the file",
    "silent": "takes every request and answers nothing, not even an error: a server that hears and never speaks",
    "no-server": "listens on nothing: the port is closed, and the system answers every request with ICMP port "
                 "unreachable",
    "unexpected-packet": "an ACK of block 0 (opcode 4, which no server sends) answers the size query (a request "
                         "with tsize and no blksize)",
    "no-size": "acknowledges the size query's other options and leaves tsize out; reads as usual",
    "blksize-above-asked": "acknowledges a block size 1 byte above the one a read asked for, and sends blocks of it",
    "windowsize-zero": "acknowledges windowsize 0 (RFC 7440 allows 1 to 65535) to every request asking for a window",
}
STALLS = {"stall-10s": 10.0, "stall-30s": 30.0}
# Faults under which no transfer starts: the request is only logged.
NO_TRANSFER = ("silent", "no-server")
WINDOW = 4
UNASKED_OPTION = ("blocksize2", 512)
UNKNOWN_OPCODE = 9
# The firmware's size query and read differ in the options only one of them asks for (tsize, blksize).
SIZE_QUERY_ONLY = ({name for name, _ in firmware_facts.request_options("size_query")}
                   - {name for name, _ in firmware_facts.request_options("read")})
READ_ONLY = ({name for name, _ in firmware_facts.request_options("read")}
             - {name for name, _ in firmware_facts.request_options("size_query")})


def to_netascii(content):
    """Line ends as CR LF and a lone CR as CR NUL, as netascii mode carries text."""
    return content.replace(b"\r", b"\r\0").replace(b"\n", b"\r\n")


def resolve(root, filename):
    """The file under ROOT the request names, or None when the name leaves ROOT."""
    path = (root / filename.replace("\\", "/").lstrip("/")).resolve()
    if path != root and root not in path.parents:
        return None
    return path


def parse_int(text):
    try:
        return int(text)
    except ValueError:
        return None


class Plan:
    """What one transfer answers: an error, or the OACK options, block size and payload."""

    def __init__(self, error=None, oack=None, block_size=DEFAULT_BLOCK_SIZE, payload=b"", timeout=DEFAULT_TIMEOUT):
        self.error = error
        self.oack = oack or {}
        self.block_size = block_size
        self.payload = payload
        self.timeout = timeout
        self.window = 1
        self.packet = None  # sent instead of any answer, and nothing after it


def plan_transfer(request, root, fault):
    """Decides the answer to a request under FAULT: the heart of the hostile behaviour."""
    if request.opcode == WRQ:
        return Plan(error=(ERROR_ACCESS, "Read-only server"))
    if request.mode not in ("octet", "netascii"):
        return Plan(error=(ERROR_ILLEGAL, "Unsupported mode"))
    options = request.options
    if fault == "refuse-blksize" and "blksize" in options:
        return Plan(error=(ERROR_OPTIONS, "Option negotiation refused"))
    if fault == "refuse-windowsize" and "windowsize" in options:
        return Plan(error=(ERROR_OPTIONS, "Option negotiation refused"))
    size_query = SIZE_QUERY_ONLY <= set(options) and not READ_ONLY & set(options)
    if fault == "size-not-found" and size_query:
        return Plan(error=(ERROR_NOT_FOUND, "File not found"))
    path = resolve(root, request.filename)
    if path is None:
        return Plan(error=(ERROR_ACCESS, "Access violation"))
    try:
        payload = path.read_bytes()
    except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
        return Plan(error=(ERROR_NOT_FOUND, "File not found"))
    except OSError:
        return Plan(error=(ERROR_ACCESS, "Access violation"))
    if request.mode == "netascii":
        payload = to_netascii(payload)
    plan = Plan(payload=payload)
    if fault == "ignore-options":
        return plan

    if fault == "unexpected-packet" and size_query:
        plan.packet = struct.pack("!HH", ACK, 0)
        return plan

    oack = {}
    if "tsize" in options and fault != "no-size":
        size = {"half-size": len(payload) // 2, "double-size": len(payload) * 2}.get(fault, len(payload))
        oack["tsize"] = size
    block_size = parse_int(options.get("blksize", ""))
    if block_size is not None and block_size >= MIN_BLOCK_SIZE and fault != "ignore-blksize":
        plan.block_size = min(block_size + (fault == "blksize-above-asked"), MAX_BLOCK_SIZE)
        oack["blksize"] = plan.block_size
    if fault in ("windowsize-4", "no-size") and parse_int(options.get("windowsize", "")) is not None:
        plan.window = min(WINDOW, max(1, parse_int(options["windowsize"])))
        oack["windowsize"] = plan.window
    if fault == "windowsize-zero" and "windowsize" in options:
        oack["windowsize"] = 0
    if fault == "unasked-option":
        oack[UNASKED_OPTION[0]] = UNASKED_OPTION[1]
    timeout = parse_int(options.get("timeout", ""))
    if timeout is not None and 1 <= timeout <= 255:
        plan.timeout = float(timeout)
        oack["timeout"] = timeout
    plan.oack = oack
    return plan


class Transfer:
    """One read transfer from its own socket (its own TID), with retransmission on timeout."""

    def __init__(self, server, client, plan):
        self.server = server
        self.client = client
        self.plan = plan
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind((server.address, 0))

    def run(self):
        try:
            if self.plan.error is not None:
                self.socket.sendto(error_packet(*self.plan.error), self.client)
                return
            if self.plan.packet is not None:
                self.socket.sendto(self.plan.packet, self.client)
                return
            if self.plan.oack and not self.exchange(oack_packet(self.plan.oack), 0):
                return
            self.send_blocks()
        finally:
            self.socket.close()

    def send_blocks(self):
        fault = self.server.fault
        if fault in STALLS:
            self.swallow(STALLS[fault])
        if fault == "malformed-packet":
            self.socket.sendto(struct.pack("!HB", 3, 0), self.client)
            return
        if fault == "unknown-opcode":
            self.socket.sendto(struct.pack("!HH", UNKNOWN_OPCODE, 1), self.client)
            return
        if self.plan.window > 1:
            self.send_windows()
            return
        size = self.plan.block_size
        payload = self.plan.payload
        block = 1
        while True:
            chunk = payload[(block - 1) * size:block * size]
            if self.server.fault == "silent-after-two" and block == 3:
                self.play_dead()
                return
            if not self.exchange(data_packet(block, chunk), block & 0xFFFF):
                return
            if len(chunk) < size:
                return
            block += 1

    def send_windows(self):
        """RFC 7440: up to a window of blocks after the last one acknowledged, again from there on each ACK."""
        size = self.plan.block_size
        payload = self.plan.payload
        last = len(payload) // size + 1
        acknowledged = 0
        for _ in range(SENDS_PER_PACKET * (last + 1)):
            window = range(acknowledged + 1, min(acknowledged + self.plan.window, last) + 1)
            for block in window:
                self.socket.sendto(data_packet(block & 0xFFFF, payload[(block - 1) * size:block * size]), self.client)
            number = self.await_any_ack(window)
            if number is False:
                return
            if number is not None:
                acknowledged = number
            if acknowledged == last:
                return

    def await_any_ack(self, window):
        """The block of WINDOW an ACK names (the client's last in order), None on timeout, False when it ends."""
        expected = {block & 0xFFFF: block for block in window}
        while True:
            answer = self.next_answer()
            if answer in (None, False):
                return answer
            if answer[0] == ERROR:
                return False
            if answer[0] == ACK and answer[1] in expected:
                return expected[answer[1]]
            # An older ACK is a duplicate: answering it would double every later block.

    def swallow(self, seconds):
        """Reads and drops everything the client sends for SECONDS: a server that stalls."""
        until = time.monotonic() + seconds
        while time.monotonic() < until:
            ready, _, _ = select.select([self.socket, self.server.stop_reader], [], [], until - time.monotonic())
            if self.server.stop_reader in ready:
                return
            if self.socket in ready:
                self.socket.recvfrom(RECEIVE_BUFFER)

    def exchange(self, packet, expected_ack):
        """Sends PACKET until the client acknowledges block EXPECTED_ACK; False when the transfer ends."""
        for _ in range(SENDS_PER_PACKET):
            self.socket.sendto(packet, self.client)
            answer = self.await_any_ack([expected_ack])
            if answer is not None:
                return answer is not False
        return False

    def play_dead(self):
        """Keeps the transfer's port open and swallows every packet until the server stops: no answer, not even a refusal."""
        while self.server.stop_reader not in select.select([self.socket, self.server.stop_reader], [], [])[0]:
            self.socket.recvfrom(RECEIVE_BUFFER)

    def next_answer(self):
        """(opcode, number) of the client's next ACK or ERROR; None on timeout, False when the server stops."""
        while True:
            ready, _, _ = select.select([self.socket, self.server.stop_reader], [], [], self.plan.timeout)
            if self.server.stop_reader in ready:
                return False
            if not ready:
                return None
            packet, source = self.socket.recvfrom(RECEIVE_BUFFER)
            if source != self.client:
                self.socket.sendto(error_packet(ERROR_UNKNOWN_TID, "Unknown transfer ID"), source)
                continue
            if ack_number(packet) is not None:
                return ack_number(packet)


class HostileTftpServer:
    """Serves ROOT on ADDRESS:PORT with one FAULT; a context manager runs it on a thread."""

    def __init__(self, address, port, root, fault, log=sys.stderr):
        if fault not in FAULTS:
            raise ValueError("unknown fault %r (known: %s)" % (fault, ", ".join(FAULTS)))
        self.address = address
        self.root = Path(root).resolve()
        self.fault = fault
        self.log = log
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.socket.bind((address, port))
        self.port = self.socket.getsockname()[1]
        if fault == "no-server":
            # Closed before the ready line names the port, so that no request can reach a socket nobody reads.
            self.socket.close()
        self.stop_reader, self.stop_writer = os.pipe()
        self.thread = None

    def serve_forever(self):
        if self.fault == "no-server":
            # The port stays known (the ready line names it) and nothing listens on it.
            os.read(self.stop_reader, 1)
            return
        while True:
            ready, _, _ = select.select([self.socket, self.stop_reader], [], [])
            if self.stop_reader in ready:
                return
            packet, client = self.socket.recvfrom(RECEIVE_BUFFER)
            self.handle(packet, client)

    def handle(self, packet, client):
        request = parse_request(packet)
        if request is None:
            self.note("%s:%d bad packet (%d bytes) -> ERROR 4" % (client + (len(packet),)))
            self.socket.sendto(error_packet(ERROR_ILLEGAL, "Illegal TFTP operation"), client)
            return
        if self.fault in NO_TRANSFER:
            self.note("%s:%d %s -> nothing" % (client + (request.describe(),)))
            return
        plan = plan_transfer(request, self.root, self.fault)
        if plan.packet is not None:
            answer = "a packet of opcode %d" % struct.unpack("!H", plan.packet[:2])
        elif plan.error is not None:
            answer = "ERROR %d %s" % plan.error
        elif plan.oack:
            answer = "OACK %s, %d-byte blocks" % (" ".join("%s=%s" % item for item in plan.oack.items()), plan.block_size)
        else:
            answer = "DATA at once, %d-byte blocks" % plan.block_size
        self.note("%s:%d %s -> %s" % (client + (request.describe(), answer)))
        threading.Thread(target=Transfer(self, client, plan).run, daemon=True).start()

    def note(self, line):
        if self.log is not None:
            print("hostile-tftp[%s]: %s" % (self.fault, line), file=self.log, flush=True)

    def shutdown(self):
        os.write(self.stop_writer, b"x")

    def close(self):
        self.socket.close()
        os.close(self.stop_reader)
        os.close(self.stop_writer)

    def __enter__(self):
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exception):
        self.shutdown()
        self.thread.join()
        self.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=69, help="0 takes any free port")
    parser.add_argument("--root", type=Path, required=True, help="the directory served")
    parser.add_argument("--fault", choices=sorted(FAULTS), default="none",
                        help="; ".join("%s: %s" % item for item in FAULTS.items()))
    args = parser.parse_args()
    if not args.root.is_dir():
        parser.error("--root %s is not a directory" % args.root)

    server = HostileTftpServer(args.address, args.port, args.root, args.fault)
    signal.signal(signal.SIGTERM, lambda *_: server.shutdown())
    print("ready %d" % server.port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
