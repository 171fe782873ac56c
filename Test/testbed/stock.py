"""The stock-machine scenarios: the package alone on stock OVMF, no program of the test bed in the boot.

Each scenario is two boots on one variable store, QEMU's card left out of the boot order:
  boot 1  the firmware finds nothing to boot on the disk and falls into its UEFI Shell, whose
          startup.nsh writes the Driver#### load options with "bcfg driver add" and shuts down;
  boot 2  the boot manager loads the drivers from those options, the Shell's startup.nsh runs the
          field tool and the caller example, and the serial console from the line "== NAME" to the
          shutdown is compared with Stock/NAME.txt.
The ESP holds the package's images and startup.nsh, never the test runner. Under Secure Boot the firmware
refuses its Shell: there the signed runner writes the options in boot 1, and in boot 2 the disk's boot option
starts the signed caller example (secure_boot_pair). Scenarios are rows of
SCENARIOS; a row's commands run in one boot, so cases with the same settings share it. Each boot
runs in the guard's namespaces (guard.py), every card recorded and held to the leak check; a row with a
real server runs on the private tap network (tap.py). Exit status 0 when every scenario passed.
Python standard library only.

    PYTHONPATH=Test python3 -m testbed.stock [--build-dir DIR] [--only NAME]
"""

import argparse
import difflib
import os
import re
import shutil
import sys
import tempfile
from pathlib import Path
from types import SimpleNamespace

from . import capture, facts, firmware, guard, loss, nics, qemu, tap

EXPECTED_DIR = facts.REPOSITORY / "Test" / "Firmware" / "Stock"
RUNNER_IMAGE = facts.RUNNER_IMAGE
RUNNER_SCRIPT = "runner-script.txt"
# Boot 2 of the Secure Boot row: the caller's fetch takes some 20 s under TCG.
CALLER_BOOT_SECONDS = 90
IMAGE_DIR = "EFI\\tolvane"
COMPANION = ("TolvaneNetworkSetup.efi", "Tolvane network setup")
SERVICE = ("TolvaneService.efi", "Tolvane service")
TOOLS = ("tolvane.efi", facts.CALLER_IMAGE)
TFTP_TREE = facts.EXAMPLES
ESCAPE = re.compile(r"\x1b\[[0-9;=?]*[A-Za-z]")
# The Shell's handle numbers depend on what the firmware connected before; they are not compared.
HANDLE_NUMBER = re.compile(r"Handle \[[0-9A-F]+\]")
# ... nor are those the Shell's disconnect echoes, with a child handle it leaves uninitialised.
DISCONNECT_HANDLES = re.compile(r"Disconnect - \([0-9A-F,]+\)")

# Network cards in slot order (nics.py): virtio-net with the firmware's own driver, the others with iPXE's ROMs.
VIRTIO = "virtio-net-pci:none"
E1000 = "e1000"
RTL8139 = "rtl8139"
# A rivari.ini of this many bytes takes several 64512-byte blocks, each some 44 IP fragments on the wire.
LARGE_CONFIGURATION_SIZE = 256 * 1024

FETCH_SEQUENCE = [
    "tolvane.efi check", "echo exit %lasterror%",
    "tolvane.efi fetch 10.0.2.2 ABCD1234", "echo exit %lasterror%",
    "tolvane.efi entries",
    "tolvane.efi file 0 fs0:\\file0.bin", "echo exit %lasterror%",
    "comp fs0:\\file0.bin fs0:\\ABCD1234.0",
    "TolvaneCaller.efi",
]
RECONNECT_SEQUENCE = [
    "echo == reconnect",
    "reconnect -r",
    "tolvane.efi check", "echo exit %lasterror%",
    "tolvane.efi release",
    "tolvane.efi fetch 10.0.2.2 ABCD1234", "echo exit %lasterror%",
    "echo == second load",
    "load fs0:\\EFI\\tolvane\\TolvaneNetworkSetup.efi",
    "tolvane.efi check", "echo exit %lasterror%",
]
# The companion's binding stopped and started again on the first card's PXE children (IPv4, IPv6), so that
# their variants are installed after the second card's: the companion must put them first again. Only the
# binding is named: disconnecting a PXE child from every driver stops the firmware's PXE driver on its own
# child, which faults. The Shell numbers handles in the order the boot created them, the same in every boot
# of the row ("dh -p PxeBaseCode" and "dh -p" of the companion's protocol GUID show them).
COMPANION_HANDLE = "B4"
CARD_ONE_PXE_HANDLES = ["D3", "DB"]
CARD_ONE_PXE_AGAIN = (["echo == first card's PXE again"]
                      + ["disconnect %s %s" % (handle, COMPANION_HANDLE) for handle in CARD_ONE_PXE_HANDLES]
                      + ["connect %s %s" % (handle, COMPANION_HANDLE) for handle in CARD_ONE_PXE_HANDLES]
                      + ["tolvane.efi check", "echo exit %lasterror%", "tolvane.efi release",
                         "tolvane.efi fetch 10.0.2.2 ABCD1234", "echo exit %lasterror%"])
