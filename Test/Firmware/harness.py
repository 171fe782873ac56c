#!/usr/bin/env python3
"""Runs TolvaneService in real firmware: OVMF under QEMU, against QEMU's own
DHCP and TFTP server, and checks the runner's transcript against what each
scenario expects.

Every scenario is a folder of Test/Firmware/Scenarios:
  script.txt     the runner's commands (see Runner/ScriptRunner.cpp)
  expected.txt   the transcript lines the scenario must produce; the timing
                 figures in square brackets ("[12 ms]") are not compared and
                 lines starting with '#' are comments
  tftp-NAME/     a TFTP tree, or tftp-NAME.link (a path relative to the
                 repository, such as Examples), or a tree that generate.py
                 builds at run time (GENERATED maps NAME to a function)

In script.txt, "publish-pxe NAME" selects the tree NAME: every tree gets its
own network card with its own QEMU user network and TFTP server at 10.0.2.2,
and the runner publishes that card's PXE Base Code under the GUID the driver
looks up. A word "@NAME/PATH" names the file PATH of tree NAME as copied onto
the runner's disk, for byte-for-byte comparisons.

All scenarios run in one boot. Exit status 0 when every scenario passes.
Python standard library only.
"""

import argparse
import difflib
import importlib.util
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import secure_boot

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


class Tree:
    """One TFTP tree: served by network card Nic, copied from Source or built by Generate."""

    def __init__(self, scenario, name, nic, source=None, generate=None):
        self.scenario = scenario
        self.name = name
        self.nic = nic
        self.source = source
        self.generate = generate
        self.on_disk = False
        self.directory = None


class Scenario:
    """A scenario folder: its script, its expected lines and its trees by name."""

    def __init__(self, folder):
        self.folder = folder
        self.name = PREFIX.sub("", folder.name)
        self.script = (folder / "script.txt").read_text().splitlines()
        self.expected = read_expected(folder / "expected.txt")
        self.trees = {}
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


def assign_trees(scenarios, first_nic=1):
    """
    Gives every tree a scenario's script names a network card; trees copied
    from the same directory share one card (each card costs boot time).
    Returns the trees that need a card, one per card.
    """
    trees = []
    by_source = {}
    for scenario in scenarios:
        for line in scenario.script:
            words = line.split()
            names = []
            if len(words) == 2 and words[0] == "publish-pxe" and words[1] != "none":
                names.append(words[1])
            names += [word[1:].split("/", 1)[0] for word in words if word.startswith("@") and "/" in word]
            for name in names:
                if name not in scenario.trees:
                    source, generate = find_tree_source(scenario, name)
                    if source is not None and source in by_source:
                        scenario.trees[name] = by_source[source]
                        continue
                    tree = Tree(scenario, name, first_nic + len(trees), source, generate)
                    scenario.trees[name] = tree
                    trees.append(tree)
                    if source is not None:
                        by_source[source] = tree
            for word in words:
                if word.startswith("@") and "/" in word:
                    scenario.trees[word[1:].split("/", 1)[0]].on_disk = True
    return trees


def rewrite_line(scenario, line):
    """A script line with tree names turned into card numbers and disk paths."""
    words = line.split()
    if len(words) == 2 and words[0] == "publish-pxe" and words[1] != "none":
        return "publish-pxe %d %s" % (scenario.trees[words[1]].nic, words[1])
    rewritten = []
    for word in words:
        if word.startswith("@") and "/" in word:
            name, path = word[1:].split("/", 1)
            word = "\\trees\\%d\\%s" % (scenario.trees[name].nic, path.replace("/", "\\"))
        rewritten.append(word)
    return " ".join(rewritten)


def compose_script(scenarios):
    """The one script of the boot: every scenario's block in order."""
    lines = []
    for scenario in scenarios:
        lines.append("scenario " + scenario.name)
        lines += [rewrite_line(scenario, line) for line in scenario.script if line.strip() and not line.startswith("#")]
    return "\n".join(lines) + "\n"


def build_trees(trees, work, fat):
    """Materialises each tree under work/tftp/NIC and, when the script reads it, on the disk."""
    for tree in trees:
        tree.directory = work / "tftp" / str(tree.nic)
        if tree.generate is not None:
            tree.directory.mkdir(parents=True)
            tree.generate(tree.directory)
        else:
            shutil.copytree(tree.source, tree.directory)
        if tree.on_disk:
            shutil.copytree(tree.directory, fat / "trees" / str(tree.nic))


def lay_out_disk(build_dir, fat, script, firmware="plain"):
    """The FAT directory: the runner as the default boot program, the driver images, the script."""
    for image in (DRIVER_IMAGE, RUNNER_IMAGE, CALLER_IMAGE):
        if not (build_dir / image).exists():
            raise SystemExit("%s not found in %s: build the efi preset first (cmake --preset efi && cmake --build build/efi)" % (image, build_dir))
    secure_boot.lay_out_images(firmware, build_dir / RUNNER_IMAGE, build_dir / DRIVER_IMAGE,
                               [build_dir / CALLER_IMAGE], fat)
    (fat / SCRIPT_NAME).write_text(script)


def qemu_command(work, fat, tree_directories, debug_file, firmware="plain"):
    """The QEMU command line: OVMF, the FAT disk, one restricted user network per tree, the debug console."""
    command = [
        "qemu-system-x86_64",
        "-nographic",
        "-no-reboot",
        "-m", "512",
    ] + secure_boot.qemu_firmware_arguments(firmware, work / "OVMF_VARS.fd") + [
        "-drive", "if=none,id=esp,format=raw,file=fat:rw:%s" % fat,
        "-device", "virtio-blk-pci,drive=esp,bootindex=0",
    ]
    for nic, directory in tree_directories:
        command += [
            "-netdev", "user,id=n%d,restrict=on,tftp=%s,bootfile=rivari.ini" % (nic, directory),
            "-device", "virtio-net-pci,romfile=,netdev=n%d,mac=52:54:00:00:10:%02x" % (nic, nic),
        ]
    command += ["-chardev", "file,id=dbg,path=%s" % debug_file, "-device", "isa-debugcon,iobase=0xe9,chardev=dbg"]
    return command


