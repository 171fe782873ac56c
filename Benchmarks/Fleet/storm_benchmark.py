#!/usr/bin/env python3
"""A boot storm: N machines of a fleet fetch their configuration at once, as
the driver does in OVMF (the table of firmware facts, FirmwareFacts.json: a
size query with its options, ended with error 8 once the server acknowledges
them, then a read with its options, each packet sent again after the
firmware's wait), from tftpd-hpa and from dnsmasq, serving the fleet's whole
rivari.ini or the per-client files of `rivari-check split`. For fleets of
1,000 and 10,000 machines and N = 10, 100 and 1,000 it prints the bytes served,
the storm's wall time and the server's CPU time.

    PYTHONPATH=Test python3 Benchmarks/Fleet/storm_benchmark.py [--rivari-check build/host/Tools/RivariCheck/rivari-check]

Root only: it runs in the test bed's guard (PID and network namespaces of its
own, where only loopback exists and nothing outlives it), client N speaking
from 127.1.x.y as the map names it. Every storm is bounded (--storm-seconds)
and every server is stopped after its storms. Python standard library only.
"""

import argparse
import asyncio
import collections
import contextlib
import os
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import fleet  # beside this script

try:
    from testbed import firmware_facts, guard
    from testbed.servers import dnsmasq_tftp, tftpd_hpa
    from testbed.tftp_wire import (ACK, DATA, ERROR, ERROR_OPTIONS, OACK, error_packet, oack_options, opcode_of,
                                   read_request)
except ImportError as missing:
    raise SystemExit("the test bed's package is not found (%s): run with PYTHONPATH=Test from the repository" % missing)

REPOSITORY = Path(__file__).resolve().parents[2]

FLEETS = (1000, 10000)
STORMS = (10, 100, 1000)
FIRST_ADDRESS = "127.1.0.0"
SERVER_ADDRESS = "127.0.0.1"
CONFIGURATION = "rivari.ini"
# The firmware's schedule: each packet sent this many times, this far apart.
RESEND_SECONDS = firmware_facts.RESEND_SECONDS
SENDS_PER_PACKET = firmware_facts.SENDS
SIZE_QUERY_OPTIONS = dict(firmware_facts.request_options("size_query"))
READ_OPTIONS = dict(firmware_facts.request_options("read"))
# Payload bytes received by every client of the current storm, finished or not.
DELIVERED = [0]


class FetchFailed(Exception):
    pass


class ClientSocket(asyncio.DatagramProtocol):
    """One UDP socket of a client: packets go to a queue with their source."""

    def __init__(self):
        self.packets = asyncio.Queue()

    def datagram_received(self, data, source):
        self.packets.put_nowait((data, source))


async def exchange(endpoint, packet, destination):
    """Sends PACKET until an answer comes (the firmware's sends, its wait apart); returns (answer, source)."""
    for _ in range(SENDS_PER_PACKET):
        endpoint[0].sendto(packet, destination)
        try:
            return await asyncio.wait_for(endpoint[1].packets.get(), RESEND_SECONDS)
        except asyncio.TimeoutError:
            continue
    raise FetchFailed("no answer")


async def open_socket(address):
    loop = asyncio.get_running_loop()
    return await loop.create_datagram_endpoint(ClientSocket, local_addr=(address, 0))


async def size_query(address, server):
    """The driver's size query: the size the server answers."""
    endpoint = await open_socket(address)
    try:
        answer, source = await exchange(endpoint, read_request(CONFIGURATION, SIZE_QUERY_OPTIONS), server)
        if opcode_of(answer) != OACK:
            raise FetchFailed("size query answered with opcode %d" % opcode_of(answer))
        endpoint[0].sendto(error_packet(ERROR_OPTIONS, "size query only"), source)
        return int(oack_options(answer).get("tsize", -1))
    finally:
        endpoint[0].close()


async def read_file(address, server, header):
    """The driver's read: the bytes received; a file that does not open with HEADER (when given) fails."""
    endpoint = await open_socket(address)
    try:
        answer, source = await exchange(endpoint, read_request(CONFIGURATION, READ_OPTIONS),
                                        server)
        block_size, window, received, expected = 512, 1, 0, 1
        if opcode_of(answer) == OACK:
            options = oack_options(answer)
            block_size, window = int(options.get("blksize", 512)), int(options.get("windowsize", 1))
            answer, source = await exchange(endpoint, struct.pack("!HH", ACK, 0), source)
        while True:
            if opcode_of(answer) == ERROR:
                raise FetchFailed("error %d" % struct.unpack("!H", answer[2:4])[0])
            if opcode_of(answer) == DATA and struct.unpack("!H", answer[2:4])[0] == expected & 0xFFFF:
                if expected == 1 and header and not answer[4:].startswith(header):
                    raise FetchFailed("another machine's file")
                payload = len(answer) - 4
                received += payload
                DELIVERED[0] += payload
                last = payload < block_size
                if last or expected % window == 0:
                    acknowledgement = struct.pack("!HH", ACK, expected & 0xFFFF)
                    if last:
                        endpoint[0].sendto(acknowledgement, source)
                        return received
                    answer, source = await exchange(endpoint, acknowledgement, source)
                    expected += 1
                    continue
                expected += 1
            try:
                answer, source = await asyncio.wait_for(endpoint[1].packets.get(), RESEND_SECONDS * SENDS_PER_PACKET)
            except asyncio.TimeoutError:
                raise FetchFailed("silent during the read")
    finally:
        endpoint[0].close()


