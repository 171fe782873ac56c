"""Hostile configurations built at run time: an empty file and 8 MiB of random bytes."""

import random

RANDOM_SIZE = 8 * 1024 * 1024


def empty_tree(directory):
    (directory / "rivari.ini").write_bytes(b"")


def random_tree(directory):
    data = bytearray(random.Random(20240501).randbytes(RANDOM_SIZE))
    # Keep the detection of UTF-16 by zero bytes at offsets 1 and 3 out of play: this is byte text.
    data[1] = 0x41
    (directory / "rivari.ini").write_bytes(bytes(data))


GENERATED = {"empty": empty_tree, "random": random_tree}
