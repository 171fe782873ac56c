"""A 4 MiB rivari.ini with machine SPEED001's section first, so the fetch's time is DHCP and the transfer."""

from testbed import facts

SIZE = 4 * 1024 * 1024
SECTION = b'[SPEED001]\n0 = "lossy link"\n\n[FILLER00]\n'
FILLER = b"; " + b"=" * 61 + b"\n"


def big_tree(directory):
    body = SECTION + FILLER * ((SIZE - len(SECTION)) // len(FILLER))
    (directory / facts.CONFIGURATION_FILE).write_bytes(body + b";" * (SIZE - len(body)))


GENERATED = {"big": big_tree}
