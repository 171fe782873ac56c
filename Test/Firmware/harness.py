#!/usr/bin/env python3
"""Runs TolvaneService in real firmware: OVMF under QEMU, against QEMU's own
DHCP and TFTP server or against real TFTP servers on a private tap network,
and checks the runner's transcript against what each scenario expects.

Every scenario is a folder of Test/Firmware/Scenarios:
  script.txt     the runner's commands (see Runner/ScriptRunner.cpp)
  expected.txt   the transcript lines the scenario must produce; the timing
                 figures in square brackets ("[12 ms]") are not compared and
                 lines starting with '#' are comments
  tftp-NAME/     a TFTP tree, or tftp-NAME.link (a path relative to the
                 repository, such as Examples), or a tree that generate.py
                 builds at run time (GENERATED maps NAME to a function)
  boot.txt       optional: which server serves the trees (boot_settings.py)

In script.txt, "publish-pxe NAME" selects the tree NAME and the server 10.0.2.2
of "fetch" and "raw-sequence" is the server of that tree. On QEMU's network
every tree gets its own network card with its own QEMU user network and TFTP
server at 10.0.2.2. On the tap network there is one card and every tree's
server has an address of its own; the harness writes that address into the
script and 10.0.2.2 back into the transcript, so one expectation holds for
every server. A word "@NAME/PATH" names the file PATH of tree NAME as copied
onto the runner's disk, for byte-for-byte comparisons.

Scenarios that share their boot settings share one boot; start-up leads every
boot. Tap boots need root and /dev/net/tun; without them they are skipped and
the skip is reported (also in WORK_DIR/skipped.txt). Exit status 0 when every
scenario that ran passed. Python standard library only.
"""

import argparse
import difflib
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import boot_sequence  # noqa: E402
import boot_settings  # noqa: E402
import secure_boot  # noqa: E402
import tap_network  # noqa: E402

boot_settings.BOOT_CHOICES.update(secure_boot.BOOT_CHOICES)
boot_settings.BOOT_CHOICES.update(boot_sequence.BOOT_CHOICES)

REPOSITORY = Path(__file__).resolve().parents[2]
SCENARIO_ROOT = Path(__file__).resolve().parent / "Scenarios"
SERVER = "10.0.2.2"
DRIVER_IMAGE = "TolvaneService.efi"
RUNNER_IMAGE = "TolvaneFirmwareRunner.efi"
CALLER_IMAGE = "TolvaneCaller.efi"
SCRIPT_NAME = "runner-script.txt"
DONE_LINE = "runner: done"
TIMING = re.compile(r"\s*\[[^\[\]]*\bms\b[^\[\]]*\]")
PREFIX = re.compile(r"^\d+-")
OVERHEAD = re.compile(r"fetch (\d+) ms / raw (\d+) ms = [\d.n/a]+; without DHCP (\d+) ms / (\d+) ms")
DISK_PATH = re.compile(r"\\trees\\(\d+)\\([^\s:]*)")
STARTUP = "start-up"
SERVER_COMMANDS = ("fetch", "raw-sequence")


class Tree:
    """
    One TFTP tree of a boot, copied from Source or built by Generate: Number
    names its directories, Server (kind and arguments) serves it at Address,
    reached through network card Nic.
    """

    def __init__(self, name, number, server=boot_settings.QEMU_SERVER, source=None, generate=None):
        self.name = name
        self.number = number
        self.nic = number
        self.address = SERVER
        self.server = server
        self.source = source
        self.generate = generate
        self.on_disk = False
        self.directory = None


class Scenario:
    """A scenario folder: its script, its expected lines and its tree generators."""

    def __init__(self, folder):
        self.folder = folder
        self.name = PREFIX.sub("", folder.name)
        self.script = (folder / "script.txt").read_text().splitlines()
        self.expected = read_expected(folder / "expected.txt")
        self.generators = load_generators(folder)


def read_expected(path):
    """The expected lines, without comments and trailing blank lines."""
    lines = [line for line in path.read_text().splitlines() if not line.startswith("#")]
    while lines and not lines[-1].strip():
        lines.pop()
    return lines


