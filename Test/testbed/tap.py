"""The private tap network of a boot against real TFTP servers, inside the guard's network namespace.

tap0 holds the DHCP address 10.0.2.1 (dnsmasq, the guest gets 10.0.2.15; with dhcp split-dnsmasq a split
dnsmasq answers DHCP instead) and one address per TFTP server from 10.0.2.2 up, each server on port 69 of
its own address; IPv6 is off. Before QEMU starts, the namespace must hold only lo and tap0 with no route
beyond tap0. The loss setting puts its drop rules on tap0 (loss.py). Everything is taken down again after
the boot, so boots do not meet.
"""

import contextlib
import os
import shutil
import subprocess
from pathlib import Path

from . import dhcp, facts, loss, servers, split_servers, trees
from .processes import process_group, run_quietly
from .qemu import TAP

TOOLS = {"ip": "iproute2", "in.tftpd": "tftpd-hpa", "dnsmasq": "dnsmasq-base", "nft": "nftables"}
DHCP_START_SECONDS = 0.2
LOSS_REPORT = "loss.txt"


def unavailable_reason(guard):
    """Why tap boots cannot run here (under GUARD), or None when they can."""
    reason = guard.real_servers_reason()
    if reason is not None:
        return reason
    if not os.path.exists("/dev/net/tun"):
        return "/dev/net/tun is missing"
    missing = ["%s (%s)" % item for item in TOOLS.items() if shutil.which(item[0]) is None]
    return "missing " + ", ".join(missing) if missing else None


def set_up_tap(addresses):
    """tap0 up, IPv6 off, tap0 holding the DHCP and server addresses."""
    for scope in ("all", "default"):
        Path("/proc/sys/net/ipv6/conf/%s/disable_ipv6" % scope).write_text("1\n")
    run_quietly(["ip", "tuntap", "add", "dev", TAP, "mode", "tap"])
    for address in [facts.DHCP_ADDRESS] + addresses:
        run_quietly(["ip", "addr", "add", address + "/24", "dev", TAP])
    run_quietly(["ip", "link", "set", TAP, "up"])


def loss_counts(work):
    """The loss counters the last tap boot in WORK left (loss.counters), or None."""
    path = work / LOSS_REPORT
    return tuple(int(word) for word in path.read_text().split()) if path.exists() else None


def take_down_tap():
    loss.remove()
    subprocess.run(["ip", "link", "delete", TAP], capture_output=True)


def check_isolated():
    """Raises unless the namespace holds only lo and tap0 and every route stays on them."""
    links = subprocess.run(["ip", "-o", "link", "show"], check=True, capture_output=True, text=True).stdout
    names = sorted(line.split(":")[1].strip().split("@")[0] for line in links.splitlines())
    if names != sorted(["lo", TAP]):
        raise RuntimeError("the namespace holds links %s, not only lo and %s" % (names, TAP))
    for family in ("-4", "-6"):
        routes = subprocess.run(["ip", family, "route", "show", "table", "all"], check=True,
                                capture_output=True, text=True).stdout
        for route in routes.splitlines():
            words = route.split()
            device = words[words.index("dev") + 1] if "dev" in words else None
            if words[0] == "default" or device not in ("lo", TAP):
                raise RuntimeError("route leaving the tap network: %s" % route)


@contextlib.contextmanager
def dhcp_server(work, dhcp_setting):
    """dnsmasq answering DHCP on tap0 only: the guest gets 10.0.2.15, and a boot file name unless told not to."""
    boot_file = ["--dhcp-boot=%s,,%s" % (facts.CONFIGURATION_FILE, trees.server_address(0))]
    command = ["dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--port=0", "--no-resolv", "--no-hosts",
               "--interface=" + TAP, "--bind-interfaces",
               "--dhcp-range=%s,%s,255.255.255.0,12h" % (facts.GUEST_ADDRESS, facts.GUEST_ADDRESS)] + \
              (boot_file if dhcp_setting == dhcp.BOOT_FILE else []) + \
              ["--dhcp-leasefile=%s" % (work / "dhcp.leases"), "--pid-file=", "--log-facility=-"]
    with process_group(command, work / "dhcp.log") as process:
        try:
            process.wait(DHCP_START_SECONDS)
        except subprocess.TimeoutExpired:
            yield process
            return
        raise RuntimeError("DHCP server exited: " + (work / "dhcp.log").read_text(errors="replace"))


@contextlib.contextmanager
def network(served, work, loss_setting, dhcp_setting=dhcp.BOOT_FILE):
    """
    The tap network with DHCP (as DHCP_SETTING says: the tap's own server or a split dnsmasq) and the real
    servers' trees SERVED (Tree records with their addresses), the loss of LOSS_SETTING on it; yields once
    every server answers. Raises RuntimeError or CalledProcessError when it cannot be made.
    """
    try:
        set_up_tap([tree.address for tree in served])
        check_isolated()
        loss.apply(TAP, loss_setting)
        with contextlib.ExitStack() as stack:
            if dhcp.tap_serves(dhcp_setting):
                stack.enter_context(dhcp_server(work, dhcp_setting))
            dhcp_tree = split_servers.dhcp_tree(served) if dhcp_setting == dhcp.SPLIT_DNSMASQ else None
            for tree in served:
                log_path = work / ("server-%s.log" % tree.address)
                if split_servers.is_split(tree.server):
                    stack.enter_context(split_servers.start(tree, work, log_path, tree is dhcp_tree))
                    continue
                stack.enter_context(servers.start(tree.server[0], list(tree.server[1:]), str(tree.directory),
                                                  tree.address, facts.TFTP_PORT, log_path))
            yield
    finally:
        counts = loss.counters()
        if counts is not None:
            (work / LOSS_REPORT).write_text(" ".join(map(str, counts)) + "\n")
        take_down_tap()
