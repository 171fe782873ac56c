"""The firmware-volume builder: Debian's OVMF flash image with the service and the companion in its DXE volume.

The flash image's first volume holds one file of type FIRMWARE_VOLUME_IMAGE whose GUID-defined section is
LZMA-compressed; inside are the PEI and DXE volumes, each in a FIRMWARE_VOLUME_IMAGE section. The builder
decompresses that section, writes one EFI_FV_FILETYPE_DRIVER file per image into the DXE volume's free space
(a dependency section, a PE32 section with the image unchanged, a user-interface section), compresses again
with the uncompressed size in the LZMA header (a header saying "size unknown" hangs the firmware), puts the
new file in place of the old one and keeps the rest of the flash image as it was. The file GUIDs, names and
dependency expressions come from the EDK II binary-module files the package ships (packaging/edk2), so the
test bed builds the layout integrators get. It refuses, with the reason, a volume without room, a file GUID
already in the volume and an image that is not a PE32+ boot-service driver. Python standard library.

    PYTHONPATH=Test python3 -m testbed.volume --code FD --output FD IMAGE.efi...
"""

import argparse
import lzma
import re
import struct
import sys
import uuid
from pathlib import Path

from . import facts, volume_check
from . import volume_format as fv

INF_FOLDER = facts.REPOSITORY / "packaging" / "edk2"
# The images the package ships as binary modules, by module file.
MODULES = ("TolvaneNetworkSetup.inf", "TolvaneService.inf")
PE_MACHINE_X64 = 0x8664
PE32_PLUS_MAGIC = 0x20B
SUBSYSTEM_BOOT_SERVICE_DRIVER = 11
DXE_CORE = 0x05
LZMA_FILTERS = [{"id": lzma.FILTER_LZMA1, "preset": 9 | lzma.PRESET_EXTREME, "dict_size": 1 << 24}]


class BuildError(Exception):
    """The builder refused: the message says why."""


class Module:
    """
    One driver file to add: its file GUID, user-interface name, dependency expression (its bytes; None: no
    dependency section, which the DXE dispatcher reads as all architectural protocols), image path.
    """

    def __init__(self, guid, name, depex, image):
        self.guid = guid
        self.name = name
        self.depex = depex
        self.image = image


def inf_module(inf_path, build_dir):
    """
    The Module an EDK II binary-module file describes: its image taken from BUILD_DIR, its dependency
    expression from the DXE_DEPEX file beside the .inf file.
    """
    text = inf_path.read_text()
    defines = dict(re.findall(r"^\s*(\w+)\s*=\s*(\S+)\s*$", text, re.MULTILINE))
    image = re.search(r"^\s*PE32\|([^|\s]+)", text, re.MULTILINE)
    depex_file = re.search(r"^\s*DXE_DEPEX\|([^|\s]+)", text, re.MULTILINE)
    if image is None or depex_file is None or "FILE_GUID" not in defines or "BASE_NAME" not in defines:
        raise BuildError("%s: no FILE_GUID, BASE_NAME, PE32 or DXE_DEPEX line" % inf_path)
    depex = (inf_path.parent / depex_file.group(1)).read_bytes()
    if not depex or depex[-1] != fv.DEPEX_END:
        raise BuildError("%s: %s does not end with the END opcode" % (inf_path, depex_file.group(1)))
    return Module(uuid.UUID(defines["FILE_GUID"]), defines["BASE_NAME"], depex, build_dir / image.group(1))


def package_modules(build_dir):
    """The companion and the service as the package's binary-module files describe them."""
    return [inf_module(INF_FOLDER / name, build_dir) for name in MODULES]


