"""Which firmware build a boot runs, on which QEMU machine, and the images laid on its disk.

Builds of Debian's OVMF: "plain" (Secure Boot off, QEMU's default pc machine),
"plain-q35" (the same on the q35 machine, whose PCI layout the stock-machine
transcripts' device paths show) and "secure-boot" (q35 with SMM), whose
variable store enrols the package's snakeoil test certificate in PK, KEK and
db, so Secure Boot is on and enforcing. For a secure-boot boot the
runner and the driver are signed with that test key (decrypted into a
temporary folder, never into the tree), and beside the signed driver in
\\EFI\\Tolvane lie the copies the firmware must refuse:

  Unsigned.efi            the image as built
  TamperedText.efi        the signed image with one byte of .text changed
  TamperedData.efi        the signed image with one byte of .data changed
  TamperedSignature.efi   the signed image with one byte of its signature changed
  WrongKey.efi            the image signed with a key the firmware does not know

The boot setting "firmware plain|plain-q35|secure-boot" picks the build. Python standard library, openssl and
sbsigntool only.
"""

import shutil
import struct
import subprocess
import tempfile
from pathlib import Path

from . import facts

SIGN_SCRIPT = facts.REPOSITORY / "scripts" / "sign-image.sh"
OVMF = Path("/usr/share/OVMF")
TEST_KEY = Path("/usr/share/ovmf/PkKek-1-snakeoil.key")
TEST_CERTIFICATE = Path("/usr/share/ovmf/PkKek-1-snakeoil.pem")
TEST_KEY_PASSPHRASE = "snakeoil"
DRIVER_FOLDER = facts.IMAGE_FOLDER
DRIVER_IMAGE = facts.DRIVER_IMAGE


class Firmware:
    """One OVMF build: code and variable-store template, and the QEMU machine options it runs on."""

    def __init__(self, code, variables, machine):
        self.code = code
        self.variables = variables
        self.machine = machine


FIRMWARES = {
    "plain": Firmware(OVMF / "OVMF_CODE_4M.fd", OVMF / "OVMF_VARS_4M.fd", []),
    "plain-q35": Firmware(OVMF / "OVMF_CODE_4M.fd", OVMF / "OVMF_VARS_4M.fd", ["-machine", "q35"]),
    # The Secure Boot build keeps its variables in SMM: without SMM the firmware hangs silently.
    "secure-boot": Firmware(OVMF / "OVMF_CODE_4M.secboot.fd", OVMF / "OVMF_VARS_4M.snakeoil.fd",
                            ["-machine", "q35,smm=on", "-global", "driver=cfi.pflash01,property=secure,value=on",
                             "-global", "ICH9-LPC.disable_s3=1"]),
}


# boot.txt "firmware plain|plain-q35|secure-boot": the firmware build a boot runs.
BOOT_CHOICE = {"firmware": ("plain", tuple(FIRMWARES))}
SECURE_BOOT = "secure-boot"


def missing_tools(kind):
    """What the firmware kind needs and this machine lacks, as install hints."""
    firmware = FIRMWARES[kind]
    missing = ["%s (apt install ovmf)" % path for path in (firmware.code, firmware.variables) if not path.exists()]
    if kind == SECURE_BOOT:
        missing += ["%s (apt install ovmf)" % path for path in (TEST_KEY, TEST_CERTIFICATE) if not path.exists()]
        missing += ["%s (apt install %s)" % (tool, package)
                    for tool, package in (("sbsign", "sbsigntool"), ("sbverify", "sbsigntool"), ("openssl", "openssl"))
                    if shutil.which(tool) is None]
    return missing


def new_variable_store(kind, path):
    """A fresh copy of the kind's variable store at path; boots of one group share it."""
    shutil.copyfile(FIRMWARES[kind].variables, path)


def qemu_firmware_arguments(kind, variable_store, code=None):
    """The machine options and the two flash drives (code read-only: CODE or the kind's own; the store writable)."""
    firmware = FIRMWARES[kind]
    return firmware.machine + [
        "-drive", "if=pflash,format=raw,unit=0,readonly=on,file=%s" % (code or firmware.code),
        "-drive", "if=pflash,format=raw,unit=1,file=%s" % variable_store,
    ]


