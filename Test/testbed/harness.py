"""The firmware stage: every scenario of Test/Firmware/Scenarios in OVMF under QEMU, transcripts checked.

    cd Test && python3 -m testbed.harness [--build-dir ../build/efi] [--only NAME] [--loader NAME] [--list]

Scenarios that share their boot settings share one boot, started by the boot's loader (loaders.py:
the runner, the UEFI Shell, a boot option); start-up leads every boot where the runner loads the
driver. Every boot's cards are recorded and the boot fails when anything left the test network. The
whole run is guarded (guard.py); tap boots need root's namespaces and /dev/net/tun and are skipped
without them, and a loader's boots without what its loader needs (loaders.skip_reason: Debian's Linux
packages for loader linux), the reason in the summary and in WORK_DIR/skipped.txt. --loader and --other-loaders
split the stage into parts that run side by side on one work directory, each boot in a folder of its
own. Exit status 0 when every scenario that ran passed.
"""

import argparse
import shutil
import subprocess
import sys
from pathlib import Path

from . import boot, capture, facts, guard, loaders, loss, qemu, scenarios, settings, tap, transcripts, trees

DEFAULT_TIMEOUT = 480


def report_block_sizes(boot_trees, work):
    """Prints the block size each tree's server agreed to, as the capture of its card shows it."""
    for tree in boot_trees:
        sizes = capture.agreed_block_sizes(qemu.capture_path(work, tree.nic)).get(tree.address)
        print("block size agreed by %s at %s (tree %s): %s"
              % (" ".join(tree.server), tree.address, tree.name,
                 ", ".join(map(str, sizes)) if sizes else "no read with a block size"))


def check_blocks(runs, result):
    """Prints ok or FAIL with the difference for each run; returns the number of failed runs."""
    blocks = result.blocks
    failures = 0
    for run in runs:
        if run.name not in blocks:
            print("FAIL %s: no transcript (the boot never reached it)" % run.name)
            failures += 1
            continue
        difference = transcripts.compare(run, blocks[run.name])
        if difference:
            failures += 1
            print("FAIL %s" % run.name)
            for line in difference:
                print("    " + line)
        else:
            print("ok   %s" % run.name)
    return failures


def run_boot(key, runs, build_dir, work, timeout):
    """Boots once for RUNS and checks their blocks; returns (number of failed runs, BootResult or None)."""
    choices = dict(key)
    loader = loaders.of(choices)
    boot_trees = trees.assign_trees(runs, choices["network"], loader.SERVES_FOLDER_TREES)
    print("boot (%s): %d scenarios, %d trees" % (settings.describe(key), len(runs), len(boot_trees)), flush=True)
    try:
        result = boot.boot(build_dir, work, loader.compose(runs), boot_trees, timeout, choices)
    except (ValueError, RuntimeError, OSError, subprocess.CalledProcessError) as error:
        detail = getattr(error, "stderr", None)
        print("FAIL boot (%s): %s%s" % (settings.describe(key), error,
                                        (": " + detail.decode(errors="replace").strip()) if detail else ""))
        return len(runs), None
    failures = check_blocks(runs, result)
    for problem in result.problems:
        failures = max(failures, 1)
        print("FAIL " + problem)
    if not result.finished():
        failures = max(failures, 1)
        print("FAIL the %s did not finish (QEMU %s after %.0f s); console tail:"
              % ("runner" if choices.get("loader", loaders.RUNNER) == loaders.RUNNER else "boot", result.qemu_state(),
                 result.seconds))
        for line in result.console.splitlines()[-15:]:
            print("    " + line)
    for line in transcripts.overhead_lines(result.transcript):
        print(line)
    report_block_sizes(boot_trees, work)
    if choices.get("loss", loss.DEFAULT) != loss.DEFAULT:
        line, lost = loss.describe(tap.loss_counts(work))
        print(line)
        failures = failures if lost else max(failures, 1)
    if result.leaks:
        failures = max(failures, 1)
        print("FAIL the leak check: " + "; ".join(result.leaks))
    print("%s took %.0f s; transcript: %s" % ("boot" if result.boots == 1 else "%d boots" % result.boots, result.seconds,
                                            work / "transcript.txt"), flush=True)
    return failures, result


def work_name(key):
    """The folder name of a boot's work directory: its settings' values."""
    return "-".join(value.replace(" ", "+").replace(":", "=") for _, value in key)


