"""The example's rivari.ini with numbered file 1 of machine ABCD1234 made 1 MiB long."""

import shutil
from pathlib import Path

EXAMPLES = Path(__file__).resolve().parents[4] / "Examples"
MIB = 1024 * 1024


def mib_file_tree(directory):
    shutil.copyfile(EXAMPLES / "rivari.ini", directory / "rivari.ini")
    (directory / "ABCD1234.1").write_bytes(bytes(range(256)) * (MIB // 256))


GENERATED = {"wide": mib_file_tree, "narrow": mib_file_tree}
