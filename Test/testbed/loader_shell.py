"""The loader "shell": the package alone on the firmware, no test runner; the UEFI Shell writes the load options.

The disk holds the images of the "drivers" setting, the field tool and the caller example in the image
folder, and a startup.nsh the firmware's UEFI Shell runs (nothing on the disk is bootable, and no card
is in the boot order, so the firmware falls into its Shell):

  start 1  "bcfg driver add" writes a Driver#### option per image, in load order, and the Shell shuts down;
  start 2  only when a command names a handle by protocol: "dh -p GUID -v" of each protocol named;
  start 3  the firmware loads the drivers from the options; the Shell runs each run's commands (script.txt:
           Shell commands) after the line "== NAME", and the console from there to the next run's
           marker or the shutdown is the run's block.

In script.txt, "{PROTOCOL_GUID}" stands for every handle with that protocol, "{PROTOCOL_GUID card N}"
for those whose device path is on card N (PROTOCOL_GUID: a #define of Include/Protocol/*.h); a line
with placeholders is run once per handle they match, and its block shows the line as written. The
Shell numbers handles in the order the boot created them, the same at every start on one variable
store, so the numbers found at start 2 hold at start 3. "@TREE/PATH" is file PATH of tree TREE, put
at the disk's root as fs0:\\PATH (the Shell's "comp" holds downloads against it: QEMU's writable FAT
folder does not always pass written files back to the host).
"""

import re
import shutil

from . import facts, firmware, nics

# A Shell script names no trees: every tree of the scenario folder is served.
SERVES_FOLDER_TREES = True
STARTUP_SCRIPT = "startup.nsh"
# The boot manager's line when every boot option before it has ended: the firmware then waits in its setup menu.
SETUP_MENU = 'starting Boot0000 "UiApp"'
DESCRIPTIONS = {facts.COMPANION_IMAGE: "Tolvane network setup", facts.DRIVER_IMAGE: "Tolvane service"}
TOOLS = (facts.FIELD_TOOL_IMAGE, facts.CALLER_IMAGE)
IMAGE_PATH = "\\".join(facts.IMAGE_FOLDER)
PLACEHOLDER = re.compile(r"\{([A-Z0-9_]+)(?: card (\d+))?\}")
# A handle line of "dh -p GUID -v": "D3: SimpleNetwork(1E485150) ... DevicePath(1DEA9A18)   PciRoot(0x0)/...".
HANDLE_LINE = re.compile(r"^([0-9A-F]+): (.*)$")
ESCAPE = re.compile(r"\x1b\[[0-9;=?]*[A-Za-z]")
# Handle numbers the Shell prints on its own are not compared ...
HANDLE_NUMBER = re.compile(r"Handle \[[0-9A-F]+\]")
# ... nor are those of its disconnect echoes, with a child handle it leaves uninitialised.
DISCONNECT_HANDLES = re.compile(r"Disconnect - \([0-9A-F,]+\)")
SHUTDOWN = "reset -s"


class Block:
    """One run's part of the start-up script: its name, its command lines, the tree files it puts on the disk."""

    def __init__(self, name, lines, references):
        self.name = name
        self.lines = lines
        self.references = references  # [(Tree, PATH)]


def compose(runs):
    """A Block per run: its commands with @TREE/PATH words made fs0:\\PATH."""
    blocks = []
    for run in runs:
        lines, references = [], []
        for line in run.scenario.script:
            if not line.strip() or line.startswith("#"):
                continue
            words = []
            for word in line.split():
                if word.startswith("@") and "/" in word:
                    name, path = word[1:].split("/", 1)
                    references.append((run.trees[name], path))
                    word = "fs0:\\" + path.replace("/", "\\")
                words.append(word)
            lines.append(" ".join(words))
        blocks.append(Block(run.name, lines, references))
    return blocks


def shell_script(lines):
    return "".join(line + "\r\n" for line in ["fs0:"] + lines + [SHUTDOWN])


def load_option_lines(images):
    """Start 1: one "bcfg driver add" per image, in load order."""
    return ['bcfg driver add %d fs0:\\%s\\%s "%s"' % (number, IMAGE_PATH, image, DESCRIPTIONS.get(image, image))
            for number, image in enumerate(images)]


def console_lines(text):
    """The console as lines, without terminal control sequences, the start-up countdown and handle numbers."""
    text = HANDLE_NUMBER.sub("Handle [..]", ESCAPE.sub("", text).replace("\r", ""))
    text = DISCONNECT_HANDLES.sub("Disconnect - (..)", text)
    return [line.rstrip() for line in text.split("\n") if "to skip startup.nsh" not in line]