def run_scenarios(runs, build_dir, work, timeout, where, skipped_file):
    """Every boot of RUNS; prints the summary, writes the skip report SKIPPED_FILE and returns the exit status."""
    failures = passed = 0
    skipped = []
    for key, boot_runs in scenarios.plan_boots(runs):
        choices = dict(key)
        reason = tap.unavailable_reason(where) if choices["network"] == "tap" else None
        kind = "tap network"
        if reason is None:
            reason, kind = loaders.skip_reason(choices), "loader %s" % choices["loader"]
        if reason is not None:
            names = [run.name for run in boot_runs if run.name != scenarios.STARTUP]
            skipped.append("%d %s scenarios skipped (%s): %s" % (len(names), kind, reason, ", ".join(names)))
            continue
        failed, _ = run_boot(key, boot_runs, build_dir, work / work_name(key), timeout)
        failures += failed
        passed += len(boot_runs) - failed
    print("%d scenario runs passed, %d failed" % (passed, failures))
    for line in skipped:
        print("SKIPPED " + line)
    # run-tests.sh repeats these reasons at the end of the run.
    if skipped:
        skipped_file.write_text("".join(line + "\n" for line in skipped))
    elif skipped_file.exists():
        skipped_file.unlink()
    return 0 if failures == 0 else 1


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD,
                        help="firmware build directory holding %s and %s" % (facts.DRIVER_IMAGE, facts.RUNNER_IMAGE))
    parser.add_argument("--scenarios", type=Path, default=facts.SCENARIO_ROOT, help="folder of scenario folders")
    parser.add_argument("--only", action="append", default=[], help="run only this scenario (repeatable)")
    parser.add_argument("--loader", action="append", choices=tuple(loaders.LOADERS), default=[],
                        help="run only the boots of this loader (repeatable)")
    parser.add_argument("--other-loaders", action="append", choices=tuple(loaders.LOADERS), default=[],
                        metavar="LOADER", help="run only the boots of the loaders other than this one (repeatable)")
    parser.add_argument("--work-dir", type=Path, help="where disk, trees and transcript go (default: BUILD_DIR/firmware-scenarios)")
    parser.add_argument("--timeout", type=int, default=DEFAULT_TIMEOUT, help="seconds before QEMU is stopped, per boot")
    parser.add_argument("--list", action="store_true", help="list the scenario runs and exit")
    parser.add_argument("--nic-matrix", action="store_true",
                        help="instead of the scenarios: the example on every card model against QEMU's server and "
                             "tftpd-hpa at 64512 and 1468 (nic_matrix.py; about 20 minutes)")
    args = parser.parse_args(argv)

    runs = scenarios.load_runs(args.scenarios, set(args.only))
    part = selected_loaders(args.loader, args.other_loaders)
    runs = [run for run in runs if run.choices["loader"] in part]
    if args.list:
        for run in runs:
            print("%-28s %s" % (run.name, settings.describe(run.boot_key())))
        return 0
    if not guard.within():
        loaders.prepare(runs)  # the package source is out of the namespaces' reach
    where = guard.enter()
    build_dir = args.build_dir.resolve()
    work = (args.work_dir or build_dir / ("nic-matrix" if args.nic_matrix else "firmware-scenarios")).resolve()
    if args.nic_matrix:
        shutil.rmtree(work, ignore_errors=True)
        work.mkdir(parents=True)
        from . import nic_matrix
        return nic_matrix.run(build_dir, work, args.timeout, where)
    # Parts of the stage share the work directory: each replaces only its own boots' folders and skip report.
    work.mkdir(parents=True, exist_ok=True)
    skipped_file = work / skipped_name(args.loader, args.other_loaders)
    return run_scenarios(runs, build_dir, work, args.timeout, where, skipped_file)


def skipped_name(named, others):
    """The skip report of a part of the stage: skipped.txt, skipped-runner.txt, skipped-other-than-runner.txt."""
    if named:
        return "skipped-%s.txt" % "-".join(sorted(named))
    if others:
        return "skipped-other-than-%s.txt" % "-".join(sorted(others))
    return "skipped.txt"


def selected_loaders(named, others):
    """The loaders whose boots this run makes: those NAMED, or all but OTHERS, or all."""
    if named and others:
        raise SystemExit("--loader and --other-loaders exclude each other")
    if named:
        return set(named)
    return set(loaders.LOADERS) - set(others)


if __name__ == "__main__":
    sys.exit(main())
