"""The QEMU command line of a boot (OVMF, the FAT disk, the network cards, the debug console) and one run of it."""

import subprocess
import time

from . import facts, firmware, nics, trees
from .processes import process_group

TAP = "tap0"


def capture_path(work, nic):
    """Where the traffic of card NIC is recorded."""
    return work / ("capture-%d.pcap" % nic)


def card_args(nic, netdev, card, work):
    """One card on NETDEV (QEMU's -netdev text without its id), every frame it sends or receives recorded."""
    return ["-netdev", "%s,id=n%d" % (netdev, nic),
            "-device", card.device("n%d" % nic, nics.mac_address(nic)),
            "-object", "filter-dump,id=capture%d,netdev=n%d,file=%s" % (nic, nic, capture_path(work, nic))]


def user_netdev(directory):
    """A restricted QEMU user network (nothing leaves the QEMU process) whose TFTP server serves DIRECTORY."""
    netdev = "user,restrict=on"
    return netdev + ",tftp=%s,bootfile=%s" % (directory, facts.CONFIGURATION_FILE) if directory else netdev


def network_args(boot_trees, network, nic_setting, work):
    """
    (QEMU arguments, card numbers) of a boot's cards: on the tap network its card first, then one user
    network card per tree of QEMU's server (at least one card in all), then the further cards the nic
    setting lists, on user networks with no server. Raises ValueError when a card's ROM is missing.
    """
    planned = [(trees.TAP_NIC, "tap,ifname=%s,script=no,downscript=no,vnet_hdr=off" % TAP)] if network == "tap" else []
    planned += [(tree.nic, user_netdev(tree.directory)) for tree in boot_trees if tree.on_qemu_server()]
    if not planned:
        planned = [(1, user_netdev(work / "tftp" / "empty"))]
        (work / "tftp" / "empty").mkdir(parents=True, exist_ok=True)
    for _ in range(len(planned), len(nics.cards(nic_setting))):
        planned.append((max(nic for nic, _ in planned) + 1, user_netdev(None)))
    args = []
    for index, (nic, netdev) in enumerate(planned):
        args += card_args(nic, netdev, nics.card_of(nic_setting, index), work)
    return args, [nic for nic, _ in planned]


def disk_args(fat, disk, kernel):
    """
    The boot disk: the FAT folder on a virtio disk, or DISK, a raw disk image, on NVMe. It is first in
    the boot order unless QEMU starts a KERNEL, which QEMU puts first itself.
    """
    boot_index = "" if kernel else ",bootindex=0"
    if disk is None:
        return ["-drive", "if=none,id=esp,format=raw,file=fat:rw:%s" % fat,
                "-device", "virtio-blk-pci,drive=esp" + boot_index]
    return ["-drive", "if=none,id=esp,format=raw,file=%s" % disk,
            "-device", "nvme,drive=esp,serial=tolvane-esp" + boot_index]


def command(work, fat, cards, debug_file, firmware_kind, disk=None, kernel=None, code=None):
    """
    The QEMU command line: OVMF (code image CODE or the kind's own), the disk (disk_args), the network
    cards, the debug console and, with KERNEL (vmlinuz, initramfs, command line), a Linux kernel the
    firmware starts.
    """
    return (["qemu-system-x86_64", "-nographic", "-no-reboot", "-m", "512"]
            + firmware.qemu_firmware_arguments(firmware_kind, work / "OVMF_VARS.fd", code)
            + disk_args(fat, disk, kernel)
            + cards
            + ["-chardev", "file,id=dbg,path=%s" % debug_file, "-device", "isa-debugcon,iobase=0xe9,chardev=dbg"]
            + (["-kernel", str(kernel[0]), "-initrd", str(kernel[1]), "-append", kernel[2]] if kernel else []))


def run(qemu_command, work, timeout, stop=()):
    """
    Runs QEMU in its own process group, console to work/console.txt; its exit status, or None when TIMEOUT
    ended it or the console showed one of the texts STOP (a firmware that waits in its setup menu never exits).
    """
    (work / "qemu-command.txt").write_text(" ".join(qemu_command) + "\n")
    console_path = work / "console.txt"
    with open(console_path, "wb") as console:
        with process_group(qemu_command, work / "qemu-errors.log", stdout=console) as process:
            deadline = time.monotonic() + timeout
            while True:
                try:
                    return process.wait(min(1, max(deadline - time.monotonic(), 0)) if stop else timeout)
                except subprocess.TimeoutExpired:
                    if time.monotonic() >= deadline:
                        return None
                    text = console_path.read_text(errors="replace")
                    if any(marker in text for marker in stop):
                        return None
