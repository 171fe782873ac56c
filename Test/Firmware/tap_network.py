#!/usr/bin/env python3
"""The private tap network for firmware boots against real TFTP servers.

The harness calls boot_on_tap(); it runs this file again as a child inside
new network, mount and process namespaces (unshare), where it creates tap0, gives
tap0 the DHCP address 10.0.2.1 and one address per TFTP server (10.0.2.2 and
up, every server on port 69), checks that the namespace holds only lo and tap0
with no route beyond tap0, starts dnsmasq for DHCP and the servers, then QEMU.
Every process runs in its own process group and dies with its parent, and the
kernel ends the whole process namespace when its first process ends, so a
finished, failed, timed-out or killed run leaves nothing behind; the network
namespace and tap0 vanish with its last process. Needs root and /dev/net/tun.
Python standard library only.
"""

import contextlib
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "Servers"))
import tftp_servers  # noqa: E402

TAP = "tap0"
NETWORK_PREFIX = "10.0.2."
DHCP_ADDRESS = NETWORK_PREFIX + "1"
FIRST_SERVER_HOST = 2
GUEST_ADDRESS = NETWORK_PREFIX + "15"
TAP_NIC = 1
PLAN_NAME = "tap-plan.json"
STATUS_NAME = "tap-status.json"
TOOLS = {"unshare": "util-linux", "ip": "iproute2", "in.tftpd": "tftpd-hpa", "dnsmasq": "dnsmasq-base"}


def unavailable_reason():
    """Why tap boots cannot run on this machine, or None when they can."""
    if os.geteuid() != 0:
        return "the tap network needs root for its network namespace and tap device"
    if not os.path.exists("/dev/net/tun"):
        return "/dev/net/tun is missing"
    missing = ["%s (%s)" % item for item in TOOLS.items() if shutil.which(item[0]) is None]
    if missing:
        return "missing " + ", ".join(missing)
    return None


def server_address(index):
    """The address of the INDEX-th TFTP server (0 first) on the tap network."""
    return NETWORK_PREFIX + str(FIRST_SERVER_HOST + index)


def qemu_network_args(capture):
    """QEMU's card on tap0; filter-dump records every frame the guest sends or receives."""
    return [
        "-netdev", "tap,id=n%d,ifname=%s,script=no,downscript=no,vnet_hdr=off" % (TAP_NIC, TAP),
        "-device", "virtio-net-pci,romfile=,netdev=n%d,mac=52:54:00:00:10:%02x" % (TAP_NIC, TAP_NIC),
        "-object", "filter-dump,id=capture,netdev=n%d,file=%s" % (TAP_NIC, capture),
    ]


def boot_on_tap(qemu_command, servers, work, timeout):
    """
    Runs QEMU_COMMAND inside a fresh namespace with SERVERS on the tap network
    (dicts: kind, args, root, address); returns QEMU's exit status (None when
    it was stopped after TIMEOUT seconds). Logs and the capture go to WORK.
    """
    plan = {"qemu": qemu_command, "servers": servers, "work": str(work), "timeout": timeout}
    plan_path = work / PLAN_NAME
    plan_path.write_text(json.dumps(plan, indent=1))
    status_path = work / STATUS_NAME
    status_path.unlink(missing_ok=True)
    # A process namespace of its own too: when its first process dies, however it
    # dies, the kernel kills every other one, also daemons that changed user.
    command = ["unshare", "--net", "--mount", "--propagation", "private", "--pid", "--kill-child",
               sys.executable, str(Path(__file__).resolve()), str(plan_path)]
    with tftp_servers.process_group(command, work / "tap-network.log") as process:
        process.wait()
    if not status_path.exists():
        raise RuntimeError("tap network: ended without a status (see %s)" % (work / "tap-network.log"))
    status = json.loads(status_path.read_text())
    if "error" in status:
        raise RuntimeError("tap network: %s (logs in %s)" % (status["error"], work))
    return status.get("qemu")


def run(command):
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


def set_up_tap(addresses):
    """lo and tap0 up, IPv6 off, tap0 holding the DHCP and server addresses."""
    Path("/proc/sys/net/ipv6/conf/all/disable_ipv6").write_text("1\n")
    Path("/proc/sys/net/ipv6/conf/default/disable_ipv6").write_text("1\n")
    run(["ip", "link", "set", "lo", "up"])
    run(["ip", "tuntap", "add", "dev", TAP, "mode", "tap"])
    for address in [DHCP_ADDRESS] + addresses:
        run(["ip", "addr", "add", address + "/24", "dev", TAP])
    run(["ip", "link", "set", TAP, "up"])


