"""The loader "firmware-volume": the drivers built into the firmware's DXE volume, no load option, no file on disk.

The firmware's code image is Debian's OVMF with the images of the "drivers" setting in its DXE volume, laid
out as the package's binary-module files say (volume_images.py: built once per run, checked by the verifier
before it boots, shared by the boots that ask for the same). One start, on a fresh variable store, with the
cards in no boot option:

  - the images of "boot-programs" (signed: ones signed with the firmware's test key) are the boot programs
    of the disks, one disk each, in boot order; the firmware starts them as its first boot options;
  - the Shell the firmware falls back to runs startup.nsh: "echo == NAME" and the commands of script.txt
    for each run. Only the build's images the commands name (NAME.efi or fs0:\\NAME.efi) and the tree
    files they name (@TREE/PATH, at fs0:\\PATH) are put on the first disk, at its root.

The start ends at the Shell's shutdown, or where the firmware opens its setup menu after a boot program
succeeded (without Shell commands also where it falls back to its Shell). The transcript is the console
from the boot manager's first line on, without the firmware's countdown, the Shell's start-up lines, its
mapping table and its handle numbers; a run's block is the boot manager's lines before the first run and
the lines after the run's "== NAME". Without Shell commands every run gets the whole transcript.
"""

import re
import shutil
import tempfile

from . import firmware, loader_shell, loaders, volume, volume_check, volume_images

SERVES_FOLDER_TREES = True
# After a boot program returns success the firmware opens its setup menu and waits there.
SETUP_MENU = loader_shell.SETUP_MENU
SHELL_OPTION = "EFI Internal Shell"
# The firmware's countdown and the Shell's start-up lines vary from boot to boot.
NOISE = ("to skip startup.nsh", "Press ESC in", "UEFI Interactive Shell", "EDK II", "UEFI v2", "Mapping table",
         "Alias(s):", "Shell> fs0:")
# The Shell's mapping table (its disk signature varies); the field tool's device paths are indented less.
MAPPING_LINE = re.compile(r"^ {4,}PciRoot\(")
# A handle line of "dh -p": its number depends on the order the firmware created handles in.
HANDLE_NUMBER = re.compile(r"^( *)[0-9A-F]+: ")
IMAGE_WORD = re.compile(r"^(?:fs0:\\)?([^\\/:\s]+\.efi)$", re.IGNORECASE)
IMAGES_FOLDER = "volume-images"


def compose(runs):
    """The Shell's blocks of the runs (loader_shell.compose): commands with @TREE/PATH made fs0:\\PATH."""
    return loader_shell.compose(runs)


def named_images(blocks):
    """The build's images the Shell commands run or load from the disk's root, in order of first mention."""
    names = []
    for block in blocks:
        for line in block.lines:
            for word in line.split():
                match = IMAGE_WORD.match(word)
                if match and match.group(1) not in names:
                    names.append(match.group(1))
    return names


def place_boot_program(machine, source, target, keys):
    """SOURCE (an image name, signed: ones signed with the firmware's test key) as boot program TARGET."""
    target.parent.mkdir(parents=True, exist_ok=True)
    if source.startswith(loaders.SIGNED):
        firmware.sign(keys[0], machine.image(source[len(loaders.SIGNED):]), target)
    else:
        shutil.copyfile(machine.image(source), target)


def lay_out_disks(machine, blocks):
    """The first disk (machine.fat) and one more per further boot program; startup.nsh when there are commands."""
    programs = machine.choices["boot-programs"].split()
    programs = [] if programs == [loaders.NO_BOOT_PROGRAM] else programs
    disks = [machine.fat] + [machine.work / ("disk-%d" % number) for number in range(1, len(programs))]
    with tempfile.TemporaryDirectory(prefix="tolvane-keys-") as keys_folder:
        keys = firmware.test_keys(keys_folder) if any(p.startswith(loaders.SIGNED) for p in programs) else None
        for fat, program in zip(disks, programs):
            place_boot_program(machine, program, fat / "EFI" / "BOOT" / "BOOTX64.EFI", keys)
    machine.disks = disks[1:]
    for image in named_images(blocks):
        shutil.copyfile(machine.image(image), machine.fat / image)
    for block in blocks:
        for tree, path in block.references:
            target = machine.fat / path
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(tree.directory / path, target)
    lines = [line for block in blocks for line in ["echo == " + block.name] + block.lines]
    if any(block.lines for block in blocks):
        (machine.fat / loader_shell.STARTUP_SCRIPT).write_text(loader_shell.shell_script(lines))
        return True
    return False


def transcript(text):
    """The compared lines of a start's console: from the boot manager's first line to the shutdown or setup menu."""
    lines = loader_shell.console_lines(text)
    start = next((index for index, line in enumerate(lines) if "BdsDxe:" in line), len(lines))
    got = []
    for line in lines[start:]:
        if SETUP_MENU in line:
            break
        if line and not any(noise in line for noise in NOISE) and not MAPPING_LINE.match(line):
            got.append(HANDLE_NUMBER.sub(r"\1..: ", line))
        if line.endswith("> " + loader_shell.SHUTDOWN):
            break
    return got


def run_blocks(lines, names, commands):
    """{run name: block}: the boot manager's lines before the first run, then the run's own lines."""
    if not commands:
        return {name: lines for name in names}
    first = next((index for index, line in enumerate(lines) if "> echo == " in line), len(lines))
    return {name: lines[:first] + block for name, block in loader_shell.cut_blocks(lines, names).items()}


def boot(machine, blocks):
    result = machine.result
    kind = machine.choices["firmware"]
    try:
        machine.code = volume_images.flash_image(kind, machine.build_dir, machine.work.parent / IMAGES_FOLDER,
                                                 loaders.drivers(machine.choices))
    except (volume.BuildError, volume_check.VerifyError) as error:
        result.problems.append("no flash image to boot: %s" % error)
        return
    if kind == firmware.SECURE_BOOT and any(block.lines for block in blocks):
        raise ValueError("the Secure Boot firmware refuses its UEFI Shell: no Shell commands with it")
    commands = lay_out_disks(machine, blocks)
    ends = (SETUP_MENU,) if commands else (SETUP_MENU, SHELL_OPTION)
    text = machine.start(machine.work / "debug.txt", stop=ends)
    lines = transcript(text)
    result.transcript = lines
    (machine.work / "transcript.txt").write_text("".join(line + "\n" for line in lines))
    result.blocks = run_blocks(lines, [block.name for block in blocks], commands)
    shut_down = lines[-1:] and lines[-1].endswith("> " + loader_shell.SHUTDOWN)
    result.done = bool(shut_down) if commands else any(end in text for end in ends)
