#!/usr/bin/env python3
"""rivari-check --server against real TFTP servers on the loopback interface,
asserting what it reports and the driver's verdicts:

    server_check.py --tool PATH/rivari-check --server tftpd-hpa|dnsmasq|hostile

  tftpd-hpa, dnsmasq  the sample tree of Examples/: the size, the agreed block
                      size, "fetch would succeed", the numbered files 0 to 2
  hostile             the shared hostile server with each of its faults, and
                      a port where nobody answers

The whole run happens in PID and network namespaces of its own (the test
bed's guard), which hold only their own loopback interface: nothing can reach
a real network, port 69 is free for dnsmasq, and nothing the check starts
outlives it, however it ends. tftpd-hpa and dnsmasq need root's namespaces
(CAP_SYS_ADMIN: they chroot and drop to nobody); the hostile server runs in
any namespace the guard can make, never on the host's addresses. Exit status
0 when every check passes, 77 (skipped) with the reason printed when the
server cannot be started here, 1 otherwise. Needs PYTHONPATH=Test (the test
bed's package); CTest sets it.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from testbed import facts, guard, servers

REPOSITORY = facts.REPOSITORY
SKIPPED = 77
MACHINE = facts.EXAMPLE_MACHINE
DRIVER_BLOCK_SIZE = facts.DRIVER_BLOCK_SIZE
# Larger than two blocks of 64512 bytes, so that a server silent after two blocks stops the transfer.
LARGE = 160000
SILENCE_TIMEOUT = "1"

# fault: FetchConfiguration's status and step, the status of the first numbered file that fails (None: the
# numbered files 0 to 2 download and 3 is missing), and the exit status. Statuses as OVMF returns them for
# the same fault. With --timeout shorter than the firmware's patience, a server that stops answering gives
# "cannot tell" (status None, CANNOT_TELL for the numbered file, exit 4), never a failure.
CANNOT_TELL = "cannot-tell"
HOSTILE_CASES = [
    ("none", "EFI_SUCCESS", None, None, 0),
    ("ignore-options", "0x8000000000000004", 4, "EFI_PROTOCOL_ERROR", 3),
    ("half-size", "EFI_BUFFER_TOO_SMALL", None, "EFI_BUFFER_TOO_SMALL", 3),
    ("double-size", "EFI_SUCCESS", None, None, 1),
    ("size-not-found", "0x8000000000000004", 4, "EFI_TFTP_ERROR", 3),
    ("silent-after-two", None, None, CANNOT_TELL, 4),
    ("ignore-blksize", "EFI_SUCCESS", None, None, 0),
    ("refuse-blksize", "EFI_TFTP_ERROR", None, "EFI_TFTP_ERROR", 3),
    ("malformed-packet", "0x8000000000000067", None, "0x8000000000000067", 3),
    ("unknown-opcode", "0x8000000000000067", None, "0x8000000000000067", 3),
    ("unasked-option", "EFI_SUCCESS", None, None, 0),
    ("refuse-windowsize", "0x8000000000000004", 4, "EFI_TFTP_ERROR", 3),
    ("windowsize-4", "EFI_SUCCESS", None, None, 0),
    ("stall-30s", None, None, CANNOT_TELL, 4),
]
# Faults checked with the firmware's own wait (no --timeout): a stall the firmware sits out is no failure.
PATIENT_CASES = [
    ("stall-10s", "EFI_SUCCESS", None, None, 0),
]


class CheckFailed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def second_loopback_address():
    """in.tftpd resolves its address with AI_ADDRCONFIG, which counts no 127.0.0.1: a second loopback address."""
    subprocess.run(["ip", "addr", "add", "127.0.0.2/8", "dev", "lo"], check=True)


def serve_tree(directory, large):
    """The files of Examples/ copied to DIRECTORY, readable by the daemons' user; LARGE makes rivari.ini and file 1 large."""
    directory.mkdir(mode=0o755)
    for item in (REPOSITORY / "Examples").iterdir():
        if item.is_file():
            shutil.copyfile(item, directory / item.name)
    if large:
        with open(directory / facts.CONFIGURATION_FILE, "a") as config:
            line = "# padding that makes the file span three blocks of 64512 bytes\n"
            config.write(line * (LARGE // len(line)))
        (directory / (MACHINE + ".1")).write_bytes(bytes(range(256)) * (LARGE // 256))
    for item in [directory, *directory.iterdir()]:
        item.chmod(0o755 if item.is_dir() else 0o644)
    return directory


def run_tool(tool, server, *extra):
    """rivari-check --server SERVER --machine ABCD1234 --json: (exit status, report)."""
    command = [tool, "--server", server, "--machine", MACHINE, "--json", *extra]
    done = subprocess.run(command, capture_output=True, timeout=120)
    try:
        return done.returncode, json.loads(done.stdout)
    except json.JSONDecodeError:
        raise CheckFailed("%s: no JSON (exit %d): %s" % (" ".join(command), done.returncode, done.stderr.decode()))


def check_numbered_files(report, failing_status):
    """Files 0 to 2 download and 3 is missing, or the scan stops at a file that fails with FAILING_STATUS."""
    files = report["server"]["numbered_files"]
    last = files[-1]
    if failing_status is None:
        expect([item["number"] for item in files] == [0, 1, 2, 3], "numbered files %r" % files)
        expect(all(item["download"]["succeeds"] for item in files[:3]), "files 0 to 2 download: %r" % files)
        expect(last["missing"] and not last["download"]["succeeds"], "file 3 is missing: %r" % last)
    elif failing_status == CANNOT_TELL:
        expect(not last["missing"] and last["download"]["verdict"] == CANNOT_TELL,
               "the scan ends at a file the check cannot tell about: %r" % last)
    else:
        expect(not last["missing"] and last["download"]["status"] == failing_status,
               "the scan ends at a file that fails with %s: %r" % (failing_status, last))


def check_fetch(report, status, step):
    fetch = report["server"]["fetch"]
    expect(fetch["status"] == status and fetch["step"] == step,
           "fetch: expected %s step %s, got %r" % (status, step, fetch))


def check_sample_tree(tool, server, expected_block_size):
    """A well-behaved server with the sample tree: sizes, block size, success, the section and files 0 to 2."""
    address = "%s:%d" % (server.address, server.port)
    status, report = run_tool(tool, address)
    expect(status == 0, "exit status %d: %r" % (status, report))
    size = (facts.EXAMPLES / facts.CONFIGURATION_FILE).stat().st_size
    check_fetch(report, "EFI_SUCCESS", None)
    expect(report["server"]["size_query"]["size_answer"] == size, "size answer %r" % report["server"]["size_query"])
    expect(report["server"]["read"]["received"] == size, "bytes read %r" % report["server"]["read"])
    expect(report["server"]["read"]["block_size"] == expected_block_size,
           "block size %d, the server agreed to %d" % (report["server"]["read"]["block_size"], expected_block_size))
    expect(report["machine"]["section_found"] and report["machine"]["entry_count"] == 5, "section %r" % report)
    check_numbered_files(report, None)
    status, report = run_tool(tool, address, "--file-number", "7")
    expect(status == 3, "a missing file asked for fails the check: exit %d" % status)
    expect(report["server"]["numbered_files"][0]["download"]["status"] == "EFI_TFTP_ERROR", "file 7: %r" % report)
    text = subprocess.run([tool, "--server", address, "--machine", MACHINE], capture_output=True, text=True)
    expect("Verdict: fetch would succeed" in text.stdout, "text report:\n" + text.stdout)
    print(text.stdout)


def check_tftpd_hpa(tool, tree, where):
    if where.real_servers_reason():
        return "tftpd-hpa: " + where.real_servers_reason()
    if shutil.which("in.tftpd") is None:
        return "in.tftpd not installed (package tftpd-hpa)"
    with servers.tftpd_hpa(serve_tree(tree / "tftpd-hpa", False)) as server:
        check_sample_tree(tool, server, DRIVER_BLOCK_SIZE)
    return None


def check_dnsmasq(tool, tree, where):
    if where.real_servers_reason():
        return "dnsmasq: " + where.real_servers_reason()
    if shutil.which("dnsmasq") is None:
        return "dnsmasq not installed (package dnsmasq-base)"
    with servers.dnsmasq_tftp(serve_tree(tree / "dnsmasq", False)) as server:
        agreed = servers.probe_block_size(server.address, server.port, facts.CONFIGURATION_FILE)
        check_sample_tree(tool, server, agreed)
    return None


def check_hostile(tool, tree, where):
    if where.mode is None:
        return where.reason
    served = serve_tree(tree / "hostile", True)
    failures = []
    cases = [(case, ["--timeout", SILENCE_TIMEOUT]) for case in HOSTILE_CASES] + [(case, []) for case in PATIENT_CASES]
    for (fault, status, step, numbered_status, exit_status), wait in cases:
        with servers.hostile(served, fault=fault) as server:
            code, report = run_tool(tool, "%s:%d" % (server.address, server.port), *wait)
        try:
            expect(code == exit_status, "exit status %d, expected %d" % (code, exit_status))
            check_fetch(report, status, step)
            check_numbered_files(report, numbered_status)
            if fault == "windowsize-4":
                read = report["server"]["read"]
                expect(read["window_size_answer"] == 4 and read["blocks"] >= 3, "a windowed read: %r" % read)
            print("hostile %-17s fetch %-21s numbered files %-20s exit %d" % (fault, status, numbered_status or "0-2", code))
        except CheckFailed as failure:
            failures.append("hostile %s: %s" % (fault, failure))
    # Nobody answers within the shortened wait: the check cannot tell (the firmware would wait 24 s).
    code, report = run_tool(tool, "127.0.0.1:%d" % servers.free_udp_port("127.0.0.1"), "--timeout", "0.2")
    try:
        expect(code == 4 and report["server"]["size_query"]["end"] == "timeout", "silent port: %r" % report)
        expect(report["outcome"] == "cannot-tell", "silent port outcome: %r" % report["outcome"])
        expect(report["server"]["numbered_files"] == [], "no numbered file is waited for: %r" % report)
        check_fetch(report, None, None)
    except CheckFailed as failure:
        failures.append(str(failure))
    if failures:
        raise CheckFailed("\n".join(failures))
    return None


CHECKS = {"tftpd-hpa": check_tftpd_hpa, "dnsmasq": check_dnsmasq, "hostile": check_hostile}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True, help="the rivari-check program")
    parser.add_argument("--server", choices=sorted(CHECKS), required=True)
    args = parser.parse_args()

    where = guard.enter()
    if where.mode is not None:
        second_loopback_address()
    with tempfile.TemporaryDirectory(prefix="rivari-server-check-") as work:
        Path(work).chmod(0o755)
        try:
            skipped = CHECKS[args.server](os.path.abspath(args.tool), Path(work), where)
        except CheckFailed as failure:
            print("FAILED: %s" % failure)
            return 1
    if skipped:
        print("SKIPPED: rivari-check --server against %s: %s" % (args.server, skipped))
        return SKIPPED
    print("rivari-check --server against %s: every check passed" % args.server)
    return 0


if __name__ == "__main__":
    sys.exit(main())