def check_isolated():
    """Raises unless the namespace holds only lo and tap0 and every route stays on tap0."""
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
def dhcp_server(work):
    """dnsmasq answering DHCP on tap0 only: the guest gets 10.0.2.15."""
    command = ["dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--port=0", "--no-resolv", "--no-hosts",
               "--interface=" + TAP, "--bind-interfaces",
               "--dhcp-range=%s,%s,255.255.255.0,12h" % (GUEST_ADDRESS, GUEST_ADDRESS),
               "--dhcp-boot=rivari.ini,,%s" % server_address(0),
               "--dhcp-leasefile=%s" % (work / "dhcp.leases"), "--pid-file=", "--log-facility=-"]
    with tftp_servers.process_group(command, work / "dhcp.log") as process:
        time.sleep(0.2)
        if process.poll() is not None:
            raise RuntimeError("DHCP server exited: " + (work / "dhcp.log").read_text(errors="replace"))
        yield process


def tftp_server(server, log_path):
    """The context manager that runs one planned TFTP server on port 69 of its address."""
    kind, args, root, address = server["kind"], server["args"], server["root"], server["address"]
    if kind == "tftpd-hpa":
        return tftp_servers.tftpd_hpa(root, address, tftp_servers.TFTP_PORT, args, log_path)
    if kind == "dnsmasq":
        return tftp_servers.dnsmasq_tftp(root, address, tftp_servers.TFTP_PORT, args, log_path)
    return tftp_servers.hostile(root, address, tftp_servers.TFTP_PORT, args[0], log_path)


def run_qemu(command, work, timeout):
    """QEMU in its own process group; its exit status, or None when TIMEOUT ended it."""
    with open(work / "console.txt", "wb") as console:
        with tftp_servers.process_group(command, work / "qemu-errors.log", stdout=console) as process:
            try:
                return process.wait(timeout)
            except subprocess.TimeoutExpired:
                return None


def serve_plan(plan_path):
    """Inside the namespace: network, isolation check, DHCP, TFTP servers, QEMU; then everything stopped."""
    plan = json.loads(Path(plan_path).read_text())
    work = Path(plan["work"])
    status = {}
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        set_up_tap([server["address"] for server in plan["servers"]])
        check_isolated()
        with contextlib.ExitStack() as stack:
            stack.enter_context(dhcp_server(work))
            for server in plan["servers"]:
                log_path = work / ("server-%s.log" % server["address"])
                stack.enter_context(tftp_server(server, log_path))
            status["qemu"] = run_qemu(plan["qemu"], work, plan["timeout"])
    except (OSError, RuntimeError, subprocess.CalledProcessError) as error:
        status["error"] = str(error)
    (work / STATUS_NAME).write_text(json.dumps(status))
    return 0 if "error" not in status else 1


# What the capture shows: the block size each server agreed to.

def udp_datagrams(capture_path):
    """(source, destination, source port, destination port, payload) of each captured UDP datagram's first fragment."""
    data = Path(capture_path).read_bytes() if Path(capture_path).exists() else b""
    offset = 24
    while offset + 16 <= len(data):
        captured = struct.unpack("<I", data[offset + 8:offset + 12])[0]
        frame = data[offset + 16:offset + 16 + captured]
        offset += 16 + captured
        if len(frame) < 34 or frame[12:14] != b"\x08\x00" or frame[23] != 17:
            continue
        header = (frame[14] & 0x0F) * 4
        if struct.unpack("!H", frame[20:22])[0] & 0x1FFF:
            continue  # a later fragment: no UDP header
        udp = frame[14 + header:]
        if len(udp) < 8:
            continue
        source_port, destination_port = struct.unpack("!HH", udp[:4])
        yield ".".join(map(str, frame[26:30])), ".".join(map(str, frame[30:34])), source_port, destination_port, udp[8:]


def outside_addresses(capture_path):
    """The unicast addresses beyond the tap network that any captured datagram was sent from or to."""
    outside = set()
    for source, destination, _, _, _ in udp_datagrams(capture_path):
        for address in (source, destination):
            first = int(address.split(".")[0])
            if not address.startswith(NETWORK_PREFIX) and address not in ("0.0.0.0", "255.255.255.255") and not 224 <= first < 240:
                outside.add(address)
    return sorted(outside)


def agreed_block_sizes(capture_path):
    """{server address: sorted agreed block sizes} for the read requests that asked for a block size."""
    asked = {}
    agreed = {}
    for source, destination, source_port, destination_port, payload in udp_datagrams(capture_path):
        if len(payload) < 2:
            continue
        opcode = struct.unpack("!H", payload[:2])[0]
        if opcode == tftp_servers.RRQ and destination_port == tftp_servers.TFTP_PORT:
            words = payload[2:].split(b"\0")
            names = [word.lower() for word in words[2::2]]
            if b"blksize" in names:
                asked[(destination, source_port)] = True
        elif (source, destination_port) in asked and opcode in (tftp_servers.OACK, tftp_servers.DATA):
            del asked[(source, destination_port)]
            size = 512
            if opcode == tftp_servers.OACK:
                size = int(tftp_servers.oack_options(payload).get("blksize", 512))
            agreed.setdefault(source, set()).add(size)
    return {address: sorted(sizes) for address, sizes in agreed.items()}


if __name__ == "__main__":
    sys.exit(serve_plan(sys.argv[1]))
