"""Boots of OVMF flash images the volume builder made: the images built once per run, verified, then booted.

flash_image() builds the package's drivers (and any extra module) into a firmware kind's code image, has the
verifier check the result and keeps it under the run's work folder, so the boots of a run share one image
per kind and set of modules; boot() runs QEMU on such an image with one recorded virtio-net card that is
in no boot option, and returns the console. Python standard library.
"""

import re
import shutil
import subprocess
import time

from . import capture, facts, firmware, nics, qemu, volume, volume_check
from .processes import process_group

VIRTIO = "virtio-net-pci:none"
ESCAPE = re.compile(r"\x1b\[[0-9;=?]*[A-Za-z]")


def flash_image(kind, build_dir, work_root, extra=(), modules=None):
    """
    The path of KIND's code image with the package's modules (those named in MODULES, all by default) and
    EXTRA in its DXE volume, built and verified once under WORK_ROOT; raises volume.BuildError or
    volume_check.VerifyError with the reason.
    """
    modules = [module for module in volume.package_modules(build_dir)
               if modules is None or module.name in modules] + list(extra)
    name = "%s-%s.fd" % (kind, "-".join(module.name for module in modules))
    path = work_root / name
    if path.exists():
        return path
    flash, figures = volume.build_flash(firmware.FIRMWARES[kind].code.read_bytes(), modules)
    problems = volume_check.verify(flash)
    if problems:
        raise volume_check.VerifyError("%s: %s" % (name, "; ".join(problems)))
    work_root.mkdir(parents=True, exist_ok=True)
    (work_root / (name + ".figures.txt")).write_text("".join("%s: %d\n" % item for item in figures.items()))
    path.write_bytes(flash)
    return path


def run_until(command, work, timeout, stop):
    """
    QEMU in its own process group, console to WORK/console.txt, until it exits, TIMEOUT passes or the console
    shows one of the texts STOP: after a successful boot program the firmware opens its setup menu and waits.
    """
    (work / "qemu-command.txt").write_text(" ".join(command) + "\n")
    console_path = work / "console.txt"
    with open(console_path, "wb") as console:
        with process_group(command, work / "qemu-errors.log", stdout=console) as process:
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                try:
                    process.wait(1)
                    return
                except subprocess.TimeoutExpired:
                    text = console_path.read_text(errors="replace")
                    if any(marker in text for marker in stop):
                        return


def boot(kind, flash, work, disks, timeout, tree=facts.EXAMPLES, stop=()):
    """
    One boot of FLASH (of firmware KIND) on the variable store in WORK, the FAT folders DISKS in boot order
    and one virtio-net card serving TREE on a restricted user network, recorded, ended early when the console
    shows one of the texts STOP; (console text, leak findings).
    """
    cards = qemu.card_args(1, qemu.user_netdev(tree), nics.Card(VIRTIO), work)
    for number, fat in enumerate(disks[1:], 1):
        cards += ["-drive", "if=none,id=disk%d,format=raw,file=fat:rw:%s" % (number, fat),
                  "-device", "virtio-blk-pci,drive=disk%d,bootindex=%d" % (number, number)]
    command = qemu.command(work, disks[0], cards, work / "debug.txt", kind)
    stock_code = "file=%s" % firmware.FIRMWARES[kind].code
    command = [("if=pflash,format=raw,unit=0,readonly=on,file=%s" % flash) if stock_code in part else part
               for part in command]
    if kind == "plain":
        command[command.index("-m"):command.index("-m")] = ["-machine", "q35"]
    run_until(command, work, timeout, stop)
    text = (work / "console.txt").read_text(errors="replace")
    return text, capture.leaks(qemu.capture_path(work, 1))


def new_work(work):
    """WORK emptied and made; the path of a new FAT folder in it."""
    if work.exists():
        shutil.rmtree(work)
    (work / "fat").mkdir(parents=True)
    return work / "fat"


def console_lines(text):
    """The console as lines, without terminal control sequences and carriage returns."""
    return [line.rstrip() for line in ESCAPE.sub("", text).replace("\r", "").split("\n")]
