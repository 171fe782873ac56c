"""Installed from Linux: Deploying.md's lines run in Debian's Linux under OVMF, then the firmware loads both drivers.

Two boots of QEMU on one variable store and one disk, a GPT disk on NVMe whose partition 1 is the ESP
(FAT, fixed GUIDs, so the device paths in the transcript are the same in every run):
  boot 1  OVMF starts Debian's kernel (QEMU -kernel, console=ttyS0 quiet) with a small initramfs of
          Debian's busybox, efibootmgr and GNU install (linux_initramfs.py); its init mounts efivarfs,
          mounts the ESP at /boot/efi as Debian's installer does (umask=0077), runs the sh block under
          "### From Linux: both images and both options" of docs/Deploying.md exactly as printed, and
          powers off;
  boot 2  no kernel: the boot manager loads the companion and the service from the two Driver####
          options, finds nothing to boot on the disk and starts its UEFI Shell, whose startup.nsh lists the
          options and runs the field tool's fetch and entries and the caller example.
The console of boot 2 from "== NAME" to the shutdown is compared with Test/Firmware/Linux/NAME.txt.
run() is the scenario for any pipeline; linux_scenario.py is its own program.
"""

import difflib
import re
import shutil
import subprocess
import time
from pathlib import Path

from . import capture, facts, firmware, linux_initramfs, nics, qemu