def driver_image_problem(image):
    """Why IMAGE (bytes) cannot be a DXE driver file's PE32 section, or None when it is a PE32+ boot-service driver."""
    if len(image) < 0x40 or image[:2] != b"MZ":
        return "no DOS header"
    (pe_offset,) = struct.unpack_from("<I", image, 0x3C)
    if pe_offset + 24 + 70 > len(image) or image[pe_offset:pe_offset + 4] != b"PE\0\0":
        return "no PE signature"
    (machine,) = struct.unpack_from("<H", image, pe_offset + 4)
    optional = pe_offset + 24
    (magic,) = struct.unpack_from("<H", image, optional)
    (subsystem,) = struct.unpack_from("<H", image, optional + 68)
    if magic != PE32_PLUS_MAGIC or machine != PE_MACHINE_X64:
        return "not a PE32+ x86-64 image (magic 0x%x, machine 0x%x)" % (magic, machine)
    if subsystem != SUBSYSTEM_BOOT_SERVICE_DRIVER:
        return "subsystem %d, not a boot-service driver (%d)" % (subsystem, SUBSYSTEM_BOOT_SERVICE_DRIVER)
    return None


def driver_file(module, erased):
    """The EFI_FV_FILETYPE_DRIVER file of MODULE: dependency, PE32 and user-interface sections."""
    image = module.image.read_bytes()
    problem = driver_image_problem(image)
    if problem is not None:
        raise BuildError("%s: %s" % (module.image, problem))
    depex = [] if module.depex is None else [fv.section_bytes(fv.SECTION_DXE_DEPEX, module.depex)]
    name = fv.user_interface_bytes(module.name)
    body = fv.sections_bytes(depex + [fv.section_bytes(fv.SECTION_PE32, image),
                                      fv.section_bytes(fv.SECTION_USER_INTERFACE, name)])
    return fv.file_bytes(module.guid, fv.FILETYPE_DRIVER, body, erased)


def add_files(data, volume, modules):
    """
    DATA (bytearray) with one driver file per module written into VOLUME's free space; BuildError when a
    GUID is taken (in the volume or twice among MODULES) or the files do not fit.
    """
    files, free = fv.volume_files(data, volume)
    taken = {entry.name for entry in files if entry.type != fv.FILETYPE_PAD}
    for module in modules:
        if module.guid in taken:
            raise BuildError("file GUID %s (%s) is already in the volume: the firmware would never dispatch "
                             "the second file" % (str(module.guid).upper(), module.name))
        taken.add(module.guid)
    offset = free
    end = volume.offset + volume.length
    written = []
    for module in modules:
        offset = volume.offset + fv.align(offset - volume.offset, fv.FILE_ALIGNMENT)
        new = driver_file(module, volume.erased)
        written.append((offset, new))
        offset += len(new)
    if offset > end:
        raise BuildError("the volume is full: the files need %d bytes, it has %d free"
                         % (offset - free, end - free))
    for where, new in written:
        data[where:where + len(new)] = new
    return offset - free


def compressed_volume_file(data, outer):
    """(the file, its LZMA section, all files of OUTER): where the volumes lie compressed; BuildError if nowhere."""
    files, _ = fv.volume_files(data, outer)
    for entry in files:
        if entry.type != fv.FILETYPE_FIRMWARE_VOLUME_IMAGE:
            continue
        for section in fv.sections(data, entry.offset + entry.header_size, entry.offset + entry.size):
            if section.type == fv.SECTION_GUID_DEFINED and fv.guided_section(data, section)[0] == fv.LZMA_SECTION_GUID:
                return entry, section, files
    raise BuildError("no LZMA-compressed volume file in the flash image's first volume")


def dxe_volume(blob):
    """The volume among the decompressed FIRMWARE_VOLUME_IMAGE sections that holds the DXE core."""
    for section in fv.sections(blob, 0, len(blob)):
        if section.type != fv.SECTION_FIRMWARE_VOLUME_IMAGE:
            continue
        volume = fv.Volume(blob, section.offset + section.header_size)
        files, _ = fv.volume_files(blob, volume)
        if any(entry.type == DXE_CORE for entry in files):
            return volume
    raise BuildError("no DXE volume (one holding the DXE core) in the compressed section")


def lzma_compress(blob):
    """BLOB as an LZMA stream whose header carries its uncompressed size."""
    stream = lzma.compress(blob, format=lzma.FORMAT_ALONE, filters=LZMA_FILTERS)
    return stream[:5] + struct.pack("<Q", len(blob)) + stream[fv.LZMA_HEADER_SIZE:]


