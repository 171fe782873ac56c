#!/usr/bin/env python3
"""rivari-check --server against real TFTP servers on the loopback interface,
asserting what it reports and the driver's verdicts:

    server_check.py --tool PATH/rivari-check --server tftpd-hpa|dnsmasq|atftpd|hostile

  tftpd-hpa, dnsmasq  the sample tree of Examples/: the size, the agreed block
                      size, "fetch would succeed", the numbered files 0 to 2
  atftpd              the same, then a 1 MiB numbered file read in windows of
                      four 64512-byte blocks with nothing resent, and atftpd
                      --no-tsize; atftpd comes unpacked from its Debian package
                      (scripts/prerequisites.sh), never installed
  hostile             the shared hostile server with each of its faults, and
                      a port where nothing listens

The statuses expected are the table of firmware facts' (FirmwareFacts.json):
the rows that name a fault, or a real server with its arguments. The whole run
happens in PID and network namespaces of its own (the test bed's guard), which
hold only their own loopback interface: nothing can reach a real network, port
69 is free for dnsmasq, and nothing the check starts outlives it, however it
ends. tftpd-hpa, dnsmasq and atftpd need root's namespaces (CAP_SYS_ADMIN: they
chroot or drop to nobody); the hostile server runs in any namespace the guard
can make, never on the host's addresses. Exit status 0 when every check passes,
77 (skipped) with the reason printed when the server cannot be started here, 1
otherwise. Needs PYTHONPATH=Test (the test bed's package); CTest sets it.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from testbed import facts, firmware_facts, guard, hostile, servers

REPOSITORY = facts.REPOSITORY
SKIPPED = 77
MACHINE = facts.EXAMPLE_MACHINE
DRIVER_BLOCK_SIZE = facts.DRIVER_BLOCK_SIZE
# Larger than two blocks of 64512 bytes, so that a server silent after two blocks stops the transfer.
LARGE = 160000
# Sixteen blocks and more of 64512 bytes: four windows and a bit.
WINDOWED = 1 << 20
SILENCE_TIMEOUT = "1"
STEP4 = "0x8000000000000004"
CANNOT_TELL = "cannot-tell"
# Faults waited for with the firmware's own patience (no --timeout): a stall the firmware sits out is no failure.
PATIENT_FAULTS = ("stall-10s",)
# A size answer larger than the file sent is a warning (size-answer), not a failure: exit 1.
WARNING_FAULTS = ("double-size",)
# A refusal comes back at once: a check that takes longer than this waited for something.
AT_ONCE_SECONDS = 2.0


class CheckFailed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def status_names(tool):
    """{status value: the tool's text for it}, from the tool's model beside the table's values of the same rows."""
    model = json.loads(subprocess.run([tool, "--firmware-model"], capture_output=True, check=True).stdout)
    return {firmware_facts.status(row): shown["status"]
            for row, shown in zip(firmware_facts.TABLE["answers"], model["answers"])}


def expected_outcome(names, rows, patient):
    """(fetch status, step, numbered file status, exit status) the table gives a server that behaves as ROWS say."""
    statuses = {"size_query": firmware_facts.SUCCESS, "read": firmware_facts.SUCCESS}
    statuses.update((row["request"], firmware_facts.status(row)) for row in rows)
    size, read = statuses["size_query"], statuses["read"]
    failing = size if size != firmware_facts.SUCCESS else read
    if failing == firmware_facts.SUCCESS:
        return names[firmware_facts.SUCCESS], None, None, 0
    if any(row["behaviour"] == "silent" for row in rows) and not patient:
        # With --timeout shorter than the firmware's patience a silence is "cannot tell", never a failure.
        return None, None, CANNOT_TELL, 4
    if size != firmware_facts.SUCCESS:
        return STEP4, 4, names[size], 3
    return names[read], None, names[read], 3


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
    check_loopback_notes(report, expected_block_size)
    status, report = run_tool(tool, address, "--file-number", "7")
    expect(status == 3, "a missing file asked for fails the check: exit %d" % status)
    expect(report["server"]["numbered_files"][0]["download"]["status"] == "EFI_TFTP_ERROR", "file 7: %r" % report)
    text = subprocess.run([tool, "--server", address, "--machine", MACHINE], capture_output=True, text=True)
    expect("Verdict: fetch would succeed" in text.stdout, "text report:\n" + text.stdout)
    print(text.stdout)


def check_loopback_notes(report, block_size):
    """Over loopback a block size the server capped below the driver's is named for a machine, with no fragment note."""
    notes = report["server"]["notes"]
    expect(report["server"]["over_loopback"], "the check ran over loopback: %r" % report["server"])
    if block_size < DRIVER_BLOCK_SIZE:
        expect(any("1468-byte blocks" in note for note in notes), "a machine's block size named: %r" % notes)
        expect(not any("IP fragments" in note for note in notes), "no fragment note over loopback: %r" % notes)
    for note in notes:
        expect("receive buffer" not in note, "the check's own socket holds a window: %r" % note)


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


def check_atftpd(tool, tree, where):
    if where.real_servers_reason():
        return "atftpd: " + where.real_servers_reason()
    if servers.atftpd_missing_reason():
        return servers.atftpd_missing_reason()
    names = status_names(tool)
    served = serve_tree(tree / "atftpd", False)
    with servers.atftpd(served) as server:
        check_sample_tree(tool, server, DRIVER_BLOCK_SIZE)
        # Windows of four 64512-byte blocks: the check's socket holds each, so nothing is lost and nothing resent.
        (served / (MACHINE + ".1")).write_bytes(bytes(range(256)) * (WINDOWED // 256))
        (served / (MACHINE + ".1")).chmod(0o644)
        address = "%s:%d" % (server.address, server.port)
        status, report = run_tool(tool, address, "--file-number", "1")
        read = report["server"]["numbered_files"][0]["read"]
        print("atftpd 1 MiB: %d blocks of %d, window %r, %d resends, %.3f s"
              % (read["blocks"], read["block_size"], read["window_size_answer"], read["resends"], read["seconds"]))
        expect(status == 0, "exit status %d: %r" % (status, report["server"]))
        expect(read["received"] == WINDOWED and read["window_size_answer"] == 4, "a windowed read: %r" % read)
        expect(read["resends"] == 0, "nothing resent in a windowed read: %r" % read)
    with servers.atftpd(served, extra_args=["--no-tsize"]) as server:
        fetch, step, numbered, exit_status = expected_outcome(names, firmware_facts.rows_of(server="atftpd --no-tsize"),
                                                              False)
        code, report = run_tool(tool, "%s:%d" % (server.address, server.port))
        expect(code == exit_status, "atftpd --no-tsize: exit status %d, expected %d" % (code, exit_status))
        check_fetch(report, fetch, step)
        check_numbered_files(report, numbered)
        print("atftpd --no-tsize  fetch %-21s numbered files %-20s exit %d" % (fetch, numbered, code))
    return None


def check_hostile(tool, tree, where):
    if where.mode is None:
        return where.reason
    names = status_names(tool)
    served = serve_tree(tree / "hostile", True)
    failures = []
    for fault in hostile.FAULTS:
        patient = fault in PATIENT_FAULTS
        status, step, numbered_status, exit_status = expected_outcome(names, firmware_facts.rows_of(fault=fault), patient)
        if fault in WARNING_FAULTS:
            exit_status = 1
        with servers.hostile(served, fault=fault) as server:
            started = time.monotonic()
            code, report = run_tool(tool, "%s:%d" % (server.address, server.port),
                                    *([] if patient else ["--timeout", SILENCE_TIMEOUT]))
            seconds = time.monotonic() - started
        try:
            expect(code == exit_status, "exit status %d, expected %d" % (code, exit_status))
            check_fetch(report, status, step)
            if fault == "silent":
                # Nothing came at all: waiting out every numbered file too would only repeat the verdict.
                expect(report["server"]["numbered_files"] == [], "no numbered file is waited for: %r" % report)
            else:
                check_numbered_files(report, numbered_status)
            if fault == "no-server":
                expect(seconds < AT_ONCE_SECONDS, "a closed port is told at once, not after %.1f s" % seconds)
            if fault == "windowsize-4":
                read = report["server"]["read"]
                expect(read["window_size_answer"] == 4 and read["blocks"] >= 3, "a windowed read: %r" % read)
            print("hostile %-19s fetch %-21s numbered files %-20s exit %d, %.1f s"
                  % (fault, status, numbered_status or "0-2", code, seconds))
        except CheckFailed as failure:
            failures.append("hostile %s: %s" % (fault, failure))
    if failures:
        raise CheckFailed("\n".join(failures))
    return None


CHECKS = {"tftpd-hpa": check_tftpd_hpa, "dnsmasq": check_dnsmasq, "atftpd": check_atftpd, "hostile": check_hostile}


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
