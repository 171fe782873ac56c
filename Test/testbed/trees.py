"""The TFTP trees of a boot: which card and server serves each, the boot's one script, the trees on disk.

In script.txt, "publish-pxe NAME" selects the tree NAME and the server 10.0.2.2 of "fetch" and
"raw-sequence" is the server of that tree. On QEMU's network every tree gets its own card with its
own QEMU user network and TFTP server at 10.0.2.2. On the tap network the real servers' trees share
one card and every server has an address of its own; the script gets that address and the transcript
10.0.2.2 back (transcripts.py), so one expectation holds for every server. A word "@NAME/PATH" names
the file PATH of tree NAME as copied onto the runner's disk.
"""

import os
import shutil
from pathlib import Path

from . import facts, settings, split_servers

SERVER_COMMANDS = ("fetch", "raw-sequence")
# The card on the tap network; QEMU's server's cards of a tap boot come after it.
TAP_NIC = 1
FIRST_SERVER_HOST = 2


class Tree:
    """
    One TFTP tree of a boot, copied from Source or built by Generate: Number names its directories,
    Server (kind and arguments) serves it at Address, reached through network card Nic.
    """

    def __init__(self, name, number, server=settings.QEMU_SERVER, source=None, generate=None, folder=None):
        self.name = name
        self.number = number
        self.nic = number
        self.address = facts.SERVER
        self.server = server
        self.source = source
        self.generate = generate
        self.on_disk = False
        self.directory = None
        # The scenario folder that named the tree (a split server's map file is there), and the server lines
        # the split printed.
        self.folder = folder
        self.server_lines = None

    def on_qemu_server(self):
        return self.server == settings.QEMU_SERVER


def server_address(index):
    """The address of the INDEX-th real TFTP server (0 first) on the tap network; never the guest's own."""
    host = FIRST_SERVER_HOST + index
    guest = int(facts.GUEST_ADDRESS.rsplit(".", 1)[1])
    return facts.NETWORK_PREFIX + str(host + 1 if host >= guest else host)


def find_tree_source(scenario, name):
    """(directory, generator) for tree NAME of a scenario; stops when it has none."""
    folder = scenario.folder
    if (folder / ("tftp-" + name)).is_dir():
        return folder / ("tftp-" + name), None
    link = folder / ("tftp-" + name + ".link")
    if link.exists():
        return (facts.REPOSITORY / link.read_text().strip()).resolve(), None
    if name in scenario.generators:
        return None, scenario.generators[name]
    raise SystemExit("scenario %s: no tree %r (tftp-%s/, tftp-%s.link or generate.py)" % (scenario.name, name, name, name))


def disk_words(words):
    return [word for word in words if word.startswith("@") and "/" in word]


def tree_names(words):
    """The trees a script line names: by publish-pxe NAME and by @NAME/PATH words."""
    names = [words[1]] if len(words) == 2 and words[0] == "publish-pxe" and words[1] != "none" else []
    return names + [word[1:].split("/", 1)[0] for word in disk_words(words)]


def folder_tree_names(scenario):
    """Every tree of a scenario folder: tftp-NAME/, tftp-NAME.link and the generated ones."""
    names = [path.name[len("tftp-"):].removesuffix(".link") for path in sorted(scenario.folder.glob("tftp-*"))]
    return names + sorted(scenario.generators)


def assign_trees(runs, network, folder_trees=False):
    """
    Gives every tree a run's script names (with FOLDER_TREES, every tree of its folder first) its number,
    card and server address; trees copied from the same directory for the same server are one tree
    (each card or server costs boot time). Returns the boot's trees.
    """
    trees = []
    shared = {}
    for run in runs:
        lines = [line.split() for line in run.scenario.script]
        names = folder_tree_names(run.scenario) if folder_trees else []
        for name in names + [name for words in lines for name in tree_names(words)]:
            if name in run.trees:
                continue
            source, generate = find_tree_source(run.scenario, name)
            server = run.server_of(name)
            # A split tree is made with its scenario folder's map file, so only that folder's runs share it.
            key = (server, source, run.scenario.folder if split_servers.is_split(server) else None)
            if source is not None and key in shared:
                run.trees[name] = shared[key]
                continue
            tree = Tree(name, len(trees) + 1, server, source, generate, run.scenario.folder)
            if network == "tap":
                place_in_tap_boot(tree, trees)
            run.trees[name] = tree
            trees.append(tree)
            if source is not None:
                shared[key] = tree
        for word in [word for words in lines for word in disk_words(words)]:
            run.trees[word[1:].split("/", 1)[0]].on_disk = True
    return trees


def place_in_tap_boot(tree, earlier):
    """
    The card and server address of a tree in a tap boot: the real servers' trees share the tap card,
    each server at an address of its own; trees of QEMU's server get user network cards of their own.
    """
    if tree.on_qemu_server():
        tree.nic = TAP_NIC + 1 + sum(1 for other in earlier if other.on_qemu_server())
    else:
        tree.nic = TAP_NIC
        tree.address = server_address(sum(1 for other in earlier if not other.on_qemu_server()))


def rewrite_line(run, line, published):
    """
    A script line with tree names turned into card numbers and disk paths and the server 10.0.2.2
    into the address of PUBLISHED, the tree last published.
    """
    words = line.split()
    if len(words) == 2 and words[0] == "publish-pxe" and words[1] != "none":
        return "publish-pxe %d %s" % (run.trees[words[1]].nic, words[1])
    if len(words) > 1 and words[0] in SERVER_COMMANDS and words[1] == facts.SERVER and published is not None:
        words[1] = published.address
    rewritten = []
    for word in words:
        if word.startswith("@") and "/" in word:
            name, path = word[1:].split("/", 1)
            word = "\\trees\\%d\\%s" % (run.trees[name].number, path.replace("/", "\\"))
        rewritten.append(word)
    return " ".join(rewritten)


def compose_script(runs):
    """The one script of the boot: every run's block in order."""
    lines = []
    for run in runs:
        lines.append("scenario " + run.name)
        published = None
        for line in run.scenario.script:
            if not line.strip() or line.startswith("#"):
                continue
            words = line.split()
            if words[0] == "publish-pxe" and len(words) == 2:
                published = run.trees.get(words[1])
            lines.append(rewrite_line(run, line, published))
    return "\n".join(lines) + "\n"


def build_trees(trees, work, fat):
    """
    Materialises each tree under work/tftp/NUMBER and, when the script reads it, on the disk. A split tree's
    disk copy is the fleet it was split from, so what a client downloads is compared with the fleet's own file.
    """
    for tree in trees:
        tree.directory = work / "tftp" / str(tree.number)
        split = split_servers.is_split(tree.server)
        if tree.generate is not None:
            tree.directory.mkdir(parents=True)
            tree.generate(tree.directory)
        elif split:
            tree.server_lines = split_servers.write_tree(tree)
        else:
            shutil.copytree(tree.source, tree.directory)
        if tree.on_disk:
            shutil.copytree(tree.source if split else tree.directory, fat / "trees" / str(tree.number))
        if not tree.on_qemu_server():
            open_to_servers(tree.directory)


def open_to_servers(directory):
    """The real servers read the tree as the user nobody: directories and files made world-readable."""
    for folder, _, files in os.walk(directory):
        os.chmod(folder, 0o755)
        for name in files:
            os.chmod(Path(folder) / name, 0o644)