BAD_INPUT_SEQUENCE = [
    "echo == bad input",
    "tolvane.efi", "echo exit %lasterror%",
    "tolvane.efi -h", "echo exit %lasterror%",
    "tolvane.efi fetch 10.0.2 ABCD1234", "echo exit %lasterror%",
    "tolvane.efi fetch 10.0.2.2 ABCD12345", "echo exit %lasterror%",
    "tolvane.efi file 10000", "echo exit %lasterror%",
    "tolvane.efi entry x", "echo exit %lasterror%",
]


class Stock:
    """
    One scenario: its name, the Driver#### images in order, the cards, the Shell commands of boot 2, and
    the files of the sample tree put on the ESP for the Shell's "comp" to hold downloads against (the
    guest compares: QEMU's writable FAT directory does not always pass written files back to the host).
    """

    def __init__(self, name, drivers, cards, commands, references=(), server=None, tree=None, firmware="plain"):
        self.name = name
        self.firmware = firmware  # "secure-boot": signed images, no Shell; see secure_boot_pair
        self.server = server  # None: QEMU's own; else a real server on the private tap network (one card)
        self.tree = tree  # None: the sample tree; else a function building one in a folder
        self.drivers = drivers
        self.cards = cards
        self.commands = commands
        self.references = references


def large_configuration_tree(folder):
    """The sample tree with its rivari.ini grown past several of the service's blocks by comment lines."""
    shutil.copytree(TFTP_TREE, folder)
    text = (TFTP_TREE / "rivari.ini").read_text()
    padding = "; padding that makes the file span several TFTP blocks of 64512 bytes\n"
    count = (LARGE_CONFIGURATION_SIZE - len(text)) // len(padding)
    (folder / "rivari.ini").write_text(text + padding * count)
    return folder


SCENARIOS = [
    Stock("companion-and-service", [COMPANION, SERVICE], [VIRTIO],
          FETCH_SEQUENCE + RECONNECT_SEQUENCE + BAD_INPUT_SEQUENCE, references=["ABCD1234.0"]),
    Stock("service-alone", [SERVICE], [VIRTIO],
          ["tolvane.efi check", "echo exit %lasterror%", "tolvane.efi fetch 10.0.2.2 ABCD1234",
           "echo exit %lasterror%"]),
    Stock("two-cards", [COMPANION, SERVICE], [E1000, VIRTIO],
          ["tolvane.efi check", "echo exit %lasterror%", "tolvane.efi fetch 10.0.2.2 ABCD1234",
           "echo exit %lasterror%"] + CARD_ONE_PXE_AGAIN),
    # Under Secure Boot the firmware refuses its own Shell: the signed runner writes the Driver#### options in
    # boot 1; in boot 2 the disk's boot option starts the signed caller, and its console lines are compared.
    Stock("secure-boot-caller-option", [COMPANION, SERVICE], [VIRTIO], [], firmware="secure-boot"),
    Stock("rtl8139-large-blocks", [COMPANION, SERVICE], [RTL8139],
          ["tolvane.efi check 10.0.2.2", "echo exit %lasterror%"], server="tftpd-hpa", tree=large_configuration_tree),
]


def shell_script(lines):
    return "".join(line + "\r\n" for line in ["fs0:"] + lines + ["reset -s"])


def load_option_script(drivers):
    """Boot 1: one "bcfg driver add" per image, in load order."""
    return shell_script(['bcfg driver add %d fs0:\\%s\\%s "%s"' % (number, IMAGE_DIR, image, description)
                         for number, (image, description) in enumerate(drivers)])


def field_script(scenario):
    """Boot 2: the field tool and the caller from the images' folder, after the scenario's marker."""
    return shell_script(["cd \\" + IMAGE_DIR, "echo == " + scenario.name] + scenario.commands)


def card_arguments(scenario, tree, work):
    """
    The cards, each recorded: with QEMU's server one restricted user network per card, each serving TREE
    at 10.0.2.2 (the boot file name makes its DHCP offer one that PXE takes); with a real server the one
    card on tap0. No card is in the boot order.
    """
    if scenario.server is not None:
        netdevs = ["tap,ifname=%s,script=no,downscript=no,vnet_hdr=off" % qemu.TAP]
    else:
        netdevs = [qemu.user_netdev(tree)] * len(scenario.cards)
    arguments = []
    for number, (card, netdev) in enumerate(zip(scenario.cards, netdevs), 1):
        arguments += qemu.card_args(number, netdev, nics.Card(card), work)
    return arguments


