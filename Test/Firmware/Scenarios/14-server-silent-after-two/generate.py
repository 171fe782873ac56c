"""Files of three 64512-byte blocks and more, so that a server silent after two blocks stops every read."""

SIZE = 200 * 1024


def padded(text):
    """TEXT followed by comment lines up to SIZE bytes."""
    data = text.encode("ascii")
    filler = b"; " + b"-" * 61 + b"\n"
    return data + filler * ((SIZE - len(data)) // len(filler))


def large_tree(directory):
    (directory / "rivari.ini").write_bytes(padded("[ABCD1234]\n0 = large\n"))
    (directory / "ABCD1234.1").write_bytes(padded("; numbered file 1\n"))


GENERATED = {"hostile": large_tree}