def load_generators(folder):
    """GENERATED of the folder's generate.py: tree name -> function(directory)."""
    path = folder / "generate.py"
    if not path.exists():
        return {}
    spec = importlib.util.spec_from_file_location("generate_" + folder.name.replace("-", "_"), path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return dict(module.GENERATED)


def normalize(line):
    """A transcript line without its timing figures."""
    return TIMING.sub("", line).rstrip()


def find_tree_source(scenario, name):
    """(directory, generator) for tree NAME of a scenario; raises when it has none."""
    folder = scenario.folder
    if (folder / ("tftp-" + name)).is_dir():
        return folder / ("tftp-" + name), None
    link = folder / ("tftp-" + name + ".link")
    if link.exists():
        return (REPOSITORY / link.read_text().strip()).resolve(), None
    if name in scenario.generators:
        return None, scenario.generators[name]
    raise SystemExit("scenario %s: no tree %r (tftp-%s/, tftp-%s.link or generate.py)" % (scenario.name, name, name, name))


def tree_names(words):
    """The trees a script line names: by publish-pxe NAME and by @NAME/PATH words."""
    names = []
    if len(words) == 2 and words[0] == "publish-pxe" and words[1] != "none":
        names.append(words[1])
    return names + [word[1:].split("/", 1)[0] for word in words if word.startswith("@") and "/" in word]


def assign_trees(runs, network):
    """
    Gives every tree a run's script names its number, card and server address;
    trees copied from the same directory for the same server are one tree
    (each card or server costs boot time). Returns the boot's trees.
    """
    trees = []
    shared = {}
    for run in runs:
        for line in run.scenario.script:
            words = line.split()
            for name in tree_names(words):
                if name in run.trees:
                    continue
                source, generate = find_tree_source(run.scenario, name)
                server = run.server_of(name)
                if source is not None and (server, source) in shared:
                    run.trees[name] = shared[server, source]
                    continue
                tree = Tree(name, len(trees) + 1, server, source, generate)
                if network == "tap":
                    place_in_tap_boot(tree, trees)
                run.trees[name] = tree
                trees.append(tree)
                if source is not None:
                    shared[server, source] = tree
            for word in words:
                if word.startswith("@") and "/" in word:
                    run.trees[word[1:].split("/", 1)[0]].on_disk = True
    return trees


def place_in_tap_boot(tree, earlier):
    """
    The card and server address of a tree in a tap boot: the real servers' trees
    share the tap card, each server at an address of its own; trees of QEMU's
    server get user network cards of their own beside it (2 and up).
    """
    if tree.server == boot_settings.QEMU_SERVER:
        tree.nic = tap_network.TAP_NIC + 1 + sum(1 for other in earlier if other.server == boot_settings.QEMU_SERVER)
    else:
        tree.nic = tap_network.TAP_NIC
        tree.address = tap_network.server_address(sum(1 for other in earlier if other.server != boot_settings.QEMU_SERVER))


def rewrite_line(run, line, published):
    """
    A script line with tree names turned into card numbers and disk paths and
    the server 10.0.2.2 into the address of PUBLISHED, the tree last published.
    """
    words = line.split()
    if len(words) == 2 and words[0] == "publish-pxe" and words[1] != "none":
        return "publish-pxe %d %s" % (run.trees[words[1]].nic, words[1])
    if len(words) > 1 and words[0] in SERVER_COMMANDS and words[1] == SERVER and published is not None:
        words[1] = published.address
    rewritten = []
    for word in words:
        if word.startswith("@") and "/" in word:
            name, path = word[1:].split("/", 1)
            word = "\\trees\\%d\\%s" % (run.trees[name].number, path.replace("/", "\\"))
        rewritten.append(word)
    return " ".join(rewritten)


def compose_script(runs):
    """The one script of the boot: every run's block in order."""
    lines = []
    for run in runs:
        lines.append("scenario " + run.name)
        published = None
        for line in run.scenario.script:
            if not line.strip() or line.startswith("#"):
                continue
            words = line.split()
            if words[0] == "publish-pxe" and len(words) == 2:
                published = run.trees.get(words[1])
            lines.append(rewrite_line(run, line, published))
    return "\n".join(lines) + "\n"


def build_trees(trees, work, fat):
    """Materialises each tree under work/tftp/NUMBER and, when the script reads it, on the disk."""
    for tree in trees:
        tree.directory = work / "tftp" / str(tree.number)
        if tree.generate is not None:
            tree.directory.mkdir(parents=True)
            tree.generate(tree.directory)
        else:
            shutil.copytree(tree.source, tree.directory)
        if tree.on_disk:
            shutil.copytree(tree.directory, fat / "trees" / str(tree.number))


def open_to_servers(directory):
    """The real servers read the tree as the user nobody: directories and files made world-readable."""
    for folder, _, files in os.walk(directory):
        os.chmod(folder, 0o755)
        for name in files:
            os.chmod(Path(folder) / name, 0o644)


def lay_out_disk(build_dir, fat, script, firmware="plain"):
    """The FAT directory: the runner as the default boot program, the driver images, the script."""
    for image in (DRIVER_IMAGE, RUNNER_IMAGE, CALLER_IMAGE):
        if not (build_dir / image).exists():
            raise SystemExit("%s not found in %s: build the efi preset first (cmake --preset efi && cmake --build build/efi)" % (image, build_dir))
    secure_boot.lay_out_images(firmware, build_dir / RUNNER_IMAGE, build_dir / DRIVER_IMAGE,
                               [build_dir / CALLER_IMAGE], fat)
    (fat / SCRIPT_NAME).write_text(script)


def user_network_args(tree_directories, work):
    """One restricted QEMU user network and card per (card number, tree directory), each card's traffic recorded."""
    args = []
    for nic, directory in tree_directories:
        args += [
            "-netdev", "user,id=n%d,restrict=on,tftp=%s,bootfile=rivari.ini" % (nic, directory),
            "-device", "virtio-net-pci,romfile=,netdev=n%d,mac=52:54:00:00:10:%02x" % (nic, nic),
            "-object", "filter-dump,id=capture%d,netdev=n%d,file=%s" % (nic, nic, capture_path(work, nic)),
        ]
    return args


def capture_path(work, nic):
    """Where the traffic of card NIC is recorded."""
    return work / ("capture-%d.pcap" % nic)


def qemu_command(work, fat, network_args, debug_file, firmware="plain"):
    """The QEMU command line: OVMF, the FAT disk, the network cards, the debug console."""
    command = [
        "qemu-system-x86_64",
        "-nographic",
        "-no-reboot",
        "-m", "512",
    ] + secure_boot.qemu_firmware_arguments(firmware, work / "OVMF_VARS.fd") + [
        "-drive", "if=none,id=esp,format=raw,file=fat:rw:%s" % fat,
        "-device", "virtio-blk-pci,drive=esp,bootindex=0",
    ]
    command += network_args
    command += ["-chardev", "file,id=dbg,path=%s" % debug_file, "-device", "isa-debugcon,iobase=0xe9,chardev=dbg"]
    return command


def check_platform(firmware="plain"):
    """Stops with a clear message when QEMU, OVMF or the signing tools are missing."""
    missing = secure_boot.missing_tools(firmware)
    if shutil.which("qemu-system-x86_64") is None:
        missing.append("qemu-system-x86_64 (apt install qemu-system-x86)")
    if missing:
        raise SystemExit("missing: " + ", ".join(missing))


def boot(build_dir, work, script, trees, timeout, network="user", firmware="plain"):
    """
    Lays out disk and trees and boots QEMU with the firmware build on the user
    or the tap network, once more on the same variable store after each
    reset of the script (boot_sequence.py); returns (transcript lines,
    console text, exit code of the last boot, seconds, number of boots).
    """
    check_platform(firmware)
    if work.exists():
        shutil.rmtree(work)
    fat = work / "fat"
    fat.mkdir(parents=True)
    build_trees(trees, work, fat)
    boots = boot_sequence.split_at_resets(script)
    lay_out_disk(build_dir, fat, boots[0], firmware)
    secure_boot.new_variable_store(firmware, work / "OVMF_VARS.fd")
    transcript, seconds = [], 0.0
    for number, boot_script in enumerate(boots, 1):
        (fat / SCRIPT_NAME).write_text(boot_script)
        debug_file = work / ("transcript.txt" if len(boots) == 1 else "transcript-%d.txt" % number)
        started = time.monotonic()
        code = run_qemu(work, fat, trees, timeout, network, firmware, debug_file)
        seconds += time.monotonic() - started
        transcript += debug_file.read_text(errors="replace").splitlines() if debug_file.exists() else []
        if transcript[-1:] != [boot_sequence.RESET_LINE]:
            break
    if len(boots) > 1:
        (work / "transcript.txt").write_text("".join(line + "\n" for line in transcript))
    console_path = work / "console.txt"
    console_text = console_path.read_text(errors="replace") if console_path.exists() else ""
    return transcript, console_text, code, seconds, number


def run_qemu(work, fat, trees, timeout, network, firmware, debug_file):
    """Runs QEMU once on the user or the tap network; returns its exit status (None when stopped)."""
    nics = [(tree.nic, tree.directory) for tree in trees if tree.server == boot_settings.QEMU_SERVER]
    if network == "tap":
        network_args = tap_network.qemu_network_args(capture_path(work, tap_network.TAP_NIC))
        command = qemu_command(work, fat, network_args + user_network_args(nics, work), debug_file, firmware)
        (work / "qemu-command.txt").write_text(" ".join(command) + "\n")
        servers = []
        for tree in trees:
            if tree.server != boot_settings.QEMU_SERVER:
                open_to_servers(tree.directory)
                servers.append({"kind": tree.server[0], "args": list(tree.server[1:]), "root": str(tree.directory),
                                "address": tree.address})
        return tap_network.boot_on_tap(command, servers, work, timeout)
    if not nics:
        empty = work / "tftp" / "empty"
        empty.mkdir(parents=True, exist_ok=True)
        nics = [(1, empty)]
    command = ["timeout", "--kill-after=10", str(timeout)] + qemu_command(work, fat, user_network_args(nics, work),
                                                                         debug_file, firmware)
    (work / "qemu-command.txt").write_text(" ".join(command) + "\n")
    with open(work / "console.txt", "wb") as console:
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=console, stderr=subprocess.STDOUT).returncode


