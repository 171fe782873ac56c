"""The hostile server's faults in OVMF, one table: each row is a scenario of its own (server-NAME), served by
the hostile server with that fault (or by a real server a row names), with the same script around it. The
statuses are what the firmware returned; the table of firmware facts
(Tools/RivariCheck/ServerCheck/FirmwareFacts.json) names these scenarios as the measurement of its rows, and
Test/Tools/RivariCheck/firmware_model_check.py compares the two."""

import shutil
import sys
from pathlib import Path

from testbed import facts, firmware_facts, servers

EXAMPLES = Path(__file__).resolve().parents[4] / "Examples"
SMALL_FILE = 6720  # Examples/ABCD1234.1
LARGE_SIZE = 200 * 1024
LARGE_FILE = 204754  # the large tree's ABCD1234.1: four blocks of 64512 bytes


def padded(text):
    """TEXT followed by comment lines up to LARGE_SIZE bytes."""
    data = text.encode("ascii")
    filler = b"; " + b"-" * 61 + b"\n"
    return data + filler * ((LARGE_SIZE - len(data)) // len(filler))


def example_tree(directory):
    """The sample tree of Examples/."""
    for item in EXAMPLES.iterdir():
        if item.is_file():
            shutil.copyfile(item, directory / item.name)


def large_tree(directory):
    """Files of three 64512-byte blocks and more, so that a server silent after two blocks stops every read."""
    (directory / "rivari.ini").write_bytes(padded("[ABCD1234]\n0 = large\n"))
    (directory / "ABCD1234.1").write_bytes(padded("; numbered file 1\n"))


TAIL = ["publish-pxe good: EFI_SUCCESS 0x0", "release: EFI_SUCCESS 0x0", "fetch 10.0.2.2 ABCD1234: EFI_SUCCESS 0x0",
        "count: 5"]
STEP4 = "fetch 10.0.2.2 ABCD1234: EFI_BAD_BUFFER_SIZE 0x8000000000000004 (step 4)"
SMALL_SIZED = "file 1 null 77: EFI_OUT_OF_RESOURCES 0x8000000000000009, size %d" % SMALL_FILE
LARGE_READ = "file 1 buffer %d: EFI_SUCCESS 0x0, size %d, checksum 0x7B26F37B" % (LARGE_FILE, LARGE_FILE)
SMALL_READ = "file 1 buffer %d: EFI_SUCCESS 0x0, size %d, checksum 0x02CBE2F4" % (SMALL_FILE, SMALL_FILE)


def status(name, value=None):
    """A status as the runner prints it: its name and value (the value from the UEFI header unless given)."""
    return "%s 0x%X" % (name, facts.status_value(name) if value is None else value)


TFTP_ERROR = status("EFI_TFTP_ERROR")
PROTOCOL_ERROR = status("EFI_PROTOCOL_ERROR")
TIMEOUT = status("EFI_TIMEOUT")
NOT_FOUND = status("EFI_NOT_FOUND")
# What OVMF's Mtftp returns for a packet it cannot read and for ICMP port unreachable: EFI_PORT_UNREACHABLE
# (EFIERR(103), named with the UEFI network protocols), which the runner's names leave out.
UNREADABLE_PACKET = status("EFI_STATUS", 0x8000000000000067)
PORT_UNREACHABLE = UNREADABLE_PACKET


def both(size, result, buffer=SMALL_FILE):
    """The numbered file's two lines when the size query and the read both end with RESULT."""
    return ["file 1 null 77: %s, size %d" % (result, size), "file 1 buffer %d: %s, size %d" % (buffer, result, buffer)]


# name: (fault, large tree, comment, the fetch's line, the numbered file's lines)
FAULT_SCENARIOS = {
    "ignore-options": ("ignore-options", False,
                       "no OACK, 512-byte DATA at once: the size query learns nothing; numbered files get the "
                       "firmware's EFI_PROTOCOL_ERROR", STEP4, both(77, PROTOCOL_ERROR)),
    "half-size": ("half-size", False,
                  "the read overflows the half-size buffer: the read's EFI_BUFFER_TOO_SMALL, whose value is also "
                  "the step 5 code",
                  "fetch 10.0.2.2 ABCD1234: EFI_BUFFER_TOO_SMALL 0x8000000000000005 (step 5)",
                  ["file 1 null 77: EFI_OUT_OF_RESOURCES 0x8000000000000009, size 3360",
                   "file 1 buffer 6720: EFI_BUFFER_TOO_SMALL 0x8000000000000005, size 6720"]),
    "double-size": ("double-size", False,
                    "the read reports the bytes received; a numbered file needs a buffer of the doubled size first",
                    "fetch 10.0.2.2 ABCD1234: EFI_SUCCESS 0x0",
                    ["file 1 null 77: EFI_OUT_OF_RESOURCES 0x8000000000000009, size 13440",
                     "file 1 buffer 6720: EFI_OUT_OF_RESOURCES 0x8000000000000009, size 13440",
                     "file 1 buffer 13440: EFI_SUCCESS 0x0, size 6720, checksum 0x02CBE2F4"]),
    "size-not-found": ("size-not-found", False,
                       "the size query fails with the server's error: step 4; numbered files get EFI_TFTP_ERROR",
                       STEP4, both(77, TFTP_ERROR)),
    "silent-after-two": ("silent-after-two", True,
                         "each read ends with EFI_TIMEOUT after about %.0f s (%d sends, %.0f s apart); the size query "
                         "is answered" % (firmware_facts.PATIENCE_SECONDS, firmware_facts.SENDS,
                                          firmware_facts.RESEND_SECONDS), "fetch 10.0.2.2 ABCD1234: " + TIMEOUT,
                         ["file 1 null 77: EFI_OUT_OF_RESOURCES 0x8000000000000009, size %d" % LARGE_FILE,
                          "file 1 buffer %d: %s, size %d" % (LARGE_FILE, TIMEOUT, LARGE_FILE)]),
    "ignore-blksize": ("ignore-blksize", False, "512-byte blocks: everything arrives",
                       "fetch 10.0.2.2 ABCD1234: EFI_SUCCESS 0x0", [SMALL_SIZED, SMALL_READ]),
    "refuse-blksize": ("refuse-blksize", False,
                       "every read carries a block size, so every read fails; the size query does not",
                       "fetch 10.0.2.2 ABCD1234: " + TFTP_ERROR,
                       [SMALL_SIZED, "file 1 buffer 6720: %s, size 6720" % TFTP_ERROR]),
    "malformed-packet": ("malformed-packet", False, "a 3-byte DATA packet where the read's first block belongs",
                         "fetch 10.0.2.2 ABCD1234: " + UNREADABLE_PACKET,
                         [SMALL_SIZED, "file 1 buffer 6720: %s, size 6720" % UNREADABLE_PACKET]),
    "unknown-opcode": ("unknown-opcode", False, "opcode 9 where the read's first block belongs",
                       "fetch 10.0.2.2 ABCD1234: " + UNREADABLE_PACKET,
                       [SMALL_SIZED, "file 1 buffer 6720: %s, size 6720" % UNREADABLE_PACKET]),
    "unasked-option": ("unasked-option", False,
                       "an option no request asked for in every option acknowledgement: the firmware passes over it",
                       "fetch 10.0.2.2 ABCD1234: EFI_SUCCESS 0x0", [SMALL_SIZED, SMALL_READ]),
    "refuse-windowsize": ("refuse-windowsize", False, "error 8 to every request with windowsize: every request",
                          STEP4, both(77, TFTP_ERROR)),
    "windowsize-4": ("windowsize-4", True, "windows of four 64512-byte blocks: everything arrives",
                     "fetch 10.0.2.2 ABCD1234: EFI_SUCCESS 0x0",
                     ["file 1 null 77: EFI_OUT_OF_RESOURCES 0x8000000000000009, size %d" % LARGE_FILE,
                      LARGE_READ]),
    "lockstep-large": ("none", True, "the large tree block by block, to set the windowed transfer's time against",
                       "fetch 10.0.2.2 ABCD1234: EFI_SUCCESS 0x0",
                       ["file 1 null 77: EFI_OUT_OF_RESOURCES 0x8000000000000009, size %d" % LARGE_FILE,
                        LARGE_READ]),
    "stall-10s": ("stall-10s", False, "10 s of silence after the read's options: the firmware waits it out",
                  "fetch 10.0.2.2 ABCD1234: EFI_SUCCESS 0x0", [SMALL_SIZED, SMALL_READ]),
    "stall-30s": ("stall-30s", False, "30 s of silence after the read's options: longer than the firmware waits",
                  "fetch 10.0.2.2 ABCD1234: " + TIMEOUT,
                  [SMALL_SIZED, "file 1 buffer 6720: %s, size 6720" % TIMEOUT]),
    "silent": ("silent", False,
               "every request taken and never answered: each size query ends with EFI_TIMEOUT after the "
               "firmware's whole patience", STEP4, both(77, TIMEOUT)[:1]),
    "no-server": ("no-server", False,
                  "nothing listens on port 69: ICMP port unreachable ends every request at once", STEP4,
                  both(77, PORT_UNREACHABLE)),
    "unexpected-packet": ("unexpected-packet", False,
                          "an ACK of block 0 answers the size query: the firmware passes over it and waits out its "
                          "patience", STEP4, both(77, TIMEOUT)[:1]),
    "no-size": ("no-size", False, "the size query's options acknowledged without tsize", STEP4,
                both(77, NOT_FOUND)),
    "atftpd-no-tsize": ("atftpd --no-tsize", False, "atftpd told to leave tsize out of its acknowledgements",
                        STEP4, both(77, NOT_FOUND)),
    "windowsize-zero": ("windowsize-zero", False,
                        "windowsize 0 acknowledged to every request: the size query still gets its size, the read "
                        "fails", "fetch 10.0.2.2 ABCD1234: " + TFTP_ERROR,
                        [SMALL_SIZED, "file 1 buffer 6720: %s, size 6720" % TFTP_ERROR]),
    "blksize-above-asked": ("blksize-above-asked", False,
                            "a read's block size acknowledged 1 byte above the one asked for: the read fails",
                            "fetch 10.0.2.2 ABCD1234: " + TFTP_ERROR,
                            [SMALL_SIZED, "file 1 buffer 6720: %s, size 6720" % TFTP_ERROR]),
    "atftpd": ("atftpd", True, "atftpd grants windows of four 64512-byte blocks: everything arrives",
               "fetch 10.0.2.2 ABCD1234: EFI_SUCCESS 0x0",
               ["file 1 null 77: EFI_OUT_OF_RESOURCES 0x8000000000000009, size %d" % LARGE_FILE, LARGE_READ]),
}
# Rows whose first field names a real server (with its arguments) rather than a fault of the hostile server.
REAL_SERVERS = ("atftpd",)
# Rows whose server cannot run here, with the reason; the run says they were skipped.
UNAVAILABLE = {name: servers.atftpd_missing_reason() for name, row in FAULT_SCENARIOS.items()
               if row[0].split()[0] == "atftpd" and servers.atftpd_missing_reason()}
for _name, _reason in UNAVAILABLE.items():
    del FAULT_SCENARIOS[_name]
    print("SKIPPED server-%s: %s" % (_name, _reason), file=sys.stderr)


def server(name):
    """The server of a row, as boot.txt names one: (kind, arguments...)."""
    words = FAULT_SCENARIOS[name][0].split()
    return tuple(words) if words[0] in REAL_SERVERS else ("hostile", words[0])


def script(name):
    """The scenario's script: the fault's fetch and numbered file, then a good fetch from tftpd-hpa."""
    fault, large, comment, _, numbered = FAULT_SCENARIOS[name]
    size = LARGE_FILE if large else SMALL_FILE
    reads = [line.split(":")[0] for line in numbered if line.startswith("file 1 buffer")]
    # A row that lists no read after a failed size query leaves it out: it would only wait out the same failure.
    sized = any(line.startswith("file 1 null") and ": EFI_OUT_OF_RESOURCES" in line for line in numbered)
    return (["# " + comment, "publish-pxe hostile", "fetch 10.0.2.2 ABCD1234", "file 1 null 77"]
            + (reads or (["file 1 buffer %d" % size] if sized else []))
            + ["publish-pxe good", "release", "fetch 10.0.2.2 ABCD1234", "count"])


def expected(name):
    _, _, _, fetch, numbered = FAULT_SCENARIOS[name]
    return ["publish-pxe hostile: EFI_SUCCESS 0x0", fetch] + numbered + TAIL


def generators(name):
    """The hostile server's tree: the large one for rows that need several blocks, else the sample tree."""
    return {"hostile": large_tree if FAULT_SCENARIOS[name][1] else example_tree}
