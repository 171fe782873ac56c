#!/usr/bin/env python3
"""What fetches cost in firmware memory (opt-in; minutes per row): CYCLES fetch-and-release cycles in one boot of
stock OVMF, with the boot-services pages of the firmware's memory map counted before and after.

    cmake --build --preset efi --target SoakCaller
    PYTHONPATH=Test python3 Benchmarks/Soak/soak_benchmark.py [--build-dir build/efi] [--cycles 40] [--only ROW]

One boot per row (card model and rivari.ini size): the UEFI Shell's startup.nsh loads the companion and the
service with "load" and runs SoakCaller.efi, which does one warm-up cycle (the first fetch starts PXE), counts,
runs CYCLES more and counts again. Prints one markdown row per boot. QEMU's own TFTP server on a restricted user
network, in the guard's namespaces; every card recorded and held to the leak check.
"""

import argparse
import re
import shutil
import sys
import time
from pathlib import Path

from testbed import capture, facts, firmware, guard, nics, qemu

SOAK_IMAGE = "SoakCaller.efi"
DRIVERS = ["TolvaneNetworkSetup.efi", "TolvaneService.efi"]
LARGE_SIZE = 256 * 1024
# Card models: virtio-net with the firmware's own driver, e1000e with iPXE's EFI driver from its option ROM.
ROWS = [(card, size) for card in ("virtio-net-pci:none", "e1000e") for size in ("example", "large")]
COUNTS = re.compile(r"soak: (\S+) code (\d+) data (\d+) boot-services (\d+) free (\d+)")
SUMMARY = re.compile(r"soak: warm-up (\S+), cycles (\d+), fetches ok (\d+)")
PAGE = 4096


def tree(size, folder):
    """The sample tree, its rivari.ini grown to LARGE_SIZE bytes by comment lines for "large"."""
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(facts.EXAMPLES, folder)
    if size == "large":
        text = (folder / facts.CONFIGURATION_FILE).read_text()
        padding = "; padding that makes the file span several TFTP blocks of 64512 bytes\n"
        (folder / facts.CONFIGURATION_FILE).write_text(text + padding * ((LARGE_SIZE - len(text)) // len(padding)))
    return folder


def soak_boot(build_dir, work, card, size, cycles, timeout):
    """One boot of one row; (its console text, the leak findings, seconds)."""
    shutil.rmtree(work, ignore_errors=True)
    fat = work / "fat"
    folder = fat / "EFI" / "Tolvane"
    folder.mkdir(parents=True)
    for image in DRIVERS + [SOAK_IMAGE]:
        shutil.copy(build_dir / image, folder / image)
    lines = ["fs0:", "cd \\EFI\\Tolvane"] + ["load " + image for image in DRIVERS]
    lines += ["%s %d" % (SOAK_IMAGE, cycles), "reset -s"]
    (fat / "startup.nsh").write_text("".join(line + "\r\n" for line in lines))
    served = tree(size, work / "tftp")
    firmware.new_variable_store("plain", work / "OVMF_VARS.fd")
    cards = qemu.card_args(1, qemu.user_netdev(served), nics.Card(card), work)
    command = qemu.command(work, fat, cards, work / "debug.txt", "plain")
    command[command.index("-m"):command.index("-m")] = ["-machine", "q35"]
    started = time.monotonic()
    status = qemu.run(command, work, timeout)
    seconds = time.monotonic() - started
    text = (work / "console.txt").read_text(errors="replace")
    if status is None:
        text += "\nsoak: QEMU stopped after %d s\n" % timeout
    return text, capture.leaks(qemu.capture_path(work, 1)), seconds


def row(card, size, text, leaks, seconds):
    """The markdown cells of one boot, or a row naming what went wrong."""
    counts = {match.group(1): [int(value) for value in match.groups()[1:]] for match in COUNTS.finditer(text)}
    summary = SUMMARY.search(text)
    label = [card.split(":")[0], "%d B" % LARGE_SIZE if size == "large" else "655 B"]
    if summary is None or set(counts) != {"start", "after-warm-up", "end"} or leaks:
        failures = re.findall(r"soak: (?:cycle|TolvaneService|the memory|QEMU).*", text)
        return label + ["failed: %s" % ("; ".join(failures + leaks) or "no soak lines")] + ["-"] * 5
    cycles = int(summary.group(2))
    warm_up = counts["after-warm-up"][2] - counts["start"][2]
    growth = counts["end"][2] - counts["after-warm-up"][2]
    return label + ["%s of %d" % (summary.group(3), cycles), "%+d" % warm_up,
                    "%d → %d" % (counts["after-warm-up"][2], counts["end"][2]), "%+d" % growth,
                    "%.1f" % (growth * PAGE / 1024 / cycles), "%.0f s" % seconds]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD, help="the efi build directory")
    parser.add_argument("--cycles", type=int, default=40, help="fetch-and-release cycles after the warm-up")
    parser.add_argument("--only", action="append", default=[], help="run only this row, CARD/SIZE (repeatable)")
    parser.add_argument("--timeout", type=int, default=3600, help="seconds before QEMU is stopped, per boot")
    args = parser.parse_args()
    build_dir = args.build_dir.resolve()
    missing = [image for image in DRIVERS + [SOAK_IMAGE] if not (build_dir / image).exists()]
    if missing:
        raise SystemExit("missing in %s: %s (cmake --build --preset efi --target SoakCaller)" % (build_dir,
                                                                                              ", ".join(missing)))
    guard.enter()
    rows = [(card, size) for card, size in ROWS if not args.only or "%s/%s" % (card, size) in args.only]
    print("| Card | rivari.ini | Fetches | Warm-up (pages) | Boot-services pages | Growth (pages) | KiB a cycle | Boot |")
    print("|---|---|---|---|---|---|---|---|")
    failed = 0
    for card, size in rows:
        work = build_dir / "soak" / ("%s-%s" % (card.replace(":", "-"), size))
        text, leaks, seconds = soak_boot(build_dir, work, card, size, args.cycles, args.timeout)
        cells = row(card, size, text, leaks, seconds)
        failed += cells[2].startswith("failed")
        print("| " + " | ".join(cells) + " |", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