def split_blocks(transcript):
    """(preamble lines, {scenario name: lines}) from the transcript's "== NAME" blocks."""
    preamble = []
    blocks = {}
    current = preamble
    for line in transcript:
        if line.startswith("== "):
            current = blocks.setdefault(line[3:].strip(), [])
        elif line == DONE_LINE or line == boot_sequence.RESET_LINE:
            current = preamble
        else:
            current.append(line)
    return preamble, blocks


def name_trees(run, line):
    """A transcript line with the disk paths of trees written back as @NAME/PATH and server addresses as 10.0.2.2."""
    names = {str(tree.number): name for name, tree in run.trees.items()}

    def back(match):
        return "@%s/%s" % (names.get(match.group(1), match.group(1)), match.group(2).replace("\\", "/"))

    words = line.split(" ", 2)
    if len(words) > 2 and words[0] in SERVER_COMMANDS and words[1] in {tree.address for tree in run.trees.values()}:
        line = " ".join([words[0], SERVER, words[2]])
    return DISK_PATH.sub(back, line)


def compare(run, actual):
    """A list of difference lines; empty when the block matches the expectation."""
    expected = [normalize(line) for line in run.scenario.expected]
    got = [normalize(name_trees(run, line)) for line in actual]
    if expected == got:
        return []
    return list(difflib.unified_diff(expected, got, "expected", "transcript", lineterm="", n=2))


