"""A 1 MiB configuration of 2,000 machine sections; the measured machine's section is near the end."""

SIZE = 1024 * 1024
MACHINES = 2000
MEASURED = 1990


def section(number):
    lines = ["[M%07d]" % number, "; machine %d of %d" % (number, MACHINES)]
    for entry in range(5):
        lines.append('%d = "machine %d entry %d"' % (entry, number, entry))
    lines.append("; " + "-" * 60)
    return "\n".join(lines) + "\n"


def big_tree(directory):
    # Whole filler lines fill each section to the same share of the 1 MiB; a last comment makes it exact.
    share = SIZE // MACHINES
    parts = []
    for number in range(MACHINES):
        text = section(number)
        while len(text) + 64 <= share:
            text += "; " + "=" * 61 + "\n"
        parts.append(text)
    body = "".join(parts)
    tail = SIZE - len(body)
    if tail >= 3:
        body += "; " + "." * (tail - 3) + "\n"
    data = body.encode("ascii")
    assert len(data) == SIZE, len(data)
    (directory / "rivari.ini").write_bytes(data)


GENERATED = {"big": big_tree}
