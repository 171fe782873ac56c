"""The example's configuration with numbered file 1 of the example machine made 1 MiB long."""

import shutil

from testbed import facts

MIB = 1024 * 1024


def mib_file_tree(directory):
    shutil.copyfile(facts.EXAMPLES / facts.CONFIGURATION_FILE, directory / facts.CONFIGURATION_FILE)
    (directory / (facts.EXAMPLE_MACHINE + ".1")).write_bytes(bytes(range(256)) * (MIB // 256))


GENERATED = {"wide": mib_file_tree, "narrow": mib_file_tree}
