"""The volume builder and its verifier on Debian's OVMF: what the builder refuses, and each fault the verifier catches.

One flash image is built with the package's drivers (from the efi build) and checked clean; each verifier
row then breaks one thing the firmware needs (OVMF faults, hangs or skips the file in silence on each) and
expects the verifier to name it; each builder row hands the builder an input it must refuse, with the reason.

    PYTHONPATH=Test python3 -m testbed.volume_test [--build-dir DIR]
"""

import argparse
import struct
import sys
import tempfile
import unittest
import uuid
from pathlib import Path

from . import facts, firmware, volume, volume_check
from . import volume_format as fv

BUILD_DIR = facts.DEFAULT_BUILD
DXE_CORE_FILE = uuid.UUID("d6a2cb7f-6a18-4e2f-b43b-9920a733700a")  # a file OVMF's DXE volume holds


def pe_image(magic=volume.PE32_PLUS_MAGIC, subsystem=volume.SUBSYSTEM_BOOT_SERVICE_DRIVER, size=0x200):
    """A made-up PE image of SIZE bytes: DOS header, PE signature, x86-64 machine, MAGIC and SUBSYSTEM."""
    image = bytearray(size)
    image[:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x40)
    image[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<H", image, 0x44, volume.PE_MACHINE_X64)
    struct.pack_into("<H", image, 0x58, magic)
    struct.pack_into("<H", image, 0x58 + 68, subsystem)
    return bytes(image)


class Built:
    """The flash image built once for every row, taken apart again."""

    flash = None
    opened = None


def setUpModule():
    code = firmware.FIRMWARES["plain"].code.read_bytes()
    Built.flash, _ = volume.build_flash(code, volume.package_modules(BUILD_DIR))
    Built.opened = volume.OpenedFlash(Built.flash)


def dxe_problems(blob):
    return volume_check.volume_problems(blob, Built.opened.dxe.offset, "dxe", [])


def added_file(blob, guid):
    files, _ = fv.volume_files(blob, Built.opened.dxe)
    return next(entry for entry in files if entry.name == guid)


def lzma_size_field():
    """Where the compressed section's LZMA header keeps the uncompressed size in the flash image."""
    _, data_offset, _ = fv.guided_section(Built.opened.data, Built.opened.section)
    return Built.opened.section.offset + data_offset + 5


def break_header_checksum(blob, modules):
    blob[added_file(blob, modules[1].guid).offset + 16] ^= 0x01


def duplicate_guid(blob, modules):
    """The companion's file renamed to the service's GUID, its header checksum made right again."""
    entry = added_file(blob, modules[0].guid)
    blob[entry.offset:entry.offset + 16] = modules[1].guid.bytes_le
    blob[entry.offset + 16] = 0
    header = bytearray(blob[entry.offset:entry.offset + entry.header_size])
    header[17] = header[23] = 0
    blob[entry.offset + 16] = (-fv.sum8(header)) & 0xFF


def mark_deleted(blob, modules):
    blob[added_file(blob, modules[1].guid).offset + 23] &= ~fv.FILE_DELETED & 0xFF


def stray_byte_in_free_space(blob, modules):
    _, free = fv.volume_files(blob, Built.opened.dxe)
    blob[free + 4096] = 0x00


# (row, how the decompressed DXE volume is broken, what the verifier must say)
DXE_ROWS = [
    ("one wrong FFS header checksum is named", break_header_checksum, "header checksum"),
    ("a file GUID twice in the volume is named", duplicate_guid, "appears twice"),
    ("a file marked deleted is named", mark_deleted, "is not a valid file's"),
    ("a stray byte in the free space is named", stray_byte_in_free_space, "not erased"),
]

# (row, the uncompressed size the LZMA header claims, given the true one; what the verifier must say)
LZMA_ROWS = [
    ("an LZMA header saying size unknown is named", lambda size: fv.LZMA_SIZE_UNKNOWN, "size unknown"),
    ("an LZMA header one byte short is named", lambda size: size - 1, "LZMA header says"),
]


class VerifierRows(unittest.TestCase):
    def test_built_image_passes(self):
        report = []
        self.assertEqual(volume_check.verify(Built.flash, report), [])
        self.assertEqual(len(report), 3, report)  # the outer volume and the two it compresses

    def test_dxe_faults(self):
        modules = volume.package_modules(BUILD_DIR)
        for row, breaker, expected in DXE_ROWS:
            with self.subTest(row):
                blob = bytearray(Built.opened.blob)
                self.assertEqual(dxe_problems(blob), [])
                breaker(blob, modules)
                problems = dxe_problems(blob)
                self.assertTrue(any(expected in problem for problem in problems), problems)

    def test_lzma_faults(self):
        where = lzma_size_field()
        (true_size,) = struct.unpack_from("<Q", Built.flash, where)
        self.assertEqual(true_size, len(Built.opened.blob))
        for row, claimed, expected in LZMA_ROWS:
            with self.subTest(row):
                flash = bytearray(Built.flash)
                struct.pack_into("<Q", flash, where, claimed(true_size))
                problems = volume_check.verify(flash)
                self.assertTrue(any(expected in problem for problem in problems), problems)

    def test_fault_inside_the_compressed_volume_is_found_from_the_flash(self):
        opened = volume.OpenedFlash(Built.flash)
        break_header_checksum(opened.blob, volume.package_modules(BUILD_DIR))
        problems = volume_check.verify(opened.closed())
        self.assertTrue(any("header checksum" in problem for problem in problems), problems)


class BuilderRows(unittest.TestCase):
    def refusal(self, modules):
        opened = volume.OpenedFlash(firmware.FIRMWARES["plain"].code.read_bytes())
        with self.assertRaises(volume.BuildError) as caught:
            volume.add_files(opened.blob, opened.dxe, modules)
        return str(caught.exception)

    def module(self, folder, image, guid=None, name="Made-up"):
        path = Path(folder) / (name + ".efi")
        path.write_bytes(image)
        return volume.Module(guid or uuid.uuid4(), name, fv.depex_bytes([]), path)

    def test_refusals(self):
        free = Built.opened.dxe.length  # more than the volume's free space, whatever it holds
        rows = [
            ("a full volume is refused", [pe_image(size=free)], None, "the volume is full"),
            ("a GUID already in the volume is refused", [pe_image()], DXE_CORE_FILE, "already in the volume"),
            ("the same GUID twice is refused", [pe_image(), pe_image()], uuid.uuid4(), "already in the volume"),
            ("a PE32 image is refused", [pe_image(magic=0x10B)], None, "not a PE32+"),
            ("an application is refused", [pe_image(subsystem=10)], None, "not a boot-service driver"),
            ("a file that is no PE image is refused", [b"\x7fELF" + bytes(60)], None, "no DOS header"),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for row, images, guid, expected in rows:
                with self.subTest(row):
                    modules = [self.module(folder, image, guid, "Made-up%d" % index)
                               for index, image in enumerate(images)]
                    self.assertIn(expected, self.refusal(modules))

    def test_refused_build_leaves_the_volume_unchanged(self):
        opened = volume.OpenedFlash(firmware.FIRMWARES["plain"].code.read_bytes())
        before = bytes(opened.blob)
        with tempfile.TemporaryDirectory() as folder:
            modules = [self.module(folder, pe_image(), name="Fits"), self.module(folder, pe_image(magic=0x10B))]
            with self.assertRaises(volume.BuildError):
                volume.add_files(opened.blob, opened.dxe, modules)
        self.assertEqual(bytes(opened.blob), before)


def main():
    global BUILD_DIR
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD)
    args, rest = parser.parse_known_args()
    BUILD_DIR = args.build_dir.resolve()
    if not firmware.FIRMWARES["plain"].code.exists():
        print("SKIPPED: %s missing (apt install ovmf)" % firmware.FIRMWARES["plain"].code)
        return 77
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
