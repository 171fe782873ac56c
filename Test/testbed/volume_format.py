"""The PI specification's firmware volume, FFS file and section formats: constants, readers and writers.

A firmware volume (EFI_FIRMWARE_VOLUME_HEADER) starts with 16 zero bytes, its file system GUID, its length,
the signature "_FVH", attributes, header length, a 16-bit checksum over the header, the offset of its
extended header and a block map ending in {0, 0}; FFS files follow at 8-byte boundaries, and the erased
remainder is free space. Each file (EFI_FFS_FILE_HEADER, or EFI_FFS_FILE_HEADER2 with a 64-bit size when
FFS_ATTRIB_LARGE_FILE is set) carries an 8-bit header checksum, a data checksum (or 0xAA), a type, attributes, a
24-bit size and a state byte whose bits are inverted when the volume's erase polarity is 1. Sections (4-byte
aligned) are a 24-bit size and a type, the size 0xFFFFFF meaning a 32-bit size follows. Python standard library.
"""

import struct
import uuid

FV_SIGNATURE = b"_FVH"
FV_HEADER_FIXED = 56  # up to the block map
FVB2_ERASE_POLARITY = 0x00000800
FFS2_FILE_SYSTEM = uuid.UUID("8c8ce578-8a3d-4f1c-9935-896185c32dd3")
FFS3_FILE_SYSTEM = uuid.UUID("5473c07a-3dcb-4dca-bd6f-1e9689e7349a")

FILE_HEADER_SIZE = 24
FILE_HEADER2_SIZE = 32
FILE_ALIGNMENT = 8
FFS_ATTRIB_LARGE_FILE = 0x01
FFS_ATTRIB_CHECKSUM = 0x40
FFS_FIXED_CHECKSUM = 0xAA
# State bits as the specification defines them, for erase polarity 0.
FILE_HEADER_CONSTRUCTION = 0x01
FILE_HEADER_VALID = 0x02
FILE_DATA_VALID = 0x04
FILE_MARKED_FOR_UPDATE = 0x08
FILE_DELETED = 0x10
FILE_HEADER_INVALID = 0x20
FILE_STATE_VALID = FILE_HEADER_CONSTRUCTION | FILE_HEADER_VALID | FILE_DATA_VALID

FILETYPE_DRIVER = 0x07
FILETYPE_FIRMWARE_VOLUME_IMAGE = 0x0B
FILETYPE_PAD = 0xF0

SECTION_HEADER_SIZE = 4
SECTION_ALIGNMENT = 4
SECTION_GUID_DEFINED = 0x02
SECTION_PE32 = 0x10
SECTION_DXE_DEPEX = 0x13
SECTION_USER_INTERFACE = 0x15
SECTION_FIRMWARE_VOLUME_IMAGE = 0x17
GUIDED_SECTION_HEADER = 20  # GUID, data offset, attributes after the common header
GUIDED_PROCESSING_REQUIRED = 0x01
LZMA_SECTION_GUID = uuid.UUID("ee4e5898-3914-4259-9d6e-dc7bd79403cf")
LZMA_HEADER_SIZE = 13  # properties, dictionary size, 64-bit uncompressed size
LZMA_SIZE_UNKNOWN = 0xFFFFFFFFFFFFFFFF

# Dependency expression opcodes.
DEPEX_PUSH = 0x02
DEPEX_AND = 0x03
DEPEX_TRUE = 0x06
DEPEX_END = 0x08


def align(value, boundary):
    return (value + boundary - 1) & ~(boundary - 1)


def sum8(data):
    return sum(data) & 0xFF