class SigningKey:
    """A key file and its certificate."""

    def __init__(self, key, certificate):
        self.key = key
        self.certificate = certificate


def test_keys(folder):
    """(the firmware's test key, a key it does not know), written into folder."""
    folder = Path(folder)
    trusted = SigningKey(folder / "snakeoil.key", TEST_CERTIFICATE)
    run(["openssl", "pkey", "-in", str(TEST_KEY), "-passin", "pass:" + TEST_KEY_PASSPHRASE, "-out", str(trusted.key)])
    wrong = SigningKey(folder / "wrong.key", folder / "wrong.pem")
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=Tolvane wrong key",
         "-keyout", str(wrong.key), "-out", str(wrong.certificate)])
    return trusted, wrong


def run(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        raise SystemExit("%s failed:\n%s" % (" ".join(command), result.stdout))


def sign(key, source, target):
    """Signs source into target with the same script the firmware build uses."""
    run([str(SIGN_SCRIPT), str(key.key), str(key.certificate), str(source), str(target)])


def pe_layout(data):
    """({section name: (file offset, size)}, (certificate table offset, size)) of a PE32+ image."""
    header = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, header + 6)[0]
    optional_size = struct.unpack_from("<H", data, header + 20)[0]
    optional = header + 24
    # PE32+: the data directories start 112 bytes into the optional header; the certificate table is entry 4.
    certificate = struct.unpack_from("<II", data, optional + 112 + 4 * 8)
    table = optional + optional_size
    layout = {}
    for index in range(sections):
        entry = table + 40 * index
        name = data[entry:entry + 8].rstrip(b"\0").decode()
        raw_size, raw_offset = struct.unpack_from("<II", data, entry + 16)
        layout[name] = (raw_offset, raw_size)
    return layout, certificate


def flip_byte(data, offset):
    changed = bytearray(data)
    changed[offset] ^= 0x01
    return bytes(changed)


def tampered_in_section(signed, name):
    """The signed image with the middle byte of section name changed."""
    offset, size = pe_layout(signed)[0][name]
    return flip_byte(signed, offset + size // 2)


def tampered_in_signature(signed):
    """The signed image with a byte near the end of its signature (the signature value) changed."""
    offset, size = pe_layout(signed)[1]
    length = struct.unpack_from("<I", signed, offset)[0]
    return flip_byte(signed, offset + min(length, size) - 16)


def place_image(kind, keys, source, target):
    """Puts image SOURCE at TARGET as firmware KIND runs it: signed with the trusted key of KEYS under Secure Boot."""
    target.parent.mkdir(parents=True, exist_ok=True)
    if kind == SECURE_BOOT:
        sign(keys[0], source, target)
    else:
        shutil.copyfile(source, target)


def lay_out_images(kind, runner, driver, applications, fat):
    """
    Puts the runner (as the removable-media boot program), the driver images
    and the applications the runner starts on the FAT folder for the firmware
    kind.
    """
    boot = fat / "EFI" / "BOOT"
    folder = fat.joinpath(*DRIVER_FOLDER)
    boot.mkdir(parents=True, exist_ok=True)
    folder.mkdir(parents=True, exist_ok=True)
    if kind != SECURE_BOOT:
        shutil.copyfile(runner, boot / "BOOTX64.EFI")
        shutil.copyfile(driver, folder / DRIVER_IMAGE)
        for application in applications:
            shutil.copyfile(application, folder / Path(application).name)
        return
    with tempfile.TemporaryDirectory(prefix="tolvane-keys-") as keys:
        trusted, wrong = test_keys(keys)
        sign(trusted, runner, boot / "BOOTX64.EFI")
        sign(trusted, driver, folder / DRIVER_IMAGE)
        for application in applications:
            sign(trusted, application, folder / Path(application).name)
        sign(wrong, driver, folder / "WrongKey.efi")
    signed = (folder / DRIVER_IMAGE).read_bytes()
    copies = {
        "Unsigned.efi": Path(driver).read_bytes(),
        "TamperedText.efi": tampered_in_section(signed, ".text"),
        "TamperedData.efi": tampered_in_section(signed, ".data"),
        "TamperedSignature.efi": tampered_in_signature(signed),
    }
    for name, data in copies.items():
        (folder / name).write_bytes(data)
