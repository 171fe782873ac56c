"""The boot setting "dhcp": who answers DHCP on the tap network, and whether its offers name a boot file.

PXE firmware takes only offers that name a boot file; "no-boot-file" makes a DHCP server as most
networks have one, offering an address and nothing else; "none" leaves the network without one;
"split-dnsmasq" leaves it to the first dnsmasq of the boot started from rivari-check split's lines
(split_servers.py), so its offers name what those lines name.
"""

BOOT_FILE = "boot-file"
NO_BOOT_FILE = "no-boot-file"
NONE = "none"
SPLIT_DNSMASQ = "split-dnsmasq"

BOOT_CHOICE = {"dhcp": (BOOT_FILE, (BOOT_FILE, NO_BOOT_FILE, NONE, SPLIT_DNSMASQ))}


def tap_serves(setting):
    """Whether the tap network's own DHCP server runs under SETTING."""
    return setting in (BOOT_FILE, NO_BOOT_FILE)
