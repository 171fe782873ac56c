"""The firmware-volume scenarios: the drivers built into OVMF's DXE volume, no load option, nothing else loading them.

Each scenario is one boot of a flash image the volume builder made from Debian's OVMF (built and verified once
per run, volume_boot.py), with one virtio-net card in no boot option and nothing of the test bed running
(the only driver file on a disk is the companion copy that companion-and-service loads by hand at its end,
to show a second copy leaves):
  - the disks' boot programs (the caller example, signed or not) start as the first boot options;
  - the Shell the firmware falls back to runs startup.nsh: the scenario's commands after "== NAME".
The console from the boot manager's first line to the Shell's shutdown, without the firmware's countdown and
with the Shell's handle numbers blanked, is compared with Test/Firmware/Volume/NAME.txt. Exit status 0 when
every scenario passed. Python standard library, openssl and sbsigntool (Secure Boot rows).

    PYTHONPATH=Test python3 -m testbed.volume_scenarios [--build-dir DIR] [--only NAME]
"""

import argparse
import difflib
import re
import shutil
import sys
import tempfile
import time
from pathlib import Path

from . import facts, firmware, guard, volume, volume_boot, volume_check

EXPECTED_DIR = facts.REPOSITORY / "Test" / "Firmware" / "Volume"
SERVICE_PROTOCOL = "12345678-FC25-4C1C-B97C-B31186064990"
COMPANION_IMAGE = "TolvaneNetworkSetup.efi"
HANDLE_NUMBER = re.compile(r"^( *)[0-9A-F]+: ")
# The firmware's countdown and the Shell's start-up lines vary from boot to boot.
NOISE = ("to skip startup.nsh", "Press ESC in", "UEFI Interactive Shell", "EDK II", "UEFI v2", "Mapping table",
         "Alias(s):", "Shell> fs0:")
# The Shell's mapping table (its disk signature varies); the field tool's device paths are indented less.
MAPPING_LINE = re.compile(r"^ {4,}PciRoot\(")
# After a boot program returns success the firmware opens its setup menu: the boot ends there. Without a
# startup.nsh, so does a boot that falls back to the Shell after its boot programs failed.
SETUP_MENU = 'starting Boot0000 "UiApp"'


FETCH = ["tolvane.efi check 10.0.2.2", "echo exit %lasterror%",
         "tolvane.efi fetch 10.0.2.2 ABCD1234", "echo exit %lasterror%",
         "tolvane.efi entries",
         "tolvane.efi file 0 fs0:\\file0.bin", "echo exit %lasterror%",
         "comp fs0:\\file0.bin fs0:\\ABCD1234.0"]
# A second companion from the disk while the one from the volume is resident: it must leave, harmlessly.
SECOND_LOAD = ["load fs0:\\" + COMPANION_IMAGE, "tolvane.efi check 10.0.2.2", "echo exit %lasterror%"]


class Scenario:
    """
    One boot: NAME, the firmware KIND, the package modules in the volume (by BASE_NAME), the boot programs
    on the disks in boot order (image, signed), the files beside them, and the Shell's commands.
    """

    def __init__(self, name, kind, modules, programs, files, commands):
        self.name = name
        self.kind = kind
        self.modules = modules
        self.programs = programs
        self.files = files
        self.commands = commands


SCENARIOS = [
    # The card is in no boot option and nothing but the companion connects it: the caller as the first boot
    # option and the field tool from the Shell both fetch.
    Scenario("companion-and-service", "plain", ("TolvaneNetworkSetup", "TolvaneService"),
             [], ["tolvane.efi", facts.CALLER_IMAGE, COMPANION_IMAGE, "ABCD1234.0"],
             ["dh -p " + SERVICE_PROTOCOL, "bcfg driver dump"] + FETCH + [facts.CALLER_IMAGE] + SECOND_LOAD),
    Scenario("caller-boot-option", "plain", ("TolvaneNetworkSetup", "TolvaneService"),
             [(facts.CALLER_IMAGE, False)], [], None),
    Scenario("service-alone", "plain", ("TolvaneService",), [], [],
             ["dh -p " + SERVICE_PROTOCOL, "bcfg driver dump"]),
    # Secure Boot on and enforcing: the drivers in the volume run unsigned; the unsigned caller on the first
    # disk is refused, the signed one on the second fetches. The firmware refuses its own Shell.
    Scenario("secure-boot", "secure-boot", ("TolvaneNetworkSetup", "TolvaneService"),
             [(facts.CALLER_IMAGE, False), (facts.CALLER_IMAGE, True)], [], None),
]


