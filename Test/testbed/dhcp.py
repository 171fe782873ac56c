"""The boot setting "dhcp": whether the tap network's DHCP server names a boot file in its offers.

PXE firmware takes only offers that name a boot file; "no-boot-file" makes a DHCP server as most
networks have one, offering an address and nothing else; "none" leaves the network without one.
"""

BOOT_FILE = "boot-file"
NO_BOOT_FILE = "no-boot-file"
NONE = "none"

BOOT_CHOICE = {"dhcp": (BOOT_FILE, (BOOT_FILE, NO_BOOT_FILE, NONE))}
