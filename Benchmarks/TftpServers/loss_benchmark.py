#!/usr/bin/env python3
"""A 4 MiB fetch over a lossy link (opt-in; minutes per row): the driver in OVMF against tftpd-hpa at
64512-byte and at 1428-byte blocks, on a clean link and with the loss setting of the test bed.

    PYTHONPATH=Test python3 Benchmarks/TftpServers/loss_benchmark.py [--build-dir build/efi] [--only RUN]

One boot per row of lossy-link/boot.txt (--list shows them). Prints one markdown row per run: block
size, loss, the frames dropped each way, the fetch's status and time. The tap network needs root and
/dev/net/tun, or the benchmark is skipped.
"""

import argparse
import sys
from pathlib import Path

from testbed import capture, facts, guard, harness, qemu, scenarios, settings, tap, transcripts

SCENARIOS = Path(__file__).resolve().parent / "lossy-link"


def row(run, result, work):
    """The table cells of one run."""
    _, blocks = transcripts.split_blocks(result.transcript if result else [])
    fetch = [(line, milliseconds) for _, line, milliseconds in transcripts.timed_lines(blocks.get(run.name, []))
             if line.startswith("fetch ")]
    status = fetch[0][0].split(": ", 1)[1].split()[0] if fetch else "not reached"
    seconds = "%.0f s" % (fetch[0][1] / 1000) if fetch and fetch[0][1] is not None else "-"
    tree = run.trees["big"]
    sizes = capture.agreed_block_sizes(qemu.capture_path(work, tree.nic)).get(tree.address, [])
    counts = tap.loss_counts(work)
    lost = "%d of %d out, %d of %d in" % (counts[1], counts[0], counts[3], counts[2]) if counts else "none"
    return [", ".join(map(str, sizes)) or "-", "%s %%" % run.choices["loss"], lost, status, seconds]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD, help="the efi build directory")
    parser.add_argument("--only", action="append", default=[], help="run only this row (repeatable; see --list)")
    parser.add_argument("--list", action="store_true", help="list the rows and exit")
    parser.add_argument("--timeout", type=int, default=1800, help="seconds before QEMU is stopped, per boot")
    args = parser.parse_args()
    runs = settings.scenario_runs(scenarios.Scenario(SCENARIOS), settings.BOOT_CHOICES)
    runs = [run for run in runs if not args.only or run.name in args.only]
    if args.list:
        for run in runs:
            print("%-40s %s" % (run.name, settings.describe(run.boot_key())))
        return 0
    reason = tap.unavailable_reason(guard.enter())
    if reason is not None:
        print("lossy link benchmark skipped: " + reason)
        return 0
    build_dir = args.build_dir.resolve()
    # Start-up leads every boot: it loads the driver.
    runs = scenarios.load_runs(facts.SCENARIO_ROOT, {scenarios.STARTUP}) + runs
    lines = ["| Block size | Loss | Frames dropped in the boot | Fetch | Time |", "|---|---|---|---|---|"]
    failures = 0
    for key, boot_runs in scenarios.plan_boots(runs):
        work = build_dir / "loss-benchmark" / harness.work_name(key)
        failed, result = harness.run_boot(key, boot_runs, build_dir, work, args.timeout)
        failures += failed
        lines += ["| " + " | ".join(row(run, result, work)) + " |" for run in boot_runs if run.name != scenarios.STARTUP]
        print(lines[-1], flush=True)
    print()
    print("A 4 MiB FetchConfiguration (DHCP, size query, read) from tftpd-hpa:")
    print("\n".join(lines))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
