"""What a card's capture (QEMU's filter-dump, pcap) shows: frames leaving the test network, agreed and delivered block sizes.

The leak check fails closed: a capture that is missing, empty or cut short, a frame of any protocol or
any IP fragment to or from an address beyond the test network, or a frame whose addresses cannot be
read, is a finding.
"""

import ipaddress
import struct
from pathlib import Path

from . import facts, tftp_wire

PCAP_MAGIC = {b"\xd4\xc3\xb2\xa1": "<", b"\xa1\xb2\xc3\xd4": ">", b"\x4d\x3c\xb2\xa1": "<", b"\xa1\xb2\x3c\x4d": ">"}
LINKTYPE_ETHERNET = 1
ETHERNET_HEADER = 14
IPV4, ARP, IPV6 = 0x0800, 0x0806, 0x86DD
UDP = 17
TEST_NETWORK = ipaddress.ip_network(facts.NETWORK_PREFIX + "0/24")
# Addresses a frame may carry without leaving the link: the test network, DHCP's "no address yet" and
# broadcast, link-local multicast, IPv6 link-local and link-scope multicast.
LINK_ONLY = [TEST_NETWORK, ipaddress.ip_network("0.0.0.0/32"), ipaddress.ip_network("255.255.255.255/32"),
             ipaddress.ip_network("224.0.0.0/24"), ipaddress.ip_network("::/128"),
             ipaddress.ip_network("fe80::/10"), ipaddress.ip_network("ff02::/16")]


class CaptureError(Exception):
    """The capture cannot be read: missing, empty, not pcap, or cut short."""


def read_frames(path):
    """The Ethernet frames of a pcap file, in order; raises CaptureError when the file cannot vouch for the traffic."""
    path = Path(path)
    if not path.exists():
        raise CaptureError("no capture: %s was never written" % path)
    data = path.read_bytes()
    if len(data) < 24 or data[:4] not in PCAP_MAGIC:
        raise CaptureError("no capture: %s is not a pcap file (%d bytes)" % (path, len(data)))
    order = PCAP_MAGIC[data[:4]]
    if struct.unpack(order + "I", data[20:24])[0] != LINKTYPE_ETHERNET:
        raise CaptureError("%s: not an Ethernet capture" % path)
    frames = []
    offset = 24
    while offset < len(data):
        if offset + 16 > len(data):
            raise CaptureError("%s: cut short in a record header at byte %d" % (path, offset))
        captured = struct.unpack(order + "I", data[offset + 8:offset + 12])[0]
        if offset + 16 + captured > len(data):
            raise CaptureError("%s: cut short in a frame at byte %d" % (path, offset))
        frames.append(data[offset + 16:offset + 16 + captured])
        offset += 16 + captured
    return frames


def frame_addresses(frame):
    """(protocol name, [network addresses]) of an Ethernet frame; the list is None when they cannot be read."""
    if len(frame) < ETHERNET_HEADER:
        return "runt frame", None
    kind = struct.unpack("!H", frame[12:14])[0]
    body = frame[ETHERNET_HEADER:]
    if kind == IPV4 and len(body) >= 20:
        return "IPv4 protocol %d" % body[9], [ipaddress.IPv4Address(body[12:16]), ipaddress.IPv4Address(body[16:20])]
    if kind == ARP and len(body) >= 28:
        return "ARP", [ipaddress.IPv4Address(body[14:18]), ipaddress.IPv4Address(body[24:28])]
    if kind == IPV6 and len(body) >= 40:
        return "IPv6 next header %d" % body[6], [ipaddress.IPv6Address(body[8:24]), ipaddress.IPv6Address(body[24:40])]
    return "EtherType 0x%04x" % kind, None


def on_link(address):
    return any(address.version == network.version and address in network for network in LINK_ONLY)


def leaks(path):
    """
    What the capture shows leaving the test network, one line per finding (empty: nothing left it);
    a capture that cannot be read is itself a finding.
    """
    try:
        frames = read_frames(path)
    except CaptureError as error:
        return [str(error)]
    findings = {}
    for number, frame in enumerate(frames, 1):
        protocol, addresses = frame_addresses(frame)
        if addresses is None:
            findings.setdefault("%s (frame %d): addresses not readable" % (protocol, number), None)
            continue
        for address in addresses:
            if not on_link(address):
                findings.setdefault("%s %s (first in frame %d)" % (protocol, address, number), None)
    return list(findings)


def udp_datagrams(path):
    """
    (source, destination, source port, destination port, UDP length, payload) of each captured
    IPv4 UDP datagram's first fragment (later fragments carry no UDP header); nothing when unreadable.
    """
    try:
        frames = read_frames(path)
    except CaptureError:
        return
    for frame in frames:
        if len(frame) < 34 or frame[12:14] != b"\x08\x00" or frame[23] != UDP:
            continue
        if struct.unpack("!H", frame[20:22])[0] & 0x1FFF:
            continue
        udp = frame[ETHERNET_HEADER + (frame[14] & 0x0F) * 4:]
        if len(udp) < 8:
            continue
        source_port, destination_port, length = struct.unpack("!HHH", udp[:6])
        yield (".".join(map(str, frame[26:30])), ".".join(map(str, frame[30:34])), source_port, destination_port,
               length, udp[8:])


def agreed_block_sizes(path):
    """{server address: sorted block sizes agreed} for the read requests that asked for a block size."""
    asked = {}
    agreed = {}
    for source, destination, source_port, destination_port, _, payload in udp_datagrams(path):
        request = tftp_wire.parse_request(payload) if destination_port == facts.TFTP_PORT else None
        if request is not None and request.opcode == tftp_wire.RRQ and "blksize" in request.options:
            asked[(destination, source_port)] = True
        elif (source, destination_port) in asked:
            size = tftp_wire.agreed_block_size(payload)
            if size is not None:
                del asked[(source, destination_port)]
                agreed.setdefault(source, set()).add(size)
    return {address: sorted(sizes) for address, sizes in agreed.items()}


def largest_delivered_block(path):
    """{server address: the largest DATA block the guest acknowledged}: what reached the driver, not only the wire."""
    sent = {}
    largest = {}
    for source, destination, source_port, destination_port, length, payload in udp_datagrams(path):
        opcode = tftp_wire.opcode_of(payload)
        if opcode == tftp_wire.DATA and len(payload) >= 4:
            block = struct.unpack("!H", payload[2:4])[0]
            sent[(source, source_port, destination_port, block)] = length - 8 - 4
        elif opcode == tftp_wire.ACK and len(payload) >= 4:
            block = struct.unpack("!H", payload[2:4])[0]
            size = sent.get((destination, destination_port, source_port, block))
            if size is not None:
                largest[destination] = max(largest.get(destination, 0), size)
    return largest
