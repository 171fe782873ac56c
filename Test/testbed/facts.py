"""The facts the test bed shares: where things are, what the driver asks for, the test network's addresses.

The configuration file's name and the block size come from the public header, so the tests ask for
exactly what the driver asks for.
"""

import re
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[2]
PUBLIC_HEADER = REPOSITORY / "Include" / "Protocol" / "TolvaneService.h"
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


CONFIGURATION_FILE = header_define("TOLVANE_CONFIGURATION_FILE_NAME")
DRIVER_BLOCK_SIZE = header_define("TOLVANE_TFTP_BLOCK_SIZE")
# The machine whose section Examples/rivari.ini holds.
EXAMPLE_MACHINE = "ABCD1234"

# The images of the efi build the boots put on the disk.
DRIVER_IMAGE = "TolvaneService.efi"
RUNNER_IMAGE = "TolvaneFirmwareRunner.efi"
CALLER_IMAGE = "TolvaneCaller.efi"

# The test network: QEMU's user network and the private tap network use the same addresses.
NETWORK_PREFIX = "10.0.2."
SERVER = NETWORK_PREFIX + "2"
DHCP_ADDRESS = NETWORK_PREFIX + "1"
GUEST_ADDRESS = NETWORK_PREFIX + "15"
TFTP_PORT = 69
