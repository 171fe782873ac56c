"""The loader "linux": Deploying.md's Linux lines install the package from Debian's Linux; then the firmware loads it.

Two starts on one variable store and one disk, a GPT disk on NVMe whose partition 1 is the ESP (linux.py):

  start 1  OVMF starts Debian's kernel with a small initramfs of Debian's busybox and efibootmgr; its
           init runs the sh block under "### From Linux: both images and both options" of
           docs/Deploying.md exactly as printed against the ESP at /boot/efi, and powers off;
  start 2  no kernel: the boot manager loads the companion and the service from the Driver####
           options the guide's lines wrote, finds nothing to boot on the disk and starts its UEFI Shell,
           whose startup.nsh runs each run's commands (script.txt: Shell commands, from \\EFI\\Tools,
           where the field tool and the caller example lie) after the line "== NAME"; the console from
           there to the next run's marker or the shutdown is the run's block.

Debian's packages are fetched before the guard's namespaces (prepare); without them or the host tools
the boots are skipped with the reason (skip_reason).
"""

from pathlib import Path

from . import facts, firmware, linux, loader_shell

# A Shell script names no trees: every tree of the scenario folder is served.
SERVES_FOLDER_TREES = True
TOOLS = (facts.FIELD_TOOL_IMAGE, facts.CALLER_IMAGE)
TOOL_FOLDER = "EFI/Tools"
KERNEL_COMMAND_LINE = "console=ttyS0 quiet"
# Start 1: Debian's kernel and the guide's lines take some 30 s under TCG.
LINUX_SECONDS = 600
GUIDE_PASSED = "== the guide's lines: exit 0"

compose = loader_shell.compose


def prepare():
    linux.prepare()


def skip_reason():
    return linux.unavailable_reason()


def disk_files(machine, blocks):
    """The ESP's files before Linux runs: the field tool, the caller example, startup.nsh, the scripts' tree files."""
    files = {TOOL_FOLDER + "/" + name: machine.image(name).read_bytes() for name in TOOLS}
    script = []
    for block in blocks:
        script += ["echo == " + block.name] + block.lines
        for tree, path in block.references:
            content = (tree.directory / path).read_bytes()
            if files.setdefault(path, content) != content:
                raise ValueError("two trees put different files at fs0:\\%s" % path)
    files[loader_shell.STARTUP_SCRIPT] = loader_shell.shell_script(script).encode()
    return files


def write_lines(path, lines):
    path.write_text("".join(line + "\n" for line in lines))


def boot(machine, blocks):
    """Both starts; the result gets each run's block, done when the Shell got to its shutdown."""
    result = machine.result
    work = machine.work
    if machine.choices["firmware"] == firmware.SECURE_BOOT:
        raise ValueError("the Secure Boot firmware refuses the unsigned test images and its UEFI Shell")
    if loader_shell.placeholders(blocks):
        raise ValueError("loader linux finds no handles by protocol: use loader shell for {PROTOCOL_GUID} lines")
    machine.disk = work / "disk.img"
    linux.make_disk(machine.disk, disk_files(machine, blocks))
    initramfs = work / "initramfs.gz"
    kernel = linux.make_initramfs(machine.build_dir, initramfs)

    text = machine.start(work / "debug-1.txt", LINUX_SECONDS, (kernel, initramfs, KERNEL_COMMAND_LINE))
    (work / "console-1.txt").write_text(text)
    write_lines(work / "linux-transcript.txt", loader_shell.console_lines(text))
    if result.code is None:
        result.problems.append("start 1: Linux did not power off (QEMU %s; see %s)"
                               % (result.qemu_state(), work / "console-1.txt"))
        return
    if GUIDE_PASSED not in loader_shell.console_lines(text):
        result.problems.append("start 1: the guide's lines did not all succeed (see %s)" % (work / "console-1.txt"))
    listing = linux.esp_listing(machine.disk, "EFI/Tolvane")
    if listing is None or sorted(Path(name).name for name in listing) != sorted(linux.IMAGES):
        result.problems.append("start 1: \\EFI\\Tolvane on the ESP holds %s, not %s" % (listing, linux.IMAGES))
    if result.problems:
        return

    text = machine.start(work / "debug-2.txt")
    (work / "console-2.txt").write_text(text)
    lines = loader_shell.console_lines(text)
    result.transcript = lines
    write_lines(work / "transcript.txt", lines)
    result.blocks = loader_shell.cut_blocks(lines, [block.name for block in blocks])
    result.done = any(line.endswith("> " + loader_shell.SHUTDOWN) for line in lines)
