"""The loader "boot-option": the caller example started by the firmware as the disk's boot option, no runner left.

Under Secure Boot the firmware refuses its own UEFI Shell, so the runner writes the load options:

  start 1  the runner (signed under Secure Boot, as every image here) is the disk's boot program and
           writes a Driver#### option per image of the "drivers" setting, then resets;
  start 2  the runner and its script are gone and the caller example is the disk's boot program: the
           firmware loads the drivers, then starts the caller from the disk's boot option. The
           firmware goes on to its other options after the caller, so this start ends at a short
           timeout. The caller's lines (fetch, entries, each entry, file 0) are the block of every run
           of the boot; script.txt holds nothing to run.
"""

import re
import tempfile

from . import facts, firmware, loader_shell

SERVES_FOLDER_TREES = True
# Start 2: the caller's fetch takes some 20 s under TCG.
CALLER_START_SECONDS = 90
CALLER_LINE = re.compile(r"^(fetch: |entries: |entry \d+( = | missing)|file \d+: )")
OPTION_WRITTEN = " EFI_SUCCESS 0x0, DriverOrder EFI_SUCCESS"


def compose(runs):
    """The names of the runs: each gets the caller's block."""
    return [run.name for run in runs]


def caller_block(lines):
    """The caller's lines: from its fetch line while they have the caller's forms."""
    start = next((index for index, line in enumerate(lines) if line.startswith("fetch: ")), len(lines))
    end = start
    while end < len(lines) and CALLER_LINE.match(lines[end]):
        end += 1
    return lines[start:end]


def boot(machine, names):
    result = machine.result
    kind = machine.choices["firmware"]
    images = machine.choices["drivers"].split()
    boot_program = machine.fat / "EFI" / "BOOT" / "BOOTX64.EFI"
    folder = machine.fat.joinpath(*facts.IMAGE_FOLDER)
    with tempfile.TemporaryDirectory(prefix="tolvane-keys-") as keys_folder:
        keys = firmware.test_keys(keys_folder) if kind == firmware.SECURE_BOOT else None
        firmware.place_image(kind, keys, machine.image(facts.RUNNER_IMAGE), boot_program)
        for image in images:
            firmware.place_image(kind, keys, machine.image(image), folder / image)
        (machine.fat / facts.RUNNER_SCRIPT).write_text(
            "".join("load-option-write %d %s\n" % (number, image) for number, image in enumerate(images)) + "reset\n")
        machine.start(machine.work / "debug-1.txt")
        written = (machine.work / "debug-1.txt").read_text(errors="replace").count(OPTION_WRITTEN)
        if written != len(images):
            result.problems.append("start 1 wrote %d of %d Driver#### options (see %s)"
                                   % (written, len(images), machine.work / "debug-1.txt"))
            return
        (machine.fat / facts.RUNNER_SCRIPT).unlink()
        runner = boot_program.read_bytes()
        firmware.place_image(kind, keys, machine.image(facts.CALLER_IMAGE), boot_program)
    if any(path.is_file() and path.read_bytes() == runner for path in machine.fat.rglob("*")):
        raise ValueError("the test runner is on the disk")
    text = machine.start(machine.work / "debug-2.txt", CALLER_START_SECONDS, stop=(loader_shell.SETUP_MENU,))
    lines = loader_shell.console_lines(text)
    (machine.work / "console-2.txt").write_text(text)
    block = caller_block(lines)
    result.transcript = block
    (machine.work / "transcript.txt").write_text("".join(line + "\n" for line in block))
    result.blocks = {name: block for name in names}
    result.done = bool(block)