def lay_out_disk(machine, blocks, images):
    """The images in the image folder, the referenced tree files at the root; never the runner."""
    folder = machine.fat.joinpath(*facts.IMAGE_FOLDER)
    folder.mkdir(parents=True, exist_ok=True)
    for image in list(images) + list(TOOLS):
        shutil.copyfile(machine.image(image), folder / image)
    for block in blocks:
        for tree, path in block.references:
            target = machine.fat / path
            if target.exists() and target.read_bytes() != (tree.directory / path).read_bytes():
                raise ValueError("two trees put different files at fs0:\\%s" % path)
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(tree.directory / path, target)
    if any(path.name == facts.RUNNER_IMAGE for path in machine.fat.rglob("*")):
        raise ValueError("the test runner is on the disk")


def start(machine, number, lines):
    """Start NUMBER with a startup.nsh of LINES; the console's lines (also in console-NUMBER.txt)."""
    (machine.fat / STARTUP_SCRIPT).write_text(shell_script(lines))
    text = machine.start(machine.work / ("debug-%d.txt" % number))
    (machine.work / ("console-%d.txt" % number)).write_text(text)
    return console_lines(text)


def placeholders(blocks):
    """{(GUID #define, card number or None)} the blocks' lines name."""
    return {(match.group(1), match.group(2)) for block in blocks for line in block.lines
            for match in PLACEHOLDER.finditer(line)}


def find_handles(machine, number, wanted):
    """{(GUID #define, card): [handle numbers]} from "dh -p GUID -v" at start NUMBER."""
    guids = sorted({facts.protocol_guid(name) for name, _ in wanted})
    lines = start(machine, number, ["dh -p %s -v" % guid for guid in guids])
    listed = {}
    current = None
    for line in lines:
        command = re.search(r"> dh -p (\S+) -v$", line)
        if command:
            current = listed.setdefault(command.group(1), [])
            continue
        handle = HANDLE_LINE.match(line)
        if handle and current is not None:
            current.append((handle.group(1), handle.group(2)))
    found = {}
    for name, card in wanted:
        mac = None if card is None else "MAC(%s," % nics.mac_address(int(card)).replace(":", "").upper()
        found[name, card] = [handle for handle, rest in listed.get(facts.protocol_guid(name), [])
                             if mac is None or mac in rest]
    return found


def expand(line, handles):
    """The lines LINE stands for: one per handle its placeholders match (all of them the same count, or one)."""
    matches = list(PLACEHOLDER.finditer(line))
    if not matches:
        return [line]
    lists = [handles[match.group(1), match.group(2)] for match in matches]
    count = max(len(found) for found in lists)
    if any(len(found) not in (1, count) for found in lists):
        raise ValueError("the placeholders of %r match different numbers of handles" % line)
    expanded = []
    for index in range(count):
        text = line
        for match, found in zip(matches, lists):
            text = text.replace(match.group(0), found[min(index, len(found) - 1)], 1)
        expanded.append(text)
    return expanded


def cut_blocks(lines, names):
    """{name: lines after "== NAME" up to the next run's "echo == " command or the shutdown}."""
    blocks = {}
    for position, name in enumerate(names):
        marker = "== " + name
        if marker not in lines:
            continue
        block = lines[lines.index(marker) + 1:]
        ends = ["> " + SHUTDOWN] + ["> echo == " + later for later in names[position + 1:]]
        end = next((index for index, line in enumerate(block) if any(line.endswith(e) for e in ends)), len(block))
        blocks[name] = block[:end]
    return blocks


def boot(machine, blocks):
    """The three starts; the result gets each run's block, done when the Shell got to its shutdown."""
    result = machine.result
    if machine.choices["firmware"] == firmware.SECURE_BOOT:
        raise ValueError("the Secure Boot firmware refuses its UEFI Shell: use loader boot-option")
    images = machine.choices["drivers"].split()
    lay_out_disk(machine, blocks, images)
    written = [line for line in start(machine, 1, load_option_lines(images)) if line.startswith("bcfg: Add Driver")]
    if len(written) != len(images):
        result.problems.append("start 1 wrote %d of %d Driver#### options (see %s)"
                               % (len(written), len(images), machine.work / "console-1.txt"))
        return
    wanted = placeholders(blocks)
    handles = find_handles(machine, 2, wanted) if wanted else {}
    missing = ["{%s%s}" % (name, "" if card is None else " card " + card) for (name, card), found in handles.items()
               if not found]
    if missing:
        result.problems.append("no handle has %s (see %s)"
                               % (", ".join(sorted(missing)), machine.work / "console-2.txt"))
        return
    script, written_as = ["cd \\" + IMAGE_PATH], {}
    for block in blocks:
        script.append("echo == " + block.name)
        for line in block.lines:
            for command in expand(line, handles):
                script.append(command)
                written_as[command] = line
    lines = start(machine, 3 if wanted else 2, script)
    # A command run for a handle found by protocol shows in the block as written, its numbers not compared.
    lines = [next((line[:-len(command)] + template for command, template in written_as.items()
                   if command != template and line.endswith("> " + command)), line) for line in lines]
    result.transcript = lines
    (machine.work / "transcript.txt").write_text("".join(line + "\n" for line in lines))
    result.blocks = cut_blocks(lines, [block.name for block in blocks])
    result.done = any(line.endswith("> " + SHUTDOWN) for line in lines)
