"""A lossy network: the boot setting "loss PERCENT" drops that share of the tap link's frames, both ways.

nftables in the guard's network namespace, at the tap device's ingress (frames from the guest) and
egress (frames to it), so every IP fragment is a frame of its own as on a real link. The drop is
evenly spaced, the first frame of each direction and every (100 / PERCENT)th after it, so that a
rerun loses the same frames as long as the guest sends the same ones (deterministic enough to compare
transcripts) and even a short boot loses some (the first DHCP request, its first answer).
"""

import re
import subprocess

TABLE = "testbed_loss"
DEFAULT = "0"


def parse(values):
    """The canonical setting text; raises ValueError unless it is one percentage from 0 to 50."""
    if len(values) != 1 or not values[0].isdigit() or not 0 <= int(values[0]) <= 50:
        raise ValueError("loss takes one whole percentage from 0 to 50")
    return str(int(values[0]))


def rules(device, percent):
    """The nft script that drops the first and every (100 / PERCENT)th frame each way on DEVICE, counting both."""
    spacing = round(100 / percent)
    lines = ["table netdev %s {" % TABLE]
    for direction in ("ingress", "egress"):
        lines += ["  chain %s {" % direction,
                  "    type filter hook %s device %s priority 0; policy accept;" % (direction, device),
                  "    counter",
                  "    numgen inc mod %d 0 counter drop" % spacing,
                  "  }"]
    return "\n".join(lines + ["}"]) + "\n"


def apply(device, setting):
    """Puts the loss of SETTING on DEVICE (nothing for 0); raises CalledProcessError with nft's message."""
    if int(setting) == 0:
        return
    subprocess.run(["nft", "-f", "-"], input=rules(device, int(setting)).encode(), check=True, capture_output=True)


def counters():
    """(frames from the guest, of them dropped, frames to it, of them dropped) from the rules, or None without rules."""
    listing = subprocess.run(["nft", "list", "table", "netdev", TABLE], capture_output=True, text=True)
    counts = [int(number) for number in re.findall(r"counter packets (\d+)", listing.stdout)]
    return tuple(counts) if listing.returncode == 0 and len(counts) == 4 else None


def describe(counts):
    """What a boot's counters say, and whether the link lost anything at all (a loss that never happened tests nothing)."""
    if counts is None or (counts[1] == 0 and counts[3] == 0):
        return "FAIL the lossy link dropped nothing: the loss setting did not take", False
    return ("frames the lossy link dropped: %d of %d from the guest, %d of %d to it"
            % (counts[1], counts[0], counts[3], counts[2]), True)


def remove():
    subprocess.run(["nft", "delete", "table", "netdev", TABLE], capture_output=True)


BOOT_CHOICE = {"loss": (DEFAULT, parse)}