def boot(work, fat, scenario, script, console, timeout, tree):
    """One boot of QEMU on the scenario's variable store; returns the console text and the leak findings."""
    if script is not None:
        (fat / "startup.nsh").write_text(script)
    command = qemu.command(work, fat, card_arguments(scenario, tree, work), work / "debug.txt", scenario.firmware)
    if scenario.firmware == "plain":
        # The machine the firmware's device paths in the expected transcripts come from.
        command[command.index("-m"):command.index("-m")] = ["-machine", "q35"]
    if scenario.server is None:
        qemu.run(command, work, timeout)
    else:
        for folder, _, files in os.walk(tree):  # the server reads the tree as the user nobody
            os.chmod(folder, 0o755)
            for name in files:
                os.chmod(Path(folder) / name, 0o644)
        served = SimpleNamespace(address=facts.SERVER, server=(scenario.server,), directory=tree)
        with tap.network([served], work, loss.DEFAULT):
            qemu.run(command, work, timeout)
    (work / "console.txt").replace(console)
    findings = [finding for number in range(1, len(scenario.cards) + 1)
                for finding in capture.leaks(qemu.capture_path(work, number))]
    return console.read_text(errors="replace"), findings


def console_lines(text):
    """The console as lines, without terminal control sequences and the start-up countdown."""
    text = HANDLE_NUMBER.sub("Handle [..]", ESCAPE.sub("", text).replace("\r", ""))
    text = DISCONNECT_HANDLES.sub("Disconnect - (..)", text)
    return [line.rstrip() for line in text.split("\n") if "to skip startup.nsh" not in line]


def scenario_block(lines, name):
    """The lines from the marker "== NAME" up to the shutdown command."""
    marker = "== " + name
    if marker not in lines:
        return []
    block = lines[lines.index(marker):]
    end = next((index for index, line in enumerate(block) if line.endswith("> reset -s")), len(block))
    return block[:end]


def secure_boot_pair(scenario, build_dir, work, timeout, tree):
    """
    Boot 1: the signed runner, as the disk's boot program, writes a Driver#### option per signed image and
    resets. Boot 2: the runner and its script are gone and the signed caller is the disk's boot program; the
    firmware loads the drivers, then starts the caller from the disk's boot option. The firmware goes on to
    its other options after the caller, so boot 2 ends at a short timeout. Returns as boot_pair.
    """
    fat = work / "fat"
    boot_folder = fat / "EFI" / "BOOT"
    boot_folder.mkdir(parents=True)
    image_dir = fat.joinpath(*firmware.DRIVER_FOLDER)
    image_dir.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="tolvane-keys-") as keys:
        trusted, _ = firmware.test_keys(keys)
        firmware.sign(trusted, build_dir / RUNNER_IMAGE, boot_folder / "BOOTX64.EFI")
        for image, _ in scenario.drivers:
            firmware.sign(trusted, build_dir / image, image_dir / image)
        (fat / RUNNER_SCRIPT).write_text("".join("load-option-write %d %s\n" % (number, image)
                                                 for number, (image, _) in enumerate(scenario.drivers)) + "reset\n")
        firmware.new_variable_store(scenario.firmware, work / "OVMF_VARS.fd")
        text, leaks = boot(work, fat, scenario, None, work / "console-1.txt", timeout, tree)
        written = (work / "debug.txt").read_text(errors="replace")
        if written.count(" EFI_SUCCESS 0x0, DriverOrder EFI_SUCCESS") != len(scenario.drivers):
            return [], "boot 1 did not write every Driver#### option (see %s)" % (work / "debug.txt")
        (fat / RUNNER_SCRIPT).unlink()
        runner = (boot_folder / "BOOTX64.EFI").read_bytes()
        firmware.sign(trusted, build_dir / facts.CALLER_IMAGE, boot_folder / "BOOTX64.EFI")
    if any(path.is_file() and path.read_bytes() == runner for path in fat.rglob("*")):
        return [], "the test runner is on the ESP"
    text, more_leaks = boot(work, fat, scenario, None, work / "console-2.txt", CALLER_BOOT_SECONDS, tree)
    lines = console_lines(text)
    # The caller's lines: its fetch, the five entries, file 0.
    start = next((index for index, line in enumerate(lines) if line.startswith("fetch: ")), len(lines))
    got = ["== " + scenario.name] + lines[start:start + 8]
    (work / "transcript.txt").write_text("".join(line + "\n" for line in got))
    leaks += more_leaks
    return got, ("left the test network: " + "; ".join(leaks) if leaks else None)


