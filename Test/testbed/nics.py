"""Network cards: the boot setting "nic CARD [CARD ...]", one CARD per card of the machine in order.

CARD is MODEL (QEMU's device name) with QEMU's stock option ROM for it (iPXE's EFI driver, Debian's
ipxe-qemu), MODEL:none with no ROM (virtio-net-pci:none is OVMF's own virtio driver, the default), or
MODEL:FILE with that ROM (a name under the ROM folders, such as i82559er:efi-eepro100.rom: the card's
default ROM has no EFI image). The boot's cards take the listed cards in order, the last repeating;
cards listed beyond those the trees need are put in the machine on a network with no server.
"""

from pathlib import Path

ROM_FOLDERS = (Path("/usr/share/qemu"), Path("/usr/lib/ipxe/qemu"))
# QEMU's stock EFI option ROM of each card model.
STOCK_ROMS = {
    "virtio-net-pci": "efi-virtio.rom",
    "e1000": "efi-e1000.rom",
    "e1000e": "efi-e1000e.rom",
    "rtl8139": "efi-rtl8139.rom",
    "vmxnet3": "efi-vmxnet3.rom",
    "pcnet": "efi-pcnet.rom",
    "ne2k_pci": "efi-ne2k_pci.rom",
    "i82559er": None,
}
NO_ROM = "none"
STOCK = "stock"
DEFAULT = "virtio-net-pci:none"


class Card:
    """One card model and its option ROM: "none", "stock" or a ROM file name."""

    def __init__(self, text):
        self.model, _, self.rom = text.partition(":")
        self.rom = self.rom or STOCK

    def rom_path(self):
        """The ROM file QEMU loads, "" for none; raises ValueError when it is not installed."""
        if self.rom == NO_ROM:
            return ""
        name = STOCK_ROMS[self.model] if self.rom == STOCK else self.rom
        if name is None:
            raise ValueError("%s has no stock EFI option ROM: name one (%s:FILE)" % (self.model, self.model))
        for folder in ROM_FOLDERS:
            if (folder / name).exists():
                return str(folder / name)
        raise ValueError("option ROM %s not found in %s (apt install ipxe-qemu)"
                         % (name, " or ".join(map(str, ROM_FOLDERS))))

    def device(self, netdev, mac):
        return "%s,romfile=%s,netdev=%s,mac=%s" % (self.model, self.rom_path(), netdev, mac)


def parse(values):
    """The canonical setting text of the nic line's words; raises ValueError on an unknown model."""
    if not values:
        raise ValueError("nic takes one or more cards: MODEL, MODEL:none or MODEL:ROMFILE")
    for value in values:
        if Card(value).model not in STOCK_ROMS:
            raise ValueError("unknown card model in %r (known: %s)" % (value, ", ".join(STOCK_ROMS)))
    return " ".join(values)


def cards(setting):
    return [Card(text) for text in setting.split()]


def card_of(setting, index):
    """The card of the INDEX-th network card (0 first) of a boot with this setting."""
    listed = cards(setting)
    return listed[min(index, len(listed) - 1)]


def mac_address(nic):
    """The card's MAC address; the runner finds card NIC by its last byte."""
    return "52:54:00:00:10:%02x" % nic


BOOT_CHOICE = {"nic": (DEFAULT, parse)}
