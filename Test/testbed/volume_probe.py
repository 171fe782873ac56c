"""The dispatch measurement: when each event a volume-dispatched companion could use fires in OVMF.

One boot of OVMF with the package's drivers and the measurement driver TolvaneDispatchProbe.efi in its DXE
volume (dependency expression TRUE, so it watches from the first dispatch round, or with --no-depex none),
one virtio-net card in no boot option, the caller example as the disk's boot program and a startup.nsh for
the Shell the firmware falls back to. The probe writes a "[probe]" line to the serial console each time an
event fires (with the PCI controllers, network-class controllers and Simple Network instances present then);
this prints those lines in console order among the caller's and the Shell's. Python standard library.

    PYTHONPATH=Test python3 -m testbed.volume_probe [--build-dir DIR] [--work-dir DIR] [--no-depex]
"""

import argparse
import shutil
import sys
import uuid
from pathlib import Path

from . import boot, facts, firmware, guard, loader_firmware_volume, loader_shell, nics, trees, volume
from . import volume_format as fv
from . import volume_images

PROBE_GUID = uuid.UUID("8A9AD40E-1362-44B1-85B3-AD65F6D0A904")
PROBE_IMAGE = "TolvaneDispatchProbe.efi"
FIRMWARE = "plain-q35"
MARKERS = ("[probe]", "BdsDxe:", "fetch: ", "== shell", "Shell>", "tolvane.efi")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD)
    parser.add_argument("--work-dir", type=Path, help="default: BUILD_DIR/volume-probe")
    parser.add_argument("--timeout", type=int, default=150)
    parser.add_argument("--no-depex", action="store_true",
                        help="the probe's file without a dependency section (default: TRUE)")
    args = parser.parse_args()
    build_dir = args.build_dir.resolve()
    work = (args.work_dir or build_dir / "volume-probe").resolve()
    boot.check_platform(FIRMWARE)
    guard.enter()
    depex = None if args.no_depex else fv.depex_bytes([])
    probe = volume.Module(PROBE_GUID, "TolvaneDispatchProbe", depex, build_dir / PROBE_IMAGE)
    images = [facts.COMPANION_IMAGE, facts.DRIVER_IMAGE]
    tree = trees.Tree("examples", 1, source=facts.EXAMPLES)
    tree.directory = facts.EXAMPLES
    choices = {"network": "user", "firmware": FIRMWARE, "nic": nics.DEFAULT}
    machine = boot.Machine(build_dir, work / "boot", [tree], args.timeout, choices)
    machine.code = volume_images.flash_image(FIRMWARE, build_dir, work / "images", images, [probe])
    shutil.rmtree(machine.work, ignore_errors=True)
    machine.fat.mkdir(parents=True)
    (machine.fat / "EFI" / "BOOT").mkdir(parents=True)
    (machine.fat / "EFI" / "BOOT" / "BOOTX64.EFI").write_bytes(machine.image(facts.CALLER_IMAGE).read_bytes())
    (machine.fat / facts.FIELD_TOOL_IMAGE).write_bytes(machine.image(facts.FIELD_TOOL_IMAGE).read_bytes())
    (machine.fat / "startup.nsh").write_text("fs0:\r\necho == shell\r\ntolvane.efi check\r\nreset -s\r\n")
    firmware.new_variable_store(FIRMWARE, machine.work / "OVMF_VARS.fd")
    text = machine.start(machine.work / "debug.txt", stop=(loader_firmware_volume.SETUP_MENU,))
    print("boot: %.0f s" % machine.result.seconds)
    for line in loader_shell.console_lines(text):
        if any(marker in line for marker in MARKERS):
            print(line)
    for finding in machine.result.leaks:
        print("left the test network: " + finding)
    return 0


if __name__ == "__main__":
    sys.exit(main())
