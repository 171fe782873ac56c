#!/usr/bin/env python3
"""Transfer speed of the driver in OVMF with the TFTP servers sites run:
QEMU's own server, tftpd-hpa, tftpd-hpa held to 1428-byte blocks and dnsmasq,
each serving 1 MiB and 4 MiB trees (transfer-speed/). Prints one table row per
server: the block size it agreed, the fetch of rivari.ini, the size query and
read that fetch is made of (made directly), the download of numbered file 1,
each a median of three with its ratio to QEMU's server.

    PYTHONPATH=Test python3 Benchmarks/TftpServers/server_benchmark.py [--build-dir build/efi]

All four serve in one boot, taken in turn, so that the machine's load
weighs on each alike. The real servers run on the test bed's private tap
network, guarded like every test (Test/testbed): root and /dev/net/tun, or
the benchmark is skipped.
"""

import argparse
import statistics
import sys
from pathlib import Path

from testbed import capture, facts, guard, harness, qemu, scenarios, tap, transcripts

REPOSITORY = facts.REPOSITORY

SCENARIOS = Path(__file__).resolve().parent
RUN = "transfer-speed"
# Tree name prefixes of transfer-speed/boot.txt, in table order, and what they are.
SERVERS = (("qemu", "QEMU's server"), ("hpa", "tftpd-hpa"), ("hpa1428", "tftpd-hpa -B 1428"), ("dnsmasq", "dnsmasq"))
SIZES = (("1m", "1 MiB"), ("4m", "4 MiB"))
MEASURES = (("fetch", "fetch"), ("transfer", "its transfer"), ("file", "numbered file"))


def figures(block):
    """{(tree, measure): median milliseconds} from the run's transcript block; see MEASURES."""
    found = {}
    for tree, line, milliseconds in transcripts.timed_lines(block):
        if milliseconds is None:
            continue
        if line.startswith("fetch "):
            found.setdefault((tree, "fetch"), []).append(milliseconds)
        elif line.startswith("raw size query:"):
            found.setdefault((tree, "transfer"), []).append(milliseconds)
        elif line.startswith("raw read:"):
            found[tree, "transfer"][-1] += milliseconds
        elif line.startswith("file "):
            found.setdefault((tree, "file"), []).append(milliseconds)
    return {key: statistics.median(values) for key, values in found.items()}


def run_benchmark(build_dir, work, timeout):
    """Boots once for start-up and the run; returns (figures, {tree: agreed block sizes}, failures)."""
    runs = scenarios.load_runs(facts.SCENARIO_ROOT, {scenarios.STARTUP}) + scenarios.load_runs(SCENARIOS, set())
    [(key, boot_runs)] = scenarios.plan_boots(runs)
    failures, result = harness.run_boot(key, boot_runs, build_dir, work, timeout)
    _, blocks = transcripts.split_blocks(result.transcript if result else [])
    run = next(run for run in boot_runs if run.name == RUN)
    block_sizes = {name: capture.agreed_block_sizes(qemu.capture_path(work, tree.nic)).get(tree.address, [])
                   for name, tree in run.trees.items()}
    return figures(blocks.get(RUN, [])), block_sizes, failures


def table(found, block_sizes):
    """The markdown table: one row per server, each median time with its ratio to QEMU's server."""
    header = ["Server", "Block size"] + ["%s %s" % (label, title) for _, label in SIZES for _, title in MEASURES]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for server, title in SERVERS:
        sizes = sorted({size for tree, _ in SIZES for size in block_sizes.get("%s-%s" % (server, tree), [])})
        cells = [title, ", ".join(map(str, sizes)) or "n/a"]
        for size, _ in SIZES:
            for measure, _ in MEASURES:
                value = found.get(("%s-%s" % (server, size), measure))
                reference = found.get(("qemu-" + size, measure))
                cells.append("n/a" if value is None else "%d ms (%.2f)" % (value, value / reference) if reference else "%d ms" % value)
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def goal_lines(found):
    """The 4 MiB numbered file with tftpd-hpa's 64512-byte blocks over the same with 1428-byte ones (goal: at most 0.35)."""
    wide = found.get(("hpa-4m", "file"))
    lines = []
    for server, title in (("hpa1428", "tftpd-hpa -B 1428"), ("qemu", "QEMU's server")):
        narrow = found.get((server + "-4m", "file"))
        if wide and narrow:
            lines.append("4 MiB numbered file, tftpd-hpa over %s: %.2f (goal: at most 0.35)" % (title, wide / narrow))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=REPOSITORY / "build" / "efi",
                        help="firmware build directory holding the driver and runner images")
    parser.add_argument("--timeout", type=int, default=600, help="seconds before QEMU is stopped, per boot")
    args = parser.parse_args()
    reason = tap.unavailable_reason(guard.enter())
    if reason is not None:
        print("TFTP server benchmark skipped: " + reason)
        return 0
    build_dir = args.build_dir.resolve()
    found, block_sizes, failures = run_benchmark(build_dir, build_dir / "server-benchmark", args.timeout)
    print()
    print("Medians of three. Fetch: FetchConfiguration of the 1 MiB or 4 MiB rivari.ini, DHCP included; its transfer:")
    print("the same size query and read made directly; numbered file: FetchNumberedFile of the same size through the")
    print("driver (size query and read). In brackets: the ratio to QEMU's server.")
    for line in table(found, block_sizes) + goal_lines(found):
        print(line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
