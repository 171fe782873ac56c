"""The runner's transcript: its scenario blocks, each compared with what the scenario expects, timings excluded."""

import difflib
import re

from . import facts, sequence, trees

DONE_LINE = "runner: done"
TIMING = re.compile(r"\s*\[[^\[\]]*\bms\b[^\[\]]*\]")
DISK_PATH = re.compile(r"\\trees\\(\d+)\\([^\s:]*)")
MILLISECONDS = re.compile(r"\[(\d+) ms\]$")
OVERHEAD = re.compile(r"fetch (\d+) ms / raw (\d+) ms = [\d.n/a]+; without DHCP (\d+) ms / (\d+) ms")


def normalize(line):
    """A transcript line without its timing figures."""
    return TIMING.sub("", line).rstrip()


def split_blocks(transcript):
    """(preamble lines, {scenario name: lines}) from the transcript's "== NAME" blocks."""
    preamble = []
    blocks = {}
    current = preamble
    for line in transcript:
        if line.startswith("== "):
            current = blocks.setdefault(line[3:].strip(), [])
        elif line == DONE_LINE or line == sequence.RESET_LINE:
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
    if len(words) > 2 and words[0] in trees.SERVER_COMMANDS and words[1] in {tree.address for tree in run.trees.values()}:
        line = " ".join([words[0], facts.SERVER, words[2]])
    return DISK_PATH.sub(back, line)


def compare(run, actual):
    """A list of difference lines; empty when the block matches the expectation."""
    expected = [normalize(line) for line in run.scenario.expected]
    got = [normalize(name_trees(run, line)) for line in actual]
    if expected == got:
        return []
    return list(difflib.unified_diff(expected, got, "expected", "transcript", lineterm="", n=2))


def overhead_lines(transcript):
    """Each fetch-over-raw-sequence figure and, for several, their sums' ratio."""
    pairs = [OVERHEAD.search(line) for line in transcript if line.startswith("overhead")]
    pairs = [[int(value) for value in match.groups()] for match in pairs if match]
    lines = ["overhead: fetch %d ms, raw sequence %d ms, ratio %.2f; without DHCP %d ms over %d ms, ratio %.2f"
             % (fetch, raw, fetch / max(raw, 1), fetch_rest, raw_rest, fetch_rest / max(raw_rest, 1))
             for fetch, raw, fetch_rest, raw_rest in pairs]
    if len(pairs) > 1:
        sums = [sum(column) for column in zip(*pairs)]
        lines.append("overhead over %d pairs: ratio %.2f; without DHCP %.2f"
                     % (len(pairs), sums[0] / max(sums[1], 1), sums[2] / max(sums[3], 1)))
    return lines


def timed_lines(block):
    """(tree last published, line, its milliseconds or None) for each line of a block after publish-pxe lines."""
    tree = None
    for line in block:
        if line.startswith("publish-pxe "):
            tree = line.split()[1].rstrip(":")
            continue
        timed = MILLISECONDS.search(line)
        yield tree, line, int(timed.group(1)) if timed else None
