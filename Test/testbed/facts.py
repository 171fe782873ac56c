"""The facts the test bed shares: where things are, what the driver asks for, the test network's addresses.

The configuration file's name and the block size come from the public header, and protocol GUIDs from
the protocol headers, so the tests ask for exactly what the images ask for.
"""

import re
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[2]
PROTOCOL_HEADERS = REPOSITORY / "Include" / "Protocol"
PUBLIC_HEADER = PROTOCOL_HEADERS / "TolvaneService.h"
SCENARIO_ROOT = REPOSITORY / "Test" / "Firmware" / "Scenarios"
EXAMPLES = REPOSITORY / "Examples"
DEFAULT_BUILD = REPOSITORY / "build" / "efi"


def header_define(name):
    """The value of #define NAME in the public header: an int, or the text of a string literal."""
    match = re.search(r"^#define\s+%s\s+(.+?)\s*$" % name, PUBLIC_HEADER.read_text(), re.MULTILINE)
    if match is None:
        raise SystemExit("%s: no #define %s" % (PUBLIC_HEADER, name))
    value = match.group(1)
    return value[1:-1] if value.startswith('"') else int(value, 0)


def protocol_guid(name):
    """The registry form (8-4-4-4-12, upper case) of the GUID #define NAME of a protocol header."""
    for header in sorted(PROTOCOL_HEADERS.glob("*.h")):
        match = re.search(r"^#define\s+%s\b[\s\\{]*(0x[^}]*)\{([^}]*)\}" % name, header.read_text(), re.MULTILINE)
        if match is not None:
            first = [int(word, 16) for word in match.group(1).replace("\\", "").split(",") if word.strip()]
            last = [int(word, 16) for word in match.group(2).replace("\\", "").split(",") if word.strip()]
            if len(first) != 3 or len(last) != 8:
                raise SystemExit("%s: #define %s is not a GUID" % (header, name))
            return "%08X-%04X-%04X-%s-%s" % (first[0], first[1], first[2], "".join("%02X" % b for b in last[:2]),
                                             "".join("%02X" % b for b in last[2:]))
    raise SystemExit("%s: no header defines %s" % (PROTOCOL_HEADERS, name))


def status_value(name):
    """The value of the EFI status NAME ("EFI_TIMEOUT") as Include/Uefi/UefiBaseType.h defines it."""
    text = (REPOSITORY / "Include" / "Uefi" / "UefiBaseType.h").read_text()
    match = re.search(r"^#define\s+%s\s+ENCODE_(ERROR|WARNING)\((\d+)\)" % name, text, re.MULTILINE)
    if match is None:
        raise SystemExit("Include/Uefi/UefiBaseType.h: no status %s" % name)
    return (1 << 63 if match.group(1) == "ERROR" else 0) | int(match.group(2))


CONFIGURATION_FILE = header_define("TOLVANE_CONFIGURATION_FILE_NAME")
DRIVER_BLOCK_SIZE = header_define("TOLVANE_TFTP_BLOCK_SIZE")
# The machine whose section Examples/rivari.ini holds.
EXAMPLE_MACHINE = "ABCD1234"

# The images of the efi build the boots put on the disk, and the folder of the disk they go in.
DRIVER_IMAGE = "TolvaneService.efi"
COMPANION_IMAGE = "TolvaneNetworkSetup.efi"
FIELD_TOOL_IMAGE = "tolvane.efi"
RUNNER_IMAGE = "TolvaneFirmwareRunner.efi"
CALLER_IMAGE = "TolvaneCaller.efi"
IMAGE_FOLDER = ("EFI", "Tolvane")
# The runner's script on the disk (Test/Firmware/README.md lists its commands).
RUNNER_SCRIPT = "runner-script.txt"

# The test network: QEMU's user network and the private tap network use the same addresses.
NETWORK_PREFIX = "10.0.2."
SERVER = NETWORK_PREFIX + "2"
DHCP_ADDRESS = NETWORK_PREFIX + "1"
GUEST_ADDRESS = NETWORK_PREFIX + "15"
TFTP_PORT = 69