def report_overhead(transcript):
    """Prints each fetch-over-raw-sequence figure and, for several, their sums' ratio."""
    pairs = [OVERHEAD.search(line) for line in transcript if line.startswith("overhead")]
    pairs = [[int(value) for value in match.groups()] for match in pairs if match]
    for fetch, raw, fetch_rest, raw_rest in pairs:
        print("overhead: fetch %d ms, raw sequence %d ms, ratio %.2f; without DHCP %d ms over %d ms, ratio %.2f"
              % (fetch, raw, fetch / max(raw, 1), fetch_rest, raw_rest, fetch_rest / max(raw_rest, 1)))
    if len(pairs) > 1:
        sums = [sum(column) for column in zip(*pairs)]
        print("overhead over %d pairs: ratio %.2f; without DHCP %.2f"
              % (len(pairs), sums[0] / max(sums[1], 1), sums[2] / max(sums[3], 1)))


def load_runs(root, only):
    """The scenario runs to make: all, or those named in ONLY (by run or scenario name) and start-up."""
    folders = sorted(path for path in root.iterdir() if (path / "script.txt").exists())
    runs = [run for folder in folders for run in boot_settings.scenario_runs(Scenario(folder))]
    names = [run.name for run in runs]
    if len(set(names)) != len(names):
        raise SystemExit("two scenario runs share a name: " + ", ".join(sorted({n for n in names if names.count(n) > 1})))
    if only:
        unknown = set(only) - set(names) - {run.scenario.name for run in runs}
        if unknown:
            raise SystemExit("unknown scenario(s): " + ", ".join(sorted(unknown)))
        runs = [run for run in runs if run.name in only or run.scenario.name in only or run.name == STARTUP]
    return runs


def plan_boots(runs):
    """
    [(boot key, runs)]: one boot per set of boot settings, start-up at the head
    of each where the runner loads the driver.
    """
    startup = [run for run in runs if run.name == STARTUP]
    groups = boot_settings.group_by_boot([run for run in runs if run.name != STARTUP])
    if not groups:
        return [(startup[0].boot_key(), startup)] if startup else []
    return [(key, (startup if boot_sequence.runner_loads_driver(dict(key)) else []) + group) for key, group in groups]


