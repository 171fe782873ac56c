"""One boot of a set of runs: the disk, the trees, QEMU on the user or tap network (again after each reset), and what it left.

    result = boot.boot(build_dir, work, script, boot_trees, timeout, choices)

choices holds every boot choice (settings.BOOT_CHOICES keys) and "network"; the caller passes them in.
"""

import shutil
import time

from . import capture, facts, firmware, qemu, sequence, tap, transcripts, trees

SCRIPT_NAME = "runner-script.txt"


class BootResult:
    """What a boot left: transcript lines, console text, QEMU's exit status (None: stopped at the timeout), seconds, boots, leak findings."""

    def __init__(self):
        self.transcript = []
        self.console = ""
        self.code = None
        self.seconds = 0.0
        self.boots = 0
        self.leaks = []
        self.timeout = None

    def finished(self):
        return transcripts.DONE_LINE in self.transcript

    def qemu_state(self):
        """How QEMU ended, for a report: a timeout is a timeout, not an exit status."""
        if self.code is None:
            return "stopped at the timeout of %d s" % self.timeout
        return "exit status %d" % self.code


def check_platform(firmware_kind):
    """Stops with a clear message when QEMU, OVMF or the signing tools are missing."""
    missing = firmware.missing_tools(firmware_kind)
    if shutil.which("qemu-system-x86_64") is None:
        missing.append("qemu-system-x86_64 (apt install qemu-system-x86)")
    if missing:
        raise SystemExit("missing: " + ", ".join(missing))


def lay_out_disk(build_dir, fat, firmware_kind):
    """The FAT directory: the runner as the default boot program, the driver images."""
    for image in (facts.DRIVER_IMAGE, facts.RUNNER_IMAGE, facts.CALLER_IMAGE):
        if not (build_dir / image).exists():
            raise SystemExit("%s not found in %s: build the efi preset first (cmake --preset efi && cmake --build build/efi)"
                             % (image, build_dir))
    firmware.lay_out_images(firmware_kind, build_dir / facts.RUNNER_IMAGE, build_dir / facts.DRIVER_IMAGE,
                            [build_dir / facts.CALLER_IMAGE], fat)


def run_once(work, fat, boot_trees, timeout, choices, debug_file):
    """QEMU once on the boot's network; (exit status or None at the timeout, card numbers)."""
    cards, nics = qemu.network_args(boot_trees, choices["network"], choices["nic"], work)
    command = qemu.command(work, fat, cards, debug_file, choices["firmware"])
    if choices["network"] != "tap":
        return qemu.run(command, work, timeout), nics
    with tap.network([tree for tree in boot_trees if not tree.on_qemu_server()], work, choices["loss"]):
        return qemu.run(command, work, timeout), nics


def boot(build_dir, work, script, boot_trees, timeout, choices):
    """
    Lays out disk and trees and boots QEMU, once more on the same variable store after each reset of
    the script (sequence.py); returns a BootResult. Raises ValueError, RuntimeError or
    CalledProcessError when the machine or its network cannot be made.
    """
    check_platform(choices["firmware"])
    if work.exists():
        shutil.rmtree(work)
    fat = work / "fat"
    fat.mkdir(parents=True)
    trees.build_trees(boot_trees, work, fat)
    boots = sequence.split_at_resets(script)
    lay_out_disk(build_dir, fat, choices["firmware"])
    firmware.new_variable_store(choices["firmware"], work / "OVMF_VARS.fd")
    result = BootResult()
    result.timeout = timeout
    for number, boot_script in enumerate(boots, 1):
        (fat / SCRIPT_NAME).write_text(boot_script)
        debug_file = work / ("transcript.txt" if len(boots) == 1 else "transcript-%d.txt" % number)
        started = time.monotonic()
        result.code, nics = run_once(work, fat, boot_trees, timeout, choices, debug_file)
        result.seconds += time.monotonic() - started
        result.boots = number
        # Every card, on whichever network: nothing may have left the test network.
        result.leaks += ["boot %d, card %d: %s" % (number, nic, finding)
                         for nic in nics for finding in capture.leaks(qemu.capture_path(work, nic))]
        result.transcript += debug_file.read_text(errors="replace").splitlines() if debug_file.exists() else []
        if result.transcript[-1:] != [sequence.RESET_LINE]:
            break
    if len(boots) > 1:
        (work / "transcript.txt").write_text("".join(line + "\n" for line in result.transcript))
    console_path = work / "console.txt"
    result.console = console_path.read_text(errors="replace") if console_path.exists() else ""
    return result
