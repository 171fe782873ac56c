"""The firmware-volume verifier: what must hold in a flash image before it boots, each fault named.

Every volume, the outer one and those inside compressed sections, is checked for: its signature and
header checksum, a block map that adds up to its length, each FFS file's header checksum, data checksum
and state, files that stay inside the volume, free space that is all erased, and file GUIDs that appear
once (a second file under a GUID is never dispatched); every LZMA section for a header that carries the
true uncompressed size (a header saying "size unknown" hangs the firmware) and a stream that decompresses.
OVMF shows no message for most of these: a bad header checksum faults with #UD before the Shell. Python
standard library.

    PYTHONPATH=Test python3 -m testbed.volume_check FLASH.fd...
"""

import lzma
import struct
import sys
from pathlib import Path

from . import volume_format as fv

# Files whose sections the verifier opens: those that may hold compressed or nested volumes, and drivers.
OPENED_TYPES = (fv.FILETYPE_FIRMWARE_VOLUME_IMAGE, fv.FILETYPE_DRIVER)


class VerifyError(Exception):
    """A flash image the verifier refused."""


def volume_header_problems(data, volume, where):
    header = volume.header(data)
    problems = []
    if fv.sum16(header):
        problems.append("%s: header checksum 0x%04x does not make the header sum to zero" % (where, volume.checksum))
    covered = 0
    offset = fv.FV_HEADER_FIXED
    while offset + 8 <= volume.header_length:
        count, length = struct.unpack_from("<II", header, offset)
        if count == 0 and length == 0:
            break
        covered += count * length
        offset += 8
    if covered != volume.length:
        problems.append("%s: block map covers 0x%x bytes, the volume is 0x%x" % (where, covered, volume.length))
    return problems


def file_problems(data, volume, entry, where):
    """The faults of one file's header: checksums, state, size."""
    name = "%s: file %s at 0x%x" % (where, str(entry.name).upper(), entry.offset - volume.offset)
    end = volume.offset + volume.length
    if entry.size < entry.header_size or entry.offset + entry.size > end:
        return ["%s: size %d does not fit the volume" % (name, entry.size)]
    problems = []
    header = bytearray(entry.header(data))
    header[17] = 0  # the data checksum and the state are not covered by the header checksum
    header[23] = 0
    if fv.sum8(header):
        problems.append("%s: header checksum 0x%02x is wrong" % (name, entry.header_checksum))
    if entry.attributes & fv.FFS_ATTRIB_CHECKSUM:
        if (fv.sum8(entry.body(data)) + entry.data_checksum) & 0xFF:
            problems.append("%s: data checksum 0x%02x is wrong" % (name, entry.data_checksum))
    elif entry.data_checksum != fv.FFS_FIXED_CHECKSUM:
        problems.append("%s: data checksum 0x%02x, not 0xAA for a file without one" % (name, entry.data_checksum))
    state = entry.state ^ volume.erased
    if state != fv.FILE_STATE_VALID:
        problems.append("%s: state 0x%02x is not a valid file's" % (name, entry.state))
    return problems


def lzma_problems(data, section, where):
    """(faults, the decompressed bytes or None) of a GUID-defined LZMA section."""
    _, data_offset, _ = fv.guided_section(data, section)
    stream = bytes(data[section.offset + data_offset:section.offset + section.size])
    if len(stream) < fv.LZMA_HEADER_SIZE:
        return ["%s: LZMA section shorter than its header" % where], None
    (declared,) = struct.unpack_from("<Q", stream, 5)
    try:
        blob = lzma.decompress(stream, format=lzma.FORMAT_ALONE)
    except lzma.LZMAError as error:
        # A wrong size makes the stream undecodable: decoded up to its end marker, it tells its true size.
        unsized = stream[:5] + struct.pack("<Q", fv.LZMA_SIZE_UNKNOWN) + stream[fv.LZMA_HEADER_SIZE:]
        try:
            blob = lzma.decompress(unsized, format=lzma.FORMAT_ALONE)
        except lzma.LZMAError:
            return ["%s: LZMA stream does not decompress (%s)" % (where, error)], None
    if declared == fv.LZMA_SIZE_UNKNOWN:
        return ["%s: LZMA header says size unknown; the firmware needs the size (%d)" % (where, len(blob))], blob
    if declared != len(blob):
        return ["%s: LZMA header says %d bytes, the stream holds %d" % (where, declared, len(blob))], blob
    return [], blob


def section_problems(data, start, end, where, report):
    """The faults of the sections between START and END: nested volumes and compressed sections opened."""
    try:
        found = fv.sections(data, start, end)
    except ValueError as error:
        return ["%s: %s" % (where, error)]
    problems = []
    for section in found:
        here = "%s, section at 0x%x" % (where, section.offset - start)
        if section.type == fv.SECTION_GUID_DEFINED and fv.guided_section(data, section)[0] == fv.LZMA_SECTION_GUID:
            faults, blob = lzma_problems(data, section, here)
            problems += faults
            if blob is not None:
                problems += section_problems(blob, 0, len(blob), here + " (decompressed)", report)
        elif section.type == fv.SECTION_FIRMWARE_VOLUME_IMAGE:
            problems += volume_problems(data, section.offset + section.header_size, here, report)
    return problems


def volume_problems(data, offset, where, report):
    """Every fault of the volume at OFFSET of DATA and of what it holds; REPORT gets (where, free bytes)."""
    try:
        volume = fv.Volume(data, offset)
    except ValueError as error:
        return ["%s: %s" % (where, error)]
    where = "%s volume %s" % (where, volume.file_system)
    problems = volume_header_problems(data, volume, where)
    files, free = fv.volume_files(data, volume)
    end = volume.offset + volume.length
    seen = set()
    for entry in files:
        faults = file_problems(data, volume, entry, where)
        problems += faults
        if entry.type != fv.FILETYPE_PAD:
            if entry.name in seen:
                problems.append("%s: file GUID %s appears twice; the second file is never dispatched"
                                % (where, str(entry.name).upper()))
            seen.add(entry.name)
        if not faults and entry.type in OPENED_TYPES:
            problems += section_problems(data, entry.offset + entry.header_size, entry.offset + entry.size,
                                         "%s: file %s" % (where, str(entry.name).upper()), report)
    if bytes(data[free:end]).count(volume.erased) != end - free:
        problems.append("%s: free space from 0x%x holds bytes that are not erased" % (where, free - volume.offset))
    report.append((where, end - free))
    return problems


def verify(flash, report=None):
    """The faults of FLASH (bytes) from its first volume down, as lines; empty when it may boot."""
    return volume_problems(flash, 0, "flash", report if report is not None else [])


def main():
    failed = False
    for name in sys.argv[1:]:
        report = []
        problems = verify(Path(name).read_bytes(), report)
        for where, free in report:
            print("%s: %s: %d bytes free" % (name, where, free))
        for problem in problems:
            print("%s: %s" % (name, problem))
        print("%s: %s" % (name, "FAULTY" if problems else "ok"))
        failed |= bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
