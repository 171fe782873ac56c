"""Trees of 1 MiB and 4 MiB, one per server: rivari.ini with machine SPEED001's section first (so the
fetch's time is mostly DHCP and the transfer, not the search), and numbered file 1 of the same size."""

MIB = 1024 * 1024
SECTION = b'[SPEED001]\n0 = "transfer speed"\n\n[FILLER00]\n'
FILLER = b"; " + b"=" * 61 + b"\n"
SERVERS = ("qemu", "hpa", "hpa1428", "dnsmasq")
SIZES = {"1m": MIB, "4m": 4 * MIB}


def sized_tree(size):
    def build(directory):
        body = SECTION + FILLER * ((size - len(SECTION)) // len(FILLER))
        (directory / "rivari.ini").write_bytes(body + b";" * (size - len(body)))
        (directory / "SPEED001.1").write_bytes(bytes(range(256)) * (size // 256))
    return build


GENERATED = {"%s-%s" % (server, size): sized_tree(length) for server in SERVERS for size, length in SIZES.items()}
