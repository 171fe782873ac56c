"""A lossy network: the boot setting "loss PERCENT" drops that share of the tap link's frames, both ways.

nftables in the guard's network namespace, at the tap device's ingress (frames from the guest) and
egress (frames to it), so every IP fragment is a frame of its own as on a real link. The drop is
evenly spaced, every (100 / PERCENT)th frame of each direction, so that a rerun loses the same frames
as long as the guest sends the same ones: deterministic enough to compare transcripts.
"""

import subprocess

TABLE = "testbed_loss"
DEFAULT = "0"


def parse(values):
    """The canonical setting text; raises ValueError unless it is one percentage from 0 to 50."""
    if len(values) != 1 or not values[0].isdigit() or not 0 <= int(values[0]) <= 50:
        raise ValueError("loss takes one whole percentage from 0 to 50")
    return str(int(values[0]))


def rules(device, percent):
    """The nft script that drops every (100 / PERCENT)th frame each way on DEVICE."""
    spacing = round(100 / percent)
    lines = ["table netdev %s {" % TABLE]
    for direction in ("ingress", "egress"):
        lines += ["  chain %s {" % direction,
                  "    type filter hook %s device %s priority 0; policy accept;" % (direction, device),
                  "    numgen inc mod %d %d drop" % (spacing, spacing - 1),
                  "  }"]
    return "\n".join(lines + ["}"]) + "\n"


def apply(device, setting):
    """Puts the loss of SETTING on DEVICE (nothing for 0); raises CalledProcessError with nft's message."""
    if int(setting) == 0:
        return
    subprocess.run(["nft", "-f", "-"], input=rules(device, int(setting)).encode(), check=True, capture_output=True)


def remove():
    subprocess.run(["nft", "delete", "table", "netdev", TABLE], capture_output=True)


BOOT_CHOICE = {"loss": (DEFAULT, parse)}