def check_platform(firmware="plain"):
    """Stops with a clear message when QEMU, OVMF or the signing tools are missing."""
    missing = secure_boot.missing_tools(firmware)
    if shutil.which("qemu-system-x86_64") is None:
        missing.append("qemu-system-x86_64 (apt install qemu-system-x86)")
    if missing:
        raise SystemExit("missing: " + ", ".join(missing))


def boot(build_dir, work, script, trees, timeout):
    """Lays out disk and trees, boots QEMU once; returns (transcript lines, console text, exit code, seconds)."""
    check_platform()
    if work.exists():
        shutil.rmtree(work)
    fat = work / "fat"
    fat.mkdir(parents=True)
    build_trees(trees, work, fat)
    lay_out_disk(build_dir, fat, script)
    secure_boot.new_variable_store("plain", work / "OVMF_VARS.fd")
    nics = [(tree.nic, tree.directory) for tree in trees]
    if not nics:
        empty = work / "tftp" / "empty"
        empty.mkdir(parents=True)
        nics = [(1, empty)]
    debug_file = work / "transcript.txt"
    command = ["timeout", "--kill-after=10", str(timeout)] + qemu_command(work, fat, nics, debug_file)
    (work / "qemu-command.txt").write_text(" ".join(command) + "\n")
    started = time.monotonic()
    with open(work / "console.txt", "wb") as console:
        result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=console, stderr=subprocess.STDOUT)
    seconds = time.monotonic() - started
    transcript = debug_file.read_text(errors="replace").splitlines() if debug_file.exists() else []
    console_text = (work / "console.txt").read_text(errors="replace")
    return transcript, console_text, result.returncode, seconds


def split_blocks(transcript):
    """(preamble lines, {scenario name: lines}) from the transcript's "== NAME" blocks."""
    preamble = []
    blocks = {}
    current = preamble
    for line in transcript:
        if line.startswith("== "):
            current = blocks.setdefault(line[3:].strip(), [])
        elif line == DONE_LINE:
            current = preamble
        else:
            current.append(line)
    return preamble, blocks


def name_disk_paths(scenario, line):
    """A transcript line with the disk paths of trees written back as @NAME/PATH."""
    names = {str(tree.nic): name for name, tree in scenario.trees.items()}

    def back(match):
        return "@%s/%s" % (names.get(match.group(1), match.group(1)), match.group(2).replace("\\", "/"))

    return DISK_PATH.sub(back, line)


def compare(scenario, actual):
    """A list of difference lines; empty when the block matches the expectation."""
    expected = [normalize(line) for line in scenario.expected]
    got = [normalize(name_disk_paths(scenario, line)) for line in actual]
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


def load_scenarios(root, only):
    folders = sorted(path for path in root.iterdir() if (path / "script.txt").exists())
    scenarios = [Scenario(folder) for folder in folders]
    if only:
        unknown = set(only) - {scenario.name for scenario in scenarios}
        if unknown:
            raise SystemExit("unknown scenario(s): " + ", ".join(sorted(unknown)))
        scenarios = [scenario for scenario in scenarios if scenario.name in only or scenario.name == "start-up"]
    return scenarios


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=REPOSITORY / "build" / "efi",
                        help="firmware build directory holding %s and %s" % (DRIVER_IMAGE, RUNNER_IMAGE))
    parser.add_argument("--scenarios", type=Path, default=SCENARIO_ROOT, help="folder of scenario folders")
    parser.add_argument("--only", action="append", default=[], help="run only this scenario (repeatable)")
    parser.add_argument("--work-dir", type=Path, help="where disk, trees and transcript go (default: BUILD_DIR/firmware-scenarios)")
    parser.add_argument("--timeout", type=int, default=480, help="seconds before QEMU is stopped")
    parser.add_argument("--list", action="store_true", help="list the scenarios and exit")
    args = parser.parse_args()

    scenarios = load_scenarios(args.scenarios, set(args.only))
    if args.list:
        for scenario in scenarios:
            print(scenario.name)
        return 0
    build_dir = args.build_dir.resolve()
    work = (args.work_dir or build_dir / "firmware-scenarios").resolve()
    trees = assign_trees(scenarios)
    script = compose_script(scenarios)

    print("firmware scenarios: %d scenarios, %d network cards, one boot" % (len(scenarios), len(trees)), flush=True)
    transcript, console, code, seconds = boot(build_dir, work, script, trees, args.timeout)
    preamble, blocks = split_blocks(transcript)
    failures = 0
    for scenario in scenarios:
        if scenario.name not in blocks:
            print("FAIL %s: no transcript (the runner never reached it)" % scenario.name)
            failures += 1
            continue
        difference = compare(scenario, blocks[scenario.name])
        if difference:
            failures += 1
            print("FAIL %s" % scenario.name)
            for line in difference:
                print("    " + line)
        else:
            print("ok   %s" % scenario.name)
    if DONE_LINE not in transcript:
        failures += 1
        print("FAIL the runner did not finish (QEMU exit status %d after %.0f s); console tail:" % (code, seconds))
        for line in console.splitlines()[-15:]:
            print("    " + line)
    report_overhead(transcript)
    print("boot took %.0f s; transcript: %s" % (seconds, work / "transcript.txt"))
    print("%d of %d scenarios passed" % (len(scenarios) - min(failures, len(scenarios)), len(scenarios)))
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
