"""The TFTP wire format (RFC 1350, options RFC 2347/2348/2349): packets built and parsed in one place."""

import struct

RRQ, WRQ, DATA, ACK, ERROR, OACK = 1, 2, 3, 4, 5, 6

ERROR_NOT_FOUND = 1
ERROR_ACCESS = 2
ERROR_ILLEGAL = 4
ERROR_UNKNOWN_TID = 5
ERROR_OPTIONS = 8

DEFAULT_BLOCK_SIZE = 512
MIN_BLOCK_SIZE = 8
MAX_BLOCK_SIZE = 65464


class Request:
    """A parsed read or write request: opcode, file name, mode and options (names lower-cased)."""

    def __init__(self, opcode, filename, mode, options):
        self.opcode = opcode
        self.filename = filename
        self.mode = mode
        self.options = options

    def describe(self):
        words = ["RRQ" if self.opcode == RRQ else "WRQ", self.filename, self.mode]
        words += ["%s=%s" % item for item in self.options.items()]
        return " ".join(words)


def opcode_of(packet):
    """The packet's opcode, 0 when it is too short to hold one."""
    return struct.unpack("!H", packet[:2])[0] if len(packet) >= 2 else 0


def parse_request(packet):
    """A Request, or None when the packet is not a well-formed RRQ/WRQ."""
    opcode = opcode_of(packet)
    if opcode not in (RRQ, WRQ) or not packet.endswith(b"\0"):
        return None
    fields = packet[2:-1].split(b"\0")
    if len(fields) < 2 or len(fields) % 2 != 0 or not fields[0]:
        return None
    try:
        words = [field.decode("ascii") for field in fields]
    except UnicodeDecodeError:
        return None
    options = {}
    for name, value in zip(words[2::2], words[3::2]):
        options.setdefault(name.lower(), value)
    return Request(opcode, words[0], words[1].lower(), options)


def read_request(filename, options, mode="octet"):
    fields = [filename, mode] + [str(word) for item in options.items() for word in item]
    return struct.pack("!H", RRQ) + b"".join(field.encode("ascii") + b"\0" for field in fields)


def error_packet(code, message):
    return struct.pack("!HH", ERROR, code) + message.encode("ascii") + b"\0"


def oack_packet(options):
    body = b"".join(name.encode("ascii") + b"\0" + str(value).encode("ascii") + b"\0" for name, value in options.items())
    return struct.pack("!H", OACK) + body


def data_packet(block, payload):
    return struct.pack("!HH", DATA, block & 0xFFFF) + payload


def ack_number(packet):
    """(opcode, block number) of a packet of at least four bytes, else None."""
    return struct.unpack("!HH", packet[:4]) if len(packet) >= 4 else None


def oack_options(packet):
    """The option name -> value pairs of an OACK packet (names lower-cased); malformed pairs are left out."""
    words = packet[2:].split(b"\0")[:-1]
    options = {}
    for name, value in zip(words[::2], words[1::2]):
        try:
            options[name.decode("ascii").lower()] = value.decode("ascii")
        except UnicodeDecodeError:
            continue
    return options


def agreed_block_size(answer):
    """The block size a server's first answer to a read with blksize grants: the OACK's, else 512; None for other packets."""
    opcode = opcode_of(answer)
    if opcode == DATA:
        return DEFAULT_BLOCK_SIZE
    if opcode != OACK:
        return None
    try:
        return int(oack_options(answer).get("blksize", DEFAULT_BLOCK_SIZE))
    except ValueError:
        return None
