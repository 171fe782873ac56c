"""Tree "main": the sample tree with its rivari.ini grown past several of the service's blocks by comment lines."""

import shutil

from testbed import facts

# Several 64512-byte blocks, each some 44 IP fragments on the wire.
CONFIGURATION_SIZE = 256 * 1024
PADDING = "; padding that makes the file span several TFTP blocks of 64512 bytes\n"


def large_configuration_tree(directory):
    shutil.copytree(facts.EXAMPLES, directory, dirs_exist_ok=True)
    text = (facts.EXAMPLES / facts.CONFIGURATION_FILE).read_text()
    (directory / facts.CONFIGURATION_FILE).write_text(text + PADDING * ((CONFIGURATION_SIZE - len(text)) // len(PADDING)))


GENERATED = {"main": large_configuration_tree}