class OpenedFlash:
    """A flash image taken apart: its outer volume, the compressed file and section, the decompressed DXE volume."""

    def __init__(self, code):
        self.data = bytearray(code)
        self.outer = fv.Volume(self.data, 0)
        self.entry, self.section, files = compressed_volume_file(self.data, self.outer)
        if self.entry is not files[-1]:
            raise BuildError("the compressed volume file is not the last file of the outer volume")
        _, data_offset, self.attributes = fv.guided_section(self.data, self.section)
        self.blob = bytearray(lzma.decompress(
            self.data[self.section.offset + data_offset:self.section.offset + self.section.size],
            format=lzma.FORMAT_ALONE))
        self.dxe = dxe_volume(self.blob)

    def closed(self):
        """
        The flash image with the decompressed bytes (changed or not) compressed again in place of the old
        compressed file, the rest of the outer volume erased; BuildError when it does not fit.
        """
        data, outer, entry = bytearray(self.data), self.outer, self.entry
        stream = lzma_compress(bytes(self.blob))
        # A GUID-defined section: common header, definition GUID, data offset, attributes, then the stream.
        guided = fv.LZMA_SECTION_GUID.bytes_le + struct.pack("<HH", 0, self.attributes) + stream
        new_section = bytearray(fv.section_bytes(fv.SECTION_GUID_DEFINED, guided))
        header_size = len(new_section) - len(guided)
        struct.pack_into("<H", new_section, header_size + 16, header_size + fv.GUIDED_SECTION_HEADER)
        prefix = data[entry.offset + entry.header_size:self.section.offset]  # sections before the compressed one
        new_file = fv.file_bytes(entry.name, entry.type, bytes(prefix) + bytes(new_section), outer.erased,
                                 entry.attributes & ~fv.FFS_ATTRIB_LARGE_FILE)
        end = outer.offset + outer.length
        if entry.offset + len(new_file) > end:
            raise BuildError("the outer volume is full: the compressed file needs %d bytes, the volume has %d"
                             % (len(new_file), end - entry.offset))
        data[entry.offset:end] = new_file + bytes([outer.erased]) * (end - entry.offset - len(new_file))
        return data


def build_flash(code, modules):
    """
    (the new flash image, figures): CODE (bytes of an OVMF code image) with MODULES in its DXE volume.
    Figures: free bytes of the DXE and outer volumes before and after, bytes the files took.
    """
    flash = OpenedFlash(code)
    dxe_free_before = flash.dxe.offset + flash.dxe.length - fv.volume_files(flash.blob, flash.dxe)[1]
    added = add_files(flash.blob, flash.dxe, modules)
    data = flash.closed()
    end = flash.outer.offset + flash.outer.length
    figures = {"dxe_free_before": dxe_free_before, "dxe_free_after": dxe_free_before - added, "files_bytes": added,
               "outer_free_before": end - fv.volume_files(flash.data, flash.outer)[1],
               "outer_free_after": end - fv.volume_files(data, flash.outer)[1]}
    return bytes(data), figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--code", type=Path, required=True, help="the OVMF code image (OVMF_CODE_4M.fd)")
    parser.add_argument("--output", type=Path, required=True, help="where the new flash image goes")
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD,
                        help="the efi build holding the images the package's .inf files name")
    args = parser.parse_args()
    try:
        flash, figures = build_flash(args.code.read_bytes(), package_modules(args.build_dir))
    except (BuildError, ValueError, lzma.LZMAError, OSError) as error:
        print("volume: %s" % error, file=sys.stderr)
        return 1
    problems = volume_check.verify(flash)
    if problems:
        print("volume: the built image fails the verifier, not written:\n  " + "\n  ".join(problems), file=sys.stderr)
        return 1
    args.output.write_bytes(flash)
    for name, value in figures.items():
        print("%s: %d" % (name, value))
    return 0


if __name__ == "__main__":
    sys.exit(main())