def work_name(key):
    """The folder name of a boot's work directory: its settings' values."""
    return "-".join(value for _, value in key)


def run_boot(key, runs, build_dir, work, timeout):
    """Boots once for RUNS and checks their blocks; returns the number of failed runs."""
    network = dict(key)["network"]
    trees = assign_trees(runs, network)
    print("boot (%s): %d scenarios, %d trees" % (boot_settings.describe(key), len(runs), len(trees)), flush=True)
    transcript, console, code, seconds, boots = boot(build_dir, work, compose_script(runs), trees, timeout, network,
                                                     dict(key)["firmware"])
    _, blocks = split_blocks(transcript)
    failures = 0
    for run in runs:
        if run.name not in blocks:
            print("FAIL %s: no transcript (the runner never reached it)" % run.name)
            failures += 1
            continue
        difference = compare(run, blocks[run.name])
        if difference:
            failures += 1
            print("FAIL %s" % run.name)
            for line in difference:
                print("    " + line)
        else:
            print("ok   %s" % run.name)
    if DONE_LINE not in transcript:
        failures = max(failures, 1)
        state = "stopped after %d s" % timeout if code is None else "exit status %d" % code
        print("FAIL the runner did not finish (QEMU %s after %.0f s); console tail:" % (state, seconds))
        for line in console.splitlines()[-15:]:
            print("    " + line)
    report_overhead(transcript)
    report_block_sizes(trees, work)
    if network == "tap":
        outside = tap_network.outside_addresses(capture_path(work, tap_network.TAP_NIC))
        if outside:
            failures = max(failures, 1)
            print("FAIL the guest exchanged packets with addresses beyond the tap network: " + ", ".join(outside))
    print("%s took %.0f s; transcript: %s" % ("boot" if boots == 1 else "%d boots" % boots, seconds,
                                            work / "transcript.txt"), flush=True)
    return failures


def report_block_sizes(trees, work):
    """Prints the block size each tree's server agreed to, as the capture of its card shows it."""
    for tree in trees:
        sizes = tap_network.agreed_block_sizes(capture_path(work, tree.nic)).get(tree.address)
        print("block size agreed by %s at %s (tree %s): %s"
              % (" ".join(tree.server), tree.address, tree.name,
                 ", ".join(map(str, sizes)) if sizes else "no read with a block size"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=REPOSITORY / "build" / "efi",
                        help="firmware build directory holding %s and %s" % (DRIVER_IMAGE, RUNNER_IMAGE))
    parser.add_argument("--scenarios", type=Path, default=SCENARIO_ROOT, help="folder of scenario folders")
    parser.add_argument("--only", action="append", default=[], help="run only this scenario (repeatable)")
    parser.add_argument("--work-dir", type=Path, help="where disk, trees and transcript go (default: BUILD_DIR/firmware-scenarios)")
    parser.add_argument("--timeout", type=int, default=480, help="seconds before QEMU is stopped, per boot")
    parser.add_argument("--list", action="store_true", help="list the scenario runs and exit")
    args = parser.parse_args()

    runs = load_runs(args.scenarios, set(args.only))
    if args.list:
        for run in runs:
            print("%-28s %s" % (run.name, boot_settings.describe(run.boot_key())))
        return 0
    build_dir = args.build_dir.resolve()
    work = (args.work_dir or build_dir / "firmware-scenarios").resolve()
    if work.exists():
        shutil.rmtree(work)
    work.mkdir(parents=True)

    failures = passed = 0
    skipped = []
    for key, boot_runs in plan_boots(runs):
        reason = tap_network.unavailable_reason() if dict(key)["network"] == "tap" else None
        if reason is not None:
            names = [run.name for run in boot_runs if run.name != STARTUP]
            skipped.append("%d tap network scenarios skipped (%s): %s" % (len(names), reason, ", ".join(names)))
            continue
        try:
            failed = run_boot(key, boot_runs, build_dir, work / work_name(key), args.timeout)
        except RuntimeError as error:
            print("FAIL boot (%s): %s" % (boot_settings.describe(key), error))
            failed = len(boot_runs)
        failures += failed
        passed += len(boot_runs) - failed
    print("%d scenario runs passed, %d failed" % (passed, failures))
    for line in skipped:
        print("SKIPPED " + line)
    if skipped:
        (work / "skipped.txt").write_text("".join(line + "\n" for line in skipped))
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