def shell_script(scenario):
    return "".join(line + "\r\n" for line in ["fs0:", "echo == " + scenario.name] + scenario.commands + ["reset -s"])


def lay_disks(scenario, build_dir, work):
    """The disks' folders: one per boot program (the first also holds the files and startup.nsh)."""
    disks = []
    with tempfile.TemporaryDirectory(prefix="tolvane-keys-") as keys:
        trusted = firmware.test_keys(keys)[0] if any(signed for _, signed in scenario.programs) else None
        for number, (image, signed) in enumerate(scenario.programs or [(None, False)]):
            fat = volume_boot.new_work(work / ("disk-%d" % number))
            if image is not None:
                target = fat / "EFI" / "BOOT" / "BOOTX64.EFI"
                target.parent.mkdir(parents=True)
                if signed:
                    firmware.sign(trusted, build_dir / image, target)
                else:
                    shutil.copy(build_dir / image, target)
            disks.append(fat)
    for name in scenario.files:
        shutil.copy(build_dir / name if (build_dir / name).exists() else facts.EXAMPLES / name, disks[0] / name)
    if scenario.commands is not None:
        (disks[0] / "startup.nsh").write_text(shell_script(scenario))
    return disks


def transcript(text, scenario):
    """The compared lines: from the boot manager's first line to the Shell's shutdown, noise left out."""
    lines = volume_boot.console_lines(text)
    start = next((index for index, line in enumerate(lines) if "BdsDxe:" in line), len(lines))
    got = ["== " + scenario.name]
    for line in lines[start:]:
        if line.endswith("> reset -s") or SETUP_MENU in line:
            break
        if line and not any(noise in line for noise in NOISE) and not MAPPING_LINE.match(line):
            got.append(HANDLE_NUMBER.sub(r"\1..: ", line))
    return got


def run_scenario(scenario, build_dir, work_root, timeout):
    """One scenario's boot; (failure lines, seconds the boot took)."""
    flash = volume_boot.flash_image(scenario.kind, build_dir, work_root / "images", modules=scenario.modules)
    work = work_root / scenario.name
    if work.exists():
        shutil.rmtree(work)
    disks = lay_disks(scenario, build_dir, work)
    firmware.new_variable_store(scenario.kind, work / "OVMF_VARS.fd")
    started = time.monotonic()
    stop = (SETUP_MENU,) if scenario.commands is not None else (SETUP_MENU, "EFI Internal Shell")
    text, leaks = volume_boot.boot(scenario.kind, flash, work, disks, timeout, stop=stop)
    seconds = time.monotonic() - started
    got = transcript(text, scenario)
    (work / "transcript.txt").write_text("".join(line + "\n" for line in got))
    expected = (EXPECTED_DIR / (scenario.name + ".txt")).read_text().splitlines()
    problems = list(difflib.unified_diff(expected, got, "expected", "console", lineterm="", n=2))
    return problems + ["left the test network: " + finding for finding in leaks], seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD)
    parser.add_argument("--work-dir", type=Path, help="default: BUILD_DIR/firmware-volume")
    parser.add_argument("--only", action="append", default=[], help="run only this scenario (repeatable)")
    parser.add_argument("--timeout", type=int, default=240, help="seconds before QEMU is stopped, per boot")
    args = parser.parse_args()
    build_dir = args.build_dir.resolve()
    work_root = (args.work_dir or build_dir / "firmware-volume").resolve()
    missing = sorted(set(firmware.missing_tools("plain") + firmware.missing_tools("secure-boot")))
    if shutil.which("qemu-system-x86_64") is None or missing:
        raise SystemExit("missing: qemu-system-x86_64 (apt install qemu-system-x86) " + ", ".join(missing))
    guard.enter()
    shutil.rmtree(work_root / "images", ignore_errors=True)  # built once per run, shared by its boots
    scenarios = [scenario for scenario in SCENARIOS if not args.only or scenario.name in args.only]
    failures = 0
    for scenario in scenarios:
        try:
            problems, seconds = run_scenario(scenario, build_dir, work_root, args.timeout)
        except (volume.BuildError, volume_check.VerifyError, RuntimeError, OSError, ValueError) as error:
            problems, seconds = [str(error)], 0
        print("%s firmware volume: %s (%.0f s)" % ("FAIL" if problems else "PASS", scenario.name, seconds))
        for line in problems:
            print("  " + line)
        failures += 1 if problems else 0
    print("%d firmware-volume scenarios passed, %d failed" % (len(scenarios) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
