#!/usr/bin/env python3
"""Demo: boots TolvaneService in OVMF under QEMU over a TFTP directory and
prints what the driver delivers to a caller: the configuration fetch with its
time, the entry count, every entry with its value and each numbered file with
its size.

By default it builds the firmware images (CMake preset efi) and serves
Examples/ for machine ABCD1234. Exit status 0 when the fetch succeeded and
the firmware ran the whole script, 1 otherwise.
Python standard library only; needs qemu-system-x86, ovmf, cmake, ninja,
clang and lld.
"""

import argparse
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

DEFAULT_BUILD = harness.REPOSITORY / "build" / "efi"


def build_images(build_dir):
    """Configures (when needed) and builds the firmware images; stops on failure."""
    if not (build_dir / "build.ninja").exists():
        if build_dir == DEFAULT_BUILD:
            configure = ["cmake", "--preset", "efi"]
        else:
            configure = ["cmake", "-S", str(harness.REPOSITORY), "-B", str(build_dir), "-G", "Ninja",
                         "--toolchain", str(harness.REPOSITORY / "cmake" / "UefiToolchain.cmake"),
                         "-DCMAKE_BUILD_TYPE=MinSizeRel"]
        run_quietly(configure)
    run_quietly(["cmake", "--build", str(build_dir)])


def run_quietly(command):
    """Runs a build step; shows its output and stops only when it fails."""
    result = subprocess.run(command, cwd=harness.REPOSITORY, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        sys.stdout.write(result.stdout.decode(errors="replace"))
        raise SystemExit("build step failed: " + " ".join(command))


def demo_script(machine):
    return "\n".join([
        "scenario demo",
        "load-driver",
        "publish-pxe 1 demo",
        "fetch %s %s" % (harness.SERVER, machine),
        "entries",
        "files",
    ]) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tftp-dir", type=Path, default=harness.REPOSITORY / "Examples",
                        help="directory served by TFTP (rivari.ini and numbered files); default Examples/")
    parser.add_argument("--machine", default="ABCD1234", help="machine identifier, up to 8 characters; default ABCD1234")
    parser.add_argument("--build-dir", type=Path, default=DEFAULT_BUILD, help="firmware build directory; default build/efi")
    parser.add_argument("--no-build", action="store_true", help="use the images in --build-dir as they are")
    parser.add_argument("--timeout", type=int, default=180, help="seconds before QEMU is stopped")
    args = parser.parse_args()

    machine = args.machine
    if not machine or len(machine) > 8 or not machine.isascii() or any(c.isspace() for c in machine):
        parser.error("--machine takes 1 to 8 ASCII characters without blanks")
    tftp_dir = args.tftp_dir.resolve()
    if not tftp_dir.is_dir():
        parser.error("--tftp-dir %s is not a directory" % tftp_dir)
    build_dir = args.build_dir.resolve()
    if not args.no_build:
        if shutil.which("cmake") is None:
            raise SystemExit("cmake not found: install cmake, ninja-build, clang and lld, or pass --no-build")
        build_images(build_dir)

    tree = harness.Tree(None, "demo", 1, source=tftp_dir)
    work = build_dir / "firmware-demo"
    print("TolvaneService in OVMF: machine %s, TFTP directory %s (the server is %s inside QEMU)"
          % (machine, tftp_dir, harness.SERVER), flush=True)
    transcript, console, code, seconds = harness.boot(build_dir, work, demo_script(machine), [tree], args.timeout)
    _, blocks = harness.split_blocks(transcript)
    lines = blocks.get("demo", [])
    for line in lines:
        print("  " + line)
    fetched = any(line.startswith("fetch ") and ": EFI_SUCCESS " in line for line in lines)
    finished = harness.DONE_LINE in transcript
    print("boot and run took %.0f s" % seconds)
    if not finished:
        print("the firmware did not finish the run (QEMU exit status %d); console tail:" % code)
        for line in console.splitlines()[-15:]:
            print("    " + line)
    if not fetched:
        print("the driver did not deliver the configuration of %s" % machine)
    return 0 if fetched and finished else 1


if __name__ == "__main__":
    sys.exit(main())