NAME = "linux-efibootmgr"
GUIDE = facts.REPOSITORY / "docs" / "Deploying.md"
GUIDE_HEADING = "### From Linux: both images and both options"
EXPECTED = facts.REPOSITORY / "Test" / "Firmware" / "Linux" / (NAME + ".txt")
CACHE = facts.REPOSITORY / "build" / "linux-cache"
IMAGES = ["TolvaneNetworkSetup.efi", "TolvaneService.efi"]
TOOLS = ["tolvane.efi", facts.CALLER_IMAGE]
TOOL_FOLDER = "EFI/Tools"
# The disk: 64 MiB, GPT, partition 1 the ESP from sector 2048 to the end less the backup table.
DISK_BYTES = 64 * 1024 * 1024
ESP_FIRST_SECTOR = 2048
ESP_SECTORS = (DISK_BYTES // 512) - ESP_FIRST_SECTOR - 34
DISK_GUID = "7A2C4B1E-3D5F-4E60-8A71-92B3C4D5E6F7"
ESP_GUID = "5E1F0C2A-9B8D-4C7E-A6F5-E4D3C2B1A098"
ESP_TYPE = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"
CARD = "virtio-net-pci:none"
LINUX_SECONDS = 600
SHELL_SECONDS = 300
ESCAPE = re.compile(r"\x1b\[[0-9;=?]*[A-Za-z]")

SHELL_COMMANDS = [
    "echo == " + NAME,
    "bcfg driver dump",
    "cd \\" + TOOL_FOLDER.replace("/", "\\"),
    "tolvane.efi fetch 10.0.2.2 ABCD1234", "echo exit %lasterror%",
    "tolvane.efi entries",
    facts.CALLER_IMAGE,
]

INIT = """#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in {modules}; do insmod /lib/modules/$module || echo "insmod $module failed"; done
mount -t efivarfs efivarfs /sys/firmware/efi/efivars
for second in $(seq 60); do [ -b /dev/nvme0n1p1 ] && break; sleep 1; done
mount -t vfat -o umask=0077 /dev/nvme0n1p1 /boot/efi
echo "== the guide's lines"
sh -e -v /guide.sh
echo "== the guide's lines: exit $?"
ls -l /boot/efi/EFI/Tolvane
umount /boot/efi
sync
poweroff -f
"""


class Skipped(Exception):
    """What the scenario needs and this machine lacks; the run says so."""


def guide_block(text=None):
    """The lines of the sh block under GUIDE_HEADING in Deploying.md, exactly as the guide prints them."""
    text = GUIDE.read_text() if text is None else text
    start = text.find("\n" + GUIDE_HEADING)
    match = re.search(r"\n```sh\n(.*?)\n```", text[start:], re.DOTALL) if start >= 0 else None
    if match is None:
        raise ValueError("%s: no sh block under %r" % (GUIDE, GUIDE_HEADING))
    return match.group(1) + "\n"


def missing_tools():
    """Host programs the disk and the packages need, as install hints."""
    tools = (("sfdisk", "fdisk"), ("mkfs.fat", "dosfstools"), ("mcopy", "mtools"), ("mdir", "mtools"),
             ("apt-get", "apt"), ("dpkg-deb", "dpkg"), ("ldd", "libc-bin"), ("qemu-system-x86_64", "qemu-system-x86"))
    return ["%s (apt install %s)" % (tool, package) for tool, package in tools if shutil.which(tool) is None]


def make_disk(path, files):
    """A GPT disk at PATH whose ESP holds FILES (name on the ESP with / separators: bytes)."""
    partition = path.with_suffix(".esp")
    partition.unlink(missing_ok=True)
    subprocess.run(["mkfs.fat", "-F", "16", "-n", "ESP", "-i", "7E5A1C0D", "-C", str(partition),
                    str(ESP_SECTORS // 2)], check=True, capture_output=True)
    staging = path.parent / "esp-files"
    shutil.rmtree(staging, ignore_errors=True)
    for name, content in files.items():
        (staging / name).parent.mkdir(parents=True, exist_ok=True)
        (staging / name).write_bytes(content)
    for entry in sorted(staging.iterdir()):
        subprocess.run(["mcopy", "-s", "-i", str(partition), str(entry), "::/"], check=True, capture_output=True)
    with open(path, "wb") as disk:
        disk.truncate(DISK_BYTES)
        disk.seek(ESP_FIRST_SECTOR * 512)
        disk.write(partition.read_bytes())
    partition.unlink()
    layout = ("label: gpt\nlabel-id: %s\nfirst-lba: 34\n"
              "start=%d, size=%d, type=%s, uuid=%s, name=\"EFI system partition\"\n"
              % (DISK_GUID, ESP_FIRST_SECTOR, ESP_SECTORS // 2 * 2, ESP_TYPE, ESP_GUID))
    subprocess.run(["sfdisk", "--no-reread", "--no-tell-kernel", str(path)], input=layout, text=True, check=True,
                   capture_output=True)


def esp_listing(disk, folder):
    """mdir's listing of FOLDER on the disk's ESP (bare names), or None when the folder is not there."""
    done = subprocess.run(["mdir", "-b", "-i", "%s@@%d" % (disk, ESP_FIRST_SECTOR * 512), "::/" + folder],
                          capture_output=True, text=True)
    return done.stdout.split() if done.returncode == 0 else None


def nvme_command(work, disk, cards, kernel=None, initramfs=None):
    """qemu.command with the ESP as the NVMe disk DISK in place of the FAT folder; with KERNEL, Linux is booted."""
    command = qemu.command(work, work / "unused", cards, work / "debug.txt", "plain")
    at = next(index for index, argument in enumerate(command) if argument.startswith("if=none,id=esp,")) - 1
    # Without a kernel, the disk alone in the boot order (as on the stock-machine boots): the card is not
    # in it. With one, QEMU gives the kernel boot index 0.
    command[at:at + 4] = ["-drive", "if=none,id=esp,format=raw,file=%s" % disk,
                          "-device", "nvme,drive=esp,serial=tolvane-esp" + (",bootindex=0" if kernel is None else "")]
    command[command.index("-m"):command.index("-m")] = ["-machine", "q35"]
    if kernel is not None:
        command += ["-kernel", str(kernel), "-initrd", str(initramfs), "-append", "console=ttyS0 quiet"]
    return command


def console_lines(text):
    """The console as lines, without terminal control sequences, carriage returns and the start-up countdown."""
    lines = ESCAPE.sub("", text).replace("\r", "").split("\n")
    return [line.rstrip() for line in lines if "to skip startup.nsh" not in line]


def scenario_block(lines):
    """The lines from the marker "== NAME" up to the Shell's shutdown command."""
    marker = "== " + NAME
    if marker not in lines:
        return []
    block = lines[lines.index(marker):]
    end = next((index for index, line in enumerate(block) if line.endswith("> reset -s")), len(block))
    return block[:end]


def boot(command, work, console, timeout):
    """One QEMU run; the console text. Raises RuntimeError when QEMU had to be stopped."""
    status = qemu.run(command, work, timeout)
    (work / "console.txt").replace(console)
    if status is None:
        raise RuntimeError("QEMU stopped after %d s (see %s)" % (timeout, console))
    return console.read_text(errors="replace")


def prepare():
    """
    Fetches and unpacks the packages into the cache; call it before the guard's namespaces, which have no
    route to the package source. Returns the unpacked root. Raises Skipped when something is missing.
    """
    missing = missing_tools() + firmware.missing_tools("plain")
    if missing:
        raise Skipped("missing: " + ", ".join(missing))
    try:
        return linux_initramfs.unpacked_root(CACHE)
    except linux_initramfs.Unavailable as reason:
        raise Skipped(str(reason)) from reason


def run(build_dir, work):
    """
    Both boots, on packages prepare() fetched; returns (failure lines, empty when the scenario passed;
    the seconds of each boot). Raises Skipped when the packages or host tools are missing.
    """
    root = prepare()
    try:
        kernel, module_folder = linux_initramfs.kernel_of(root)
        modules = linux_initramfs.module_order(module_folder, linux_initramfs.MODULES)
    except linux_initramfs.Unavailable as reason:
        raise Skipped(str(reason)) from reason
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    images = {name: (build_dir / name).read_bytes() for name in IMAGES}
    init = INIT.format(modules=" ".join(module.name for module in modules))
    initramfs = work / "initramfs.gz"
    initramfs.write_bytes(linux_initramfs.initramfs(root, modules, images, guide_block(), init))
    script = "".join(line + "\r\n" for line in ["fs0:"] + SHELL_COMMANDS + ["reset -s"])
    tools = {TOOL_FOLDER + "/" + name: (build_dir / name).read_bytes() for name in TOOLS}
    disk = work / "disk.img"
    make_disk(disk, dict(tools, **{"startup.nsh": script.encode()}))
    firmware.new_variable_store("plain", work / "OVMF_VARS.fd")
    seconds = []
    problems = []

    started = time.monotonic()
    text = boot(nvme_command(work, disk, [], kernel, initramfs), work, work / "console-1.txt", LINUX_SECONDS)
    seconds.append(time.monotonic() - started)
    linux = console_lines(text)
    (work / "linux-transcript.txt").write_text("".join(line + "\n" for line in linux))
    if "== the guide's lines: exit 0" not in linux:
        problems.append("boot 1: the guide's lines did not all succeed (see %s)" % (work / "console-1.txt"))
    listing = esp_listing(disk, "EFI/Tolvane")
    if listing is None or sorted(Path(name).name for name in listing) != sorted(IMAGES):
        problems.append("boot 1: \\EFI\\Tolvane on the ESP holds %s, not %s" % (listing, IMAGES))
    if problems:
        return problems, seconds

    started = time.monotonic()
    cards = qemu.card_args(1, qemu.user_netdev(facts.EXAMPLES), nics.Card(CARD), work)
    text = boot(nvme_command(work, disk, cards), work, work / "console-2.txt", SHELL_SECONDS)
    seconds.append(time.monotonic() - started)
    got = scenario_block(console_lines(text))
    (work / "transcript.txt").write_text("".join(line + "\n" for line in got))
    expected = EXPECTED.read_text().splitlines()
    problems += list(difflib.unified_diff(expected, got, "expected", "console", lineterm="", n=2))
    leaks = capture.leaks(qemu.capture_path(work, 1))
    if leaks:
        problems.append("left the test network: " + "; ".join(leaks))
    return problems, seconds
