"""The leak check on made-up captures: what stays on the test network passes, anything else and no capture fail.

    PYTHONPATH=Test python3 -m testbed.capture_test
"""

import ipaddress
import struct
import tempfile
import unittest
from pathlib import Path

from . import capture

GUEST_MAC, HOST_MAC, BROADCAST_MAC = b"\x52\x54\x00\x00\x10\x01", b"\x02\x00\x00\x00\x00\x01", b"\xff" * 6


def ethernet(kind, body, destination=HOST_MAC):
    return destination + GUEST_MAC + struct.pack("!H", kind) + body


def ipv4(source, destination, protocol=capture.UDP, fragment_offset=0, payload=b"\0" * 8):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), 1, fragment_offset, 64, protocol, 0,
                         ipaddress.IPv4Address(source).packed, ipaddress.IPv4Address(destination).packed)
    return ethernet(capture.IPV4, header + payload)


def arp(sender, target):
    body = struct.pack("!HHBBH6s4s6s4s", 1, 0x0800, 6, 4, 1, GUEST_MAC, ipaddress.IPv4Address(sender).packed,
                       b"\0" * 6, ipaddress.IPv4Address(target).packed)
    return ethernet(capture.ARP, body, BROADCAST_MAC)


def ipv6(source, destination):
    header = struct.pack("!IHBB16s16s", 6 << 28, 0, 58, 255, ipaddress.IPv6Address(source).packed,
                         ipaddress.IPv6Address(destination).packed)
    return ethernet(capture.IPV6, header)


def pcap(frames):
    data = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, capture.LINKTYPE_ETHERNET)
    return data + b"".join(struct.pack("<IIII", 0, 0, len(frame), len(frame)) + frame for frame in frames)


ON_LINK = [ipv4("0.0.0.0", "255.255.255.255"), ipv4("10.0.2.15", "10.0.2.2"), arp("10.0.2.15", "10.0.2.1"),
           ipv4("10.0.2.15", "224.0.0.22", protocol=2), ipv6("fe80::5054:ff:fe00:1001", "ff02::1:ff00:1001")]

# (behaviour, the capture file's bytes or None for no file, a text every finding list must hold or None for none)
ROWS = [
    ("traffic that stays on the test network passes", pcap(ON_LINK), None),
    ("no capture fails", None, "never written"),
    ("an empty capture file fails", b"", "not a pcap file"),
    ("a capture cut short in a frame fails", pcap(ON_LINK)[:-3], "cut short"),
    ("a later IPv4 fragment to an outside address fails",
     pcap(ON_LINK + [ipv4("10.0.2.15", "8.8.8.8", fragment_offset=185)]), "8.8.8.8"),
    ("TCP to an outside address fails", pcap([ipv4("10.0.2.15", "93.184.216.34", protocol=6)]), "93.184.216.34"),
    ("ICMP from an outside address fails", pcap([ipv4("192.0.2.7", "10.0.2.15", protocol=1)]), "192.0.2.7"),
    ("ARP for an outside address fails", pcap([arp("10.0.2.15", "192.168.1.1")]), "ARP 192.168.1.1"),
    ("IPv6 to a global address fails", pcap([ipv6("fe80::1", "2001:db8::1")]), "2001:db8::1"),
    ("multicast beyond the link fails", pcap([ipv4("10.0.2.15", "239.1.1.1")]), "239.1.1.1"),
    ("a frame whose addresses cannot be read fails", pcap([ethernet(0x88CC, b"\0" * 30)]), "EtherType 0x88cc"),
]


class LeakCheck(unittest.TestCase):
    def test_rows(self):
        with tempfile.TemporaryDirectory() as folder:
            for number, (behaviour, data, expected) in enumerate(ROWS):
                with self.subTest(behaviour):
                    path = Path(folder) / ("capture-%d.pcap" % number)
                    if data is not None:
                        path.write_bytes(data)
                    findings = capture.leaks(path)
                    print("%s: %s" % (behaviour, "; ".join(findings) or "nothing left the test network"))
                    if expected is None:
                        self.assertEqual(findings, [])
                    else:
                        self.assertTrue(any(expected in finding for finding in findings), findings)


if __name__ == "__main__":
    unittest.main()
