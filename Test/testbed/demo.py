"""The demo: boots TolvaneService in OVMF under QEMU over a TFTP directory and
prints what the driver delivers to a caller: the configuration fetch with its
time, the entry count, every entry with its value and each numbered file with
its size.

By default it builds the firmware images (CMake preset efi) and serves
Examples/ for machine ABCD1234 with QEMU's own TFTP server; --server tftpd-hpa
or --server dnsmasq serves it with that server on a private tap network
instead (root only). --stock runs the package alone on stock OVMF instead of
the test runner: the UEFI Shell writes the Driver#### options of the network
companion and the service, and at the next boot the field tool fetches,
lists the entries and downloads file 0 (loader_shell.py). Exit status 0 when the
fetch succeeded and the firmware ran the whole script, 1 otherwise. Guarded like every test (guard.py): Ctrl-C
ends QEMU and the servers with it. Needs qemu-system-x86, ovmf, cmake, ninja,
clang and lld (and tftpd-hpa or dnsmasq-base for those servers).

    PYTHONPATH=Test python3 -m testbed.demo [--tftp-dir DIR] [--machine ID] [--server qemu|tftpd-hpa|dnsmasq]
"""

import argparse
import shutil
import subprocess
import sys
from pathlib import Path

from . import boot, facts, guard, harness, loader_shell, settings, tap, transcripts, trees

SERVERS = ("qemu", "tftpd-hpa", "dnsmasq")


def build_images(build_dir):
    """Configures (when needed) and builds the firmware images; stops on failure."""
    if not (build_dir / "build.ninja").exists():
        if build_dir == facts.DEFAULT_BUILD:
            configure = ["cmake", "--preset", "efi"]
        else:
            configure = ["cmake", "-S", str(facts.REPOSITORY), "-B", str(build_dir), "-G", "Ninja",
                         "--toolchain", str(facts.REPOSITORY / "cmake" / "UefiToolchain.cmake"),
                         "-DCMAKE_BUILD_TYPE=MinSizeRel"]
        run_quietly(configure)
    run_quietly(["cmake", "--build", str(build_dir)])


def run_quietly(command):
    """Runs a build step; shows its output and stops only when it fails."""
    result = subprocess.run(command, cwd=facts.REPOSITORY, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        sys.stdout.write(result.stdout.decode(errors="replace"))
        raise SystemExit("build step failed: " + " ".join(command))


def demo_script(tree, machine):
    return "\n".join([
        "scenario demo",
        "load-driver",
        "publish-pxe %d demo" % tree.nic,
        "fetch %s %s" % (tree.address, machine),
        "entries",
        "files",
    ]) + "\n"


def default_choices(network):
    choices = {key: default for key, (default, _) in settings.BOOT_CHOICES.items()}
    choices["network"] = network
    return choices


def stock_demo(build_dir, tftp_dir, machine, timeout):
    """The stock machine: two boots, no runner (loader shell); prints the field tool's lines; the exit status."""
    tree = trees.Tree("demo", 1, source=tftp_dir)
    block = loader_shell.Block("demo", ["tolvane.efi fetch %s %s" % (facts.SERVER, machine), "tolvane.efi entries",
                                        "tolvane.efi file 0"], [])
    print("TolvaneService on stock OVMF: Driver0000 the network companion, Driver0001 the service; machine %s, "
          "TFTP directory %s, QEMU's own server at %s" % (machine, tftp_dir, facts.SERVER), flush=True)
    choices = dict(default_choices("user"), loader="shell", firmware="plain-q35")
    result = boot.boot(build_dir, build_dir / "stock-demo", [block], [tree], timeout, choices)
    lines = result.blocks.get("demo", [])
    for line in lines:
        print("  " + line)
    print("%d boots took %.0f s" % (result.boots, result.seconds))
    problems = result.problems + ["left the test network: " + leak for leak in result.leaks]
    for problem in problems:
        print(problem)
    fetched = any(line.startswith("FetchConfiguration: 0x0,") for line in lines)
    if not fetched:
        print("the driver did not deliver the configuration of %s" % machine)
    return 0 if fetched and not problems else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tftp-dir", type=Path, default=facts.REPOSITORY / "Examples",
                        help="directory served by TFTP (rivari.ini and numbered files); default Examples/")
    parser.add_argument("--machine", default=facts.EXAMPLE_MACHINE,
                        help="machine identifier, up to 8 characters; default " + facts.EXAMPLE_MACHINE)
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD, help="firmware build directory; default build/efi")
    parser.add_argument("--no-build", action="store_true", help="use the images in --build-dir as they are")
    parser.add_argument("--server", choices=SERVERS, default="qemu",
                        help="TFTP server: QEMU's own (default), or tftpd-hpa or dnsmasq on a private tap network (root)")
    parser.add_argument("--stock", action="store_true",
                        help="the package alone on stock OVMF: Driver#### options written by the UEFI Shell, "
                             "the field tool in place of the test runner (QEMU's server only)")
    parser.add_argument("--timeout", type=int, default=180, help="seconds before QEMU is stopped")
    args = parser.parse_args()

    machine = args.machine
    if not machine or len(machine) > 8 or not machine.isascii() or any(c.isspace() for c in machine):
        parser.error("--machine takes 1 to 8 ASCII characters without blanks")
    tftp_dir = args.tftp_dir.resolve()
    if not tftp_dir.is_dir():
        parser.error("--tftp-dir %s is not a directory" % tftp_dir)
    if args.stock and args.server != "qemu":
        parser.error("--stock runs with QEMU's own server")
    network = "user" if args.server == "qemu" else "tap"
    where = guard.enter()
    if network == "tap" and tap.unavailable_reason(where) is not None:
        parser.error("--server %s: %s" % (args.server, tap.unavailable_reason(where)))
    build_dir = args.build_dir.resolve()
    if not args.no_build:
        if shutil.which("cmake") is None:
            raise SystemExit("cmake not found: install cmake, ninja-build, clang and lld, or pass --no-build")
        build_images(build_dir)
    if args.stock:
        return stock_demo(build_dir, tftp_dir, machine, args.timeout)

    tree = trees.Tree("demo", 1, (args.server,), source=tftp_dir)
    if network == "tap":
        trees.place_in_tap_boot(tree, [])
        where = "%s at %s on a private tap network" % (args.server, tree.address)
    else:
        where = "QEMU's own at %s" % tree.address
    work = build_dir / "firmware-demo"
    print("TolvaneService in OVMF: machine %s, TFTP directory %s, server %s" % (machine, tftp_dir, where), flush=True)
    result = boot.boot(build_dir, work, demo_script(tree, machine), [tree], args.timeout, default_choices(network))
    _, blocks = transcripts.split_blocks(result.transcript)
    lines = blocks.get("demo", [])
    for line in lines:
        print("  " + line)
    harness.report_block_sizes([tree], work)
    fetched = any(line.startswith("fetch ") and ": EFI_SUCCESS " in line for line in lines)
    finished = result.finished()
    print("boot and run took %.0f s" % result.seconds)
    if not finished:
        print("the firmware did not finish the run (QEMU %s); console tail:" % result.qemu_state())
        for line in result.console.splitlines()[-15:]:
            print("    " + line)
    if not fetched:
        print("the driver did not deliver the configuration of %s" % machine)
    for leak in result.leaks:
        print("left the test network: " + leak)
    return 0 if fetched and finished and not result.leaks else 1


if __name__ == "__main__":
    sys.exit(main())
