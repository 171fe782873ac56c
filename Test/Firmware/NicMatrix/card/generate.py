"""1 MiB trees: rivari.ini with machine SPEED001's section first, so the fetch's time is DHCP and the transfer."""

MIB = 1024 * 1024
SECTION = b'[SPEED001]\n0 = "card matrix"\n\n[FILLER00]\n'
FILLER = b"; " + b"=" * 61 + b"\n"


def mib_tree(directory):
    body = SECTION + FILLER * ((MIB - len(SECTION)) // len(FILLER))
    (directory / "rivari.ini").write_bytes(body + b";" * (MIB - len(body)))


GENERATED = {name: mib_tree for name in ("qemu", "wide", "narrow")}