def sum16(data):
    return sum(struct.unpack("<%dH" % (len(data) // 2), data)) & 0xFFFF


class Volume:
    """A firmware volume's header fields, read from DATA at OFFSET; ValueError when it is not one."""

    def __init__(self, data, offset=0):
        if data[offset + 40:offset + 44] != FV_SIGNATURE:
            raise ValueError("no firmware volume signature at 0x%x" % offset)
        self.offset = offset
        self.file_system = uuid.UUID(bytes_le=bytes(data[offset + 16:offset + 32]))
        (self.length,) = struct.unpack_from("<Q", data, offset + 32)
        (self.attributes, self.header_length, self.checksum, self.ext_header_offset) = struct.unpack_from(
            "<IHHH", data, offset + 44)
        if self.header_length < FV_HEADER_FIXED + 8 or offset + self.length > len(data):
            raise ValueError("firmware volume at 0x%x: header length %d or length 0x%x out of range"
                             % (offset, self.header_length, self.length))
        self.erased = 0xFF if self.attributes & FVB2_ERASE_POLARITY else 0x00

    def header(self, data):
        return bytes(data[self.offset:self.offset + self.header_length])

    def files_start(self, data):
        """Where the first file lies: after the header, or after the extended header when there is one."""
        start = self.header_length
        if self.ext_header_offset:
            (size,) = struct.unpack_from("<I", data, self.offset + self.ext_header_offset + 16)
            start = self.ext_header_offset + size
        return align(start, FILE_ALIGNMENT)


class File:
    """One FFS file's header fields at OFFSET (relative to DATA), read as they are, checked by nobody."""

    def __init__(self, data, offset):
        self.offset = offset
        self.name = uuid.UUID(bytes_le=bytes(data[offset:offset + 16]))
        self.header_checksum, self.data_checksum, self.type, self.attributes = data[offset + 16:offset + 20]
        self.size = int.from_bytes(data[offset + 20:offset + 23], "little")
        self.state = data[offset + 23]
        self.header_size = FILE_HEADER_SIZE
        if self.attributes & FFS_ATTRIB_LARGE_FILE:
            (self.size,) = struct.unpack_from("<Q", data, offset + 24)
            self.header_size = FILE_HEADER2_SIZE

    def header(self, data):
        return bytes(data[self.offset:self.offset + self.header_size])

    def body(self, data):
        return bytes(data[self.offset + self.header_size:self.offset + self.size])


def volume_files(data, volume):
    """
    (files, free space offset): the volume's files in order, and where its erased remainder begins (all
    offsets relative to DATA). A header reaching past the volume ends the walk; the verifier says why.
    """
    end = volume.offset + volume.length
    offset = volume.offset + volume.files_start(data)
    files = []
    while True:
        offset = volume.offset + align(offset - volume.offset, FILE_ALIGNMENT)
        if offset + FILE_HEADER_SIZE > end or data[offset:offset + FILE_HEADER_SIZE] == bytes([volume.erased]) * 24:
            return files, min(offset, end)
        entry = File(data, offset)
        if entry.size < entry.header_size or offset + entry.size > end:
            return files + [entry], offset
        files.append(entry)
        offset += entry.size


class Section:
    """One section's type, header size and size at OFFSET of DATA."""

    def __init__(self, data, offset):
        self.offset = offset
        self.size = int.from_bytes(data[offset:offset + 3], "little")
        self.type = data[offset + 3]
        self.header_size = SECTION_HEADER_SIZE
        if self.size == 0xFFFFFF:
            (self.size,) = struct.unpack_from("<I", data, offset + 4)
            self.header_size = SECTION_HEADER_SIZE + 4

    def body(self, data):
        return bytes(data[self.offset + self.header_size:self.offset + self.size])


def sections(data, start, end):
    """The sections between START and END of DATA; ValueError when one reaches past END."""
    found = []
    offset = start
    while align(offset - start, SECTION_ALIGNMENT) + start + SECTION_HEADER_SIZE <= end:
        offset = start + align(offset - start, SECTION_ALIGNMENT)
        section = Section(data, offset)
        if section.size < section.header_size or offset + section.size > end:
            raise ValueError("section at 0x%x: size %d reaches past its file" % (offset, section.size))
        found.append(section)
        offset += section.size
    return found


def guided_section(data, section):
    """(definition GUID, data offset, attributes) of a GUID-defined section."""
    base = section.offset + section.header_size
    definition = uuid.UUID(bytes_le=bytes(data[base:base + 16]))
    data_offset, attributes = struct.unpack_from("<HH", data, base + 16)
    return definition, data_offset, attributes


def section_bytes(section_type, body):
    """A section of SECTION_TYPE around BODY, with the extended size when it needs one."""
    size = SECTION_HEADER_SIZE + len(body)
    if size < 0xFFFFFF:
        return size.to_bytes(3, "little") + bytes([section_type]) + body
    return b"\xff\xff\xff" + bytes([section_type]) + struct.pack("<I", size + 4) + body


def sections_bytes(pieces):
    """Sections laid one after another, each starting at a 4-byte boundary of the file's data."""
    out = b""
    for piece in pieces:
        out += b"\x00" * (align(len(out), SECTION_ALIGNMENT) - len(out)) + piece
    return out


def file_state_byte(erased):
    """The state of a valid file as stored: the bits set in polarity 0, inverted in polarity 1."""
    return FILE_STATE_VALID if erased == 0 else (~FILE_STATE_VALID) & 0xFF


def file_bytes(name, file_type, body, erased, attributes=0):
    """
    An FFS file NAME of FILE_TYPE around BODY: the header checksum makes the header (state and data
    checksum counted as zero) sum to zero; without FFS_ATTRIB_CHECKSUM the data checksum is 0xAA.
    """
    large = FILE_HEADER_SIZE + len(body) > 0xFFFFFF
    header_size = FILE_HEADER2_SIZE if large else FILE_HEADER_SIZE
    size = header_size + len(body)
    attributes |= FFS_ATTRIB_LARGE_FILE if large else 0
    data_checksum = (-sum8(body)) & 0xFF if attributes & FFS_ATTRIB_CHECKSUM else FFS_FIXED_CHECKSUM
    header = bytearray(name.bytes_le + bytes([0, 0, file_type, attributes]))
    header += (0 if large else size).to_bytes(3, "little") + b"\x00"
    if large:
        header += struct.pack("<Q", size)
    header[16] = (-sum8(header)) & 0xFF
    header[17] = data_checksum
    header[23] = file_state_byte(erased)
    return bytes(header) + body


def volume_header_checksum(header):
    """The checksum value that makes the header's 16-bit words sum to zero (its own field counted as zero)."""
    blank = header[:50] + b"\x00\x00" + header[52:]
    return (-sum16(blank)) & 0xFFFF


def depex_bytes(protocols):
    """A DXE dependency expression: TRUE for no protocols, else every protocol GUID pushed and ANDed."""
    if not protocols:
        return bytes([DEPEX_TRUE, DEPEX_END])
    out = b""
    for index, protocol in enumerate(protocols):
        out += bytes([DEPEX_PUSH]) + protocol.bytes_le + (bytes([DEPEX_AND]) if index else b"")
    return out + bytes([DEPEX_END])


def user_interface_bytes(name):
    """The user-interface section's body: the name in UCS-2, NUL-terminated."""
    return (name + "\0").encode("utf-16-le")