async def fetch(address, server, header):
    size = await size_query(address, server)
    received = await read_file(address, server, header)
    if received != size:
        raise FetchFailed("%d bytes received, %d answered" % (received, size))
    return received


async def storm(clients, server, seconds):
    """CLIENTS ((address, header or None)) fetch at once; (bytes, wall seconds, failures), bounded by SECONDS."""
    DELIVERED[0] = 0
    start = time.monotonic()
    tasks = [asyncio.ensure_future(fetch(address, server, header)) for address, header in clients]
    done, pending = await asyncio.wait(tasks, timeout=seconds)
    for task in pending:
        task.cancel()
    await asyncio.gather(*pending, return_exceptions=True)
    wall = time.monotonic() - start
    served = DELIVERED[0]
    reasons = collections.Counter(str(task.exception()) for task in done if task.exception() is not None)
    reasons.update({"unfinished": len(pending)} if pending else {})
    if reasons:
        print("  failed: " + ", ".join("%d %s" % (count, reason) for reason, count in reasons.items()), flush=True)
    return served, wall, sum(reasons.values())


def children_cpu_seconds():
    """User and system time of the processes this one has waited for (a stopped server, and what it reaped)."""
    # In the guard's PID namespace this process is init: request processes a server forked and left behind
    # come to it, and count once reaped.
    with contextlib.suppress(ChildProcessError):
        while os.waitpid(-1, os.WNOHANG)[0] != 0:
            pass
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def prepare(work, machines, rivari_check):
    """The fleet's folder (whole file) and its split for tftpd-hpa and dnsmasq (one tree serves both)."""
    folder = work / ("fleet-%d" % machines)
    configuration, client_map = fleet.write_fleet(folder / "full", machines, FIRST_ADDRESS)
    split = folder / "split"
    started = time.monotonic()
    subprocess.run([rivari_check, "split", str(configuration), "--map", str(client_map), "--out", str(split),
                    "--for", "tftpd-hpa"], check=True, stdout=subprocess.DEVNULL)
    print("split of %d machines: %.1f s" % (machines, time.monotonic() - started), flush=True)
    return folder / "full", split


def servers(root, split):
    """(name, function starting it) for each server over ROOT; SPLIT when ROOT is the split tree."""
    tftpd_options = ["--map-file", str(root / "tftpd-hpa.map")] if split else []
    dnsmasq_options = ["--tftp-max=2000"] + (["--tftp-unique-root=ip"] if split else [])
    return (("tftpd-hpa", lambda: tftpd_hpa(root, SERVER_ADDRESS, 69, tftpd_options)),
            ("dnsmasq", lambda: dnsmasq_tftp(root, SERVER_ADDRESS, 69, dnsmasq_options)))


def run(arguments):
    work = Path(tempfile.mkdtemp(prefix="tolvane-storm-"))
    work.chmod(0o755)
    rows = []
    try:
        for machines in arguments.fleets:
            full, split = prepare(work, machines, arguments.rivari_check)
            for layout, root in (("full", full), ("split", split)):
                for name, start_server in servers(root, layout == "split"):
                    for count in arguments.storms:
                        # A client of the split tree checks that the file it got is its own.
                        clients = [(fleet.client_address(index, FIRST_ADDRESS),
                                    ("[%s]" % fleet.machine_identifier(index)).encode() if layout == "split" else None)
                                   for index in range(count)]
                        # A server of its own per storm: its CPU time is counted once it has stopped.
                        before = children_cpu_seconds()
                        with start_server():
                            served, wall, failures = asyncio.run(
                                storm(clients, (SERVER_ADDRESS, 69), arguments.storm_seconds))
                        used = children_cpu_seconds() - before
                        row = (name, machines, layout, count, served, wall, used, failures)
                        rows.append(row)
                        print("%s %d %s N=%d: %d bytes, %.2f s, server CPU %.2f s, %d failed" % row, flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print()
    print("| Server | Fleet | File | N | Bytes served | Wall time | Server CPU | Failed |")
    print("|---|---|---|---|---|---|---|---|")
    for name, machines, layout, count, served, wall, used, failures in rows:
        print("| %s | %s | %s | %s | %s | %.2f s | %.2f s | %d |"
              % (name, f"{machines:,}", layout, f"{count:,}", f"{served:,}", wall, used, failures))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rivari-check", default=str(REPOSITORY / "build/host/Tools/RivariCheck/rivari-check"))
    parser.add_argument("--fleets", type=int, nargs="+", default=FLEETS, help="machines per fleet file")
    parser.add_argument("--storms", type=int, nargs="+", default=STORMS, help="clients per storm (at most 1,000)")
    parser.add_argument("--storm-seconds", type=float, default=300.0, help="bound of one storm (default 300)")
    arguments = parser.parse_args()
    arguments.storms = [min(count, 1000, min(arguments.fleets)) for count in arguments.storms]
    reason = guard.enter().real_servers_reason()
    if reason is not None:
        print("boot storm skipped: " + reason)
        return 0
    # Name resolution with AI_ADDRCONFIG (in.tftpd's --address) finds no IPv4 while loopback is the only address:
    # a tap device nobody opens, with a documentation address, gives it one.
    subprocess.run(["ip", "tuntap", "add", "dev", "storm0", "mode", "tap"], check=True)
    subprocess.run(["ip", "address", "add", "192.0.2.1/32", "dev", "storm0"], check=True)
    subprocess.run(["ip", "link", "set", "storm0", "up"], check=True)
    run(arguments)
    return 0


if __name__ == "__main__":
    sys.exit(main())
