"""One boot of a set of runs: the disk, the trees, the variable store, and QEMU started as often as the loader asks.

    result = boot.boot(build_dir, work, plan, boot_trees, timeout, choices)

choices holds every boot choice (settings.BOOT_CHOICES keys) and "network"; the caller passes them in.
PLAN is what the boot's loader (loaders.py) composed from the runs: the runner's script, the Shell's
blocks. The loader lays out the disk and starts the machine (Machine.start) once or several times on
one variable store; every start runs on the boot's network and its cards go to the leak check.
"""

import shutil
import time

from . import capture, firmware, loaders, qemu, tap, trees


class BootResult:
    """
    What a boot left: each run's transcript block, the whole transcript, the last console text, QEMU's
    exit status (None: stopped at the timeout), seconds, starts, leak findings, and whether the loader's
    program got to its end (done) or why the boot could not go on (problems).
    """

    def __init__(self):
        self.blocks = {}
        self.transcript = []
        self.console = ""
        self.code = None
        self.seconds = 0.0
        self.boots = 0
        self.leaks = []
        self.timeout = None
        self.done = False
        self.problems = []

    def finished(self):
        return self.done

    def qemu_state(self):
        """How QEMU ended, for a report: a timeout is a timeout, not an exit status."""
        if self.code is None:
            return "stopped at the timeout of %d s" % self.timeout
        return "exit status %d" % self.code


class Machine:
    """The machine of one boot: its disk folder (fat), its variable store and its cards, started by the loader."""

    def __init__(self, build_dir, work, boot_trees, timeout, choices):
        self.build_dir = build_dir
        self.work = work
        self.fat = work / "fat"
        self.boot_trees = boot_trees
        self.timeout = timeout
        self.choices = choices
        self.result = BootResult()
        self.result.timeout = timeout
        self.disk = None  # a raw disk image the loader made, on NVMe in place of the FAT folder
        # A loader may set these: the firmware code image QEMU runs instead of the kind's own, and further
        # FAT folders, each a disk of its own after the cards, in boot order.
        self.code = None
        self.disks = []

    def image(self, name):
        """The build's image NAME; stops when the efi preset has not built it."""
        path = self.build_dir / name
        if not path.exists():
            raise SystemExit("%s not found in %s: build the efi preset first (cmake --preset efi && cmake --build "
                             "build/efi)" % (name, self.build_dir))
        return path

    def start(self, debug_file, timeout=None, kernel=None, stop=()):
        """
        QEMU once on the boot's network until it stops, TIMEOUT (default: the boot's) ends it or the
        console shows one of the texts STOP; the console goes to work/console.txt, the debug console
        (port 0xE9) to DEBUG_FILE; with KERNEL (vmlinuz, initramfs, command line) the firmware starts that
        Linux. Returns the console text; the result gets the exit status, the seconds and the leak findings
        of every card.
        """
        result = self.result
        result.timeout = timeout or self.timeout
        cards, nics = qemu.network_args(self.boot_trees, self.choices["network"], self.choices["nic"], self.work)
        for number, fat in enumerate(self.disks, 1):
            cards += ["-drive", "if=none,id=disk%d,format=raw,file=fat:rw:%s" % (number, fat),
                      "-device", "virtio-blk-pci,drive=disk%d,bootindex=%d" % (number, number)]
        command = qemu.command(self.work, self.fat, cards, debug_file, self.choices["firmware"], self.disk, kernel,
                               self.code)
        started = time.monotonic()
        if self.choices["network"] != "tap":
            result.code = qemu.run(command, self.work, result.timeout, stop)
        else:
            with tap.network([tree for tree in self.boot_trees if not tree.on_qemu_server()], self.work,
                             self.choices["loss"], self.choices["dhcp"]):
                result.code = qemu.run(command, self.work, result.timeout, stop)
        result.seconds += time.monotonic() - started
        result.boots += 1
        # Every card, on whichever network: nothing may have left the test network.
        result.leaks += ["boot %d, card %d: %s" % (result.boots, nic, finding)
                         for nic in nics for finding in capture.leaks(qemu.capture_path(self.work, nic))]
        console_path = self.work / "console.txt"
        result.console = console_path.read_text(errors="replace") if console_path.exists() else ""
        return result.console


def check_platform(firmware_kind):
    """Stops with a clear message when QEMU, OVMF or the signing tools are missing."""
    missing = firmware.missing_tools(firmware_kind)
    if shutil.which("qemu-system-x86_64") is None:
        missing.append("qemu-system-x86_64 (apt install qemu-system-x86)")
    if missing:
        raise SystemExit("missing: " + ", ".join(missing))


def boot(build_dir, work, plan, boot_trees, timeout, choices):
    """
    Lays out the trees and a fresh variable store, and lets the boot's loader lay out the disk and start
    the machine; returns the BootResult. Raises ValueError, RuntimeError or CalledProcessError when the
    machine or its network cannot be made.
    """
    check_platform(choices["firmware"])
    if work.exists():
        shutil.rmtree(work)
    machine = Machine(build_dir, work, boot_trees, timeout, choices)
    machine.fat.mkdir(parents=True)
    trees.build_trees(boot_trees, work, machine.fat)
    firmware.new_variable_store(choices["firmware"], work / "OVMF_VARS.fd")
    loaders.of(choices).boot(machine, plan)
    return machine.result