def boot_pair(scenario, build_dir, work, timeout, tree=TFTP_TREE):
    """
    Both boots of one scenario over TFTP tree TREE: (the console block of boot 2, None), or ([], the reason
    it did not get that far).
    """
    if work.exists():
        shutil.rmtree(work)
    if scenario.firmware == "secure-boot":
        work.mkdir(parents=True)
        return secure_boot_pair(scenario, build_dir, work, timeout, tree)
    fat = work / "fat"
    image_dir = fat / IMAGE_DIR.replace("\\", "/")
    image_dir.mkdir(parents=True)
    for image in [image for image, _ in scenario.drivers] + list(TOOLS):
        shutil.copy(build_dir / image, image_dir / image)
    for name in scenario.references:
        shutil.copy(tree / name, fat / name)
    if any(path.name == RUNNER_IMAGE for path in fat.rglob("*")):
        return [], "the test runner is on the ESP"
    firmware.new_variable_store("plain", work / "OVMF_VARS.fd")
    text, leaks = boot(work, fat, scenario, load_option_script(scenario.drivers), work / "console-1.txt", timeout,
                       tree)
    first = console_lines(text)
    added = [line for line in first if line.startswith("bcfg: Add Driver")]
    if len(added) != len(scenario.drivers):
        return [], "boot 1 wrote %d of %d Driver#### options (see %s)" % (len(added), len(scenario.drivers),
                                                                          work / "console-1.txt")
    text, more_leaks = boot(work, fat, scenario, field_script(scenario), work / "console-2.txt", timeout, tree)
    got = scenario_block(console_lines(text), scenario.name)
    (work / "transcript.txt").write_text("".join(line + "\n" for line in got))
    leaks += more_leaks
    return got, ("left the test network: " + "; ".join(leaks) if leaks else None)


def run_scenario(scenario, build_dir, work, timeout):
    """Both boots of one scenario; returns a list of failure lines (empty when it passed)."""
    tree = TFTP_TREE
    if scenario.tree is not None:
        shutil.rmtree(work.parent / (scenario.name + "-tree"), ignore_errors=True)
        tree = scenario.tree(work.parent / (scenario.name + "-tree"))
    got, problem = boot_pair(scenario, build_dir, work, timeout, tree)
    expected = (EXPECTED_DIR / (scenario.name + ".txt")).read_text().splitlines()
    problems = list(difflib.unified_diff(expected, got, "expected", "console", lineterm="", n=2))
    return problems + ([problem] if problem is not None else [])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD,
                        help="firmware build directory holding the package's images")
    parser.add_argument("--work-dir", type=Path, help="where disks and consoles go (default: BUILD_DIR/stock-machine)")
    parser.add_argument("--only", action="append", default=[], help="run only this scenario (repeatable)")
    parser.add_argument("--timeout", type=int, default=240, help="seconds before QEMU is stopped, per boot")
    args = parser.parse_args()

    build_dir = args.build_dir.resolve()
    work_root = (args.work_dir or build_dir / "stock-machine").resolve()
    missing = sorted(set(firmware.missing_tools("plain") + firmware.missing_tools("secure-boot")))
    if shutil.which("qemu-system-x86_64") is None or missing:
        raise SystemExit("missing: qemu-system-x86_64 (apt install qemu-system-x86) " + ", ".join(missing))
    where = guard.enter()
    scenarios = [scenario for scenario in SCENARIOS if not args.only or scenario.name in args.only]
    failures = 0
    skipped = []
    for scenario in list(scenarios):
        reason = tap.unavailable_reason(where) if scenario.server is not None else None
        if reason is not None:
            skipped.append("SKIPPED stock machine: %s (%s)" % (scenario.name, reason))
            scenarios.remove(scenario)
            continue
        try:
            problems = run_scenario(scenario, build_dir, work_root / scenario.name, args.timeout)
        except (RuntimeError, OSError, ValueError) as error:
            problems = [str(error)]
        print("%s stock machine: %s" % ("FAIL" if problems else "PASS", scenario.name))
        for line in problems:
            print("  " + line)
        failures += 1 if problems else 0
    print("%d stock-machine scenarios passed, %d failed" % (len(scenarios) - failures, failures))
    for line in skipped:
        print(line)
    # run-tests.sh repeats these reasons at the end of the run.
    skipped_file = work_root / "skipped.txt"
    if skipped:
        work_root.mkdir(parents=True, exist_ok=True)
        skipped_file.write_text("".join(line + "\n" for line in skipped))
    elif skipped_file.exists():
        skipped_file.unlink()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
