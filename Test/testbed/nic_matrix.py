"""The card matrix (harness.py --nic-matrix, opt-in): a 1 MiB fetch on every card model QEMU offers with an
EFI driver, against QEMU's server and tftpd-hpa at 64512 and at 1468 bytes a block.

One boot per card (Test/Firmware/NicMatrix/card); for each server the fetch's status and time, the DHCP
time of the same sequence made directly, and the largest block the guest acknowledged (the capture).
Prints a markdown table for BENCHMARKS.md. Needs the tap network (root) and ipxe-qemu's ROMs.
"""

import subprocess

from . import boot, capture, facts, qemu, scenarios, settings, tap, transcripts, trees

FOLDER = facts.REPOSITORY / "Test" / "Firmware" / "NicMatrix"
CARDS = ("virtio-net-pci:none", "virtio-net-pci", "e1000", "e1000e", "rtl8139", "vmxnet3", "pcnet", "ne2k_pci",
         "i82559er:efi-eepro100.rom")
SERVERS = (("qemu", "QEMU's server"), ("wide", "tftpd-hpa"), ("narrow", "tftpd-hpa -B 1468"))


def describe_card(card):
    model, _, rom = card.partition(":")
    return "%s (%s)" % (model, "OVMF's driver" if rom == "none" else "iPXE " + (rom or "stock ROM"))


def figures(block):
    """{tree: [fetch status, fetch ms, DHCP ms]} from the run's transcript block."""
    found = {}
    for tree, line, milliseconds in transcripts.timed_lines(block):
        if line.startswith("fetch "):
            found[tree] = [line.split(": ", 1)[1].split()[0], milliseconds, None]
        elif line.startswith("raw dhcp:") and tree in found:
            found[tree][2] = milliseconds
    return found


def run_card(card, build_dir, work, timeout):
    """The matrix row cells of one card, one triple of cells per server."""
    table = {**settings.BOOT_CHOICES, "nic": (card, settings.BOOT_CHOICES["nic"][1])}
    [run] = scenarios.load_runs(FOLDER, set(), table)
    key = run.boot_key()
    boot_trees = trees.assign_trees([run], "tap")
    print("card %s" % describe_card(card), flush=True)
    try:
        result = boot.boot(build_dir, work, trees.compose_script([run]), boot_trees, timeout, dict(key))
    except (ValueError, RuntimeError, OSError, subprocess.CalledProcessError) as error:
        return ["boot failed: %s" % error] + [""] * (3 * len(SERVERS) - 1)
    _, blocks = transcripts.split_blocks(result.transcript)
    found = figures(blocks.get(run.name, []))
    cells = []
    for name, _ in SERVERS:
        tree = run.trees[name]
        status, fetch_ms, dhcp_ms = found.get(name, ("not reached" if result.finished() else result.qemu_state(), None, None))
        largest = capture.largest_delivered_block(qemu.capture_path(work, tree.nic)).get(tree.address)
        cells += ["%s, %s" % (status, "%.1f s" % (fetch_ms / 1000) if fetch_ms is not None else "-"),
                  "%.1f s" % (dhcp_ms / 1000) if dhcp_ms is not None else "-", str(largest or "-")]
    if result.leaks:
        cells[0] += " (LEAK: %s)" % "; ".join(result.leaks)
    return cells


def run(build_dir, work, timeout, where):
    """Every card in turn; prints the table; exit status 0 unless a boot could not be made."""
    reason = tap.unavailable_reason(where)
    if reason is not None:
        print("SKIPPED the card matrix: " + reason)
        return 0
    header = ["Card"] + ["%s %s" % (title, column) for _, title in SERVERS
                         for column in ("fetch", "DHCP", "largest block")]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for card in CARDS:
        cells = run_card(card, build_dir, work / card.replace(":", "="), timeout)
        lines.append("| " + " | ".join([describe_card(card)] + cells) + " |")
        print(lines[-1], flush=True)
    print()
    print("\n".join(lines))
    return 1 if any("boot failed" in line for line in lines) else 0
