"""A generated fleet: one rivari.ini with a section of about 480 bytes per machine, and the map of its clients."""
from __future__ import annotations

import ipaddress
from pathlib import Path

SECTION_BYTES = 480


def machine_identifier(index: int) -> str:
    """The eight-character identifier of machine `index`: upper-case hexadecimal."""
    return f"{0xA0000000 + index:08X}"


def client_address(index: int, first: str = "10.0.0.0") -> str:
    """The IPv4 address of machine `index`, counted from `first` + 1."""
    return str(ipaddress.IPv4Address(first) + index + 1)


def section(identifier: str, index: int) -> str:
    """A section of about SECTION_BYTES bytes in the shape of Examples/rivari.ini."""
    lines = [
        f"[{identifier}]",
        f'0 = "Fleet machine {index:05d}"          ; display name',
        f"1 = boot/kernel-6.1-{index % 7}.efi",
        "2 = splash.bmp",
        '3 = "console=ttyS0,115200 quiet loglevel=3"',
        f"4 = 2024-05-{1 + index % 28:02d}",
        f"5 = rack-{index // 40:03d}-slot-{index % 40:02d}",
        f'6 = "http://10.0.2.2/fleet/{identifier}/image"',
        "7 = profile-standard",
        "# maintenance window and owner",
    ]
    text = "\n".join(lines) + "\n"
    padding = SECTION_BYTES - len(text) - len("8 = \n\n")
    return text + "8 = " + "x" * max(padding, 1) + "\n\n"


def write_fleet(folder: Path, machines: int, first_address: str = "10.0.0.0") -> tuple[Path, Path]:
    """Writes folder/rivari.ini and folder/map.csv for `machines` machines; returns both paths."""
    folder.mkdir(parents=True, exist_ok=True)
    configuration = folder / "rivari.ini"
    configuration.write_text("; generated fleet\n\n" + "".join(
        section(machine_identifier(index), index) for index in range(machines)))
    client_map = folder / "map.csv"
    client_map.write_text("".join(
        f"{machine_identifier(index)},{client_address(index, first_address)}\n" for index in range(machines)))
    return configuration, client_map


if __name__ == "__main__":
    import argparse

    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folder", type=Path)
    parser.add_argument("machines", type=int)
    parser.add_argument("--first-address", default="10.0.0.0")
    arguments = parser.parse_args()
    write_fleet(arguments.folder, arguments.machines, arguments.first_address)
