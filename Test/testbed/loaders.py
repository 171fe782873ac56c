"""Who starts the service in a boot: the boot settings "loader" and "drivers", and the table of loaders.

    loader runner       the test runner is the disk's boot program and loads the service (the default;
                        with "driver load-option" the runner's script writes Driver#### options instead)
    loader shell        the UEFI Shell writes a Driver#### option per image of "drivers" with bcfg; at
                        the next start the firmware loads them and the Shell runs the scenarios' commands
    loader boot-option  the (signed) runner writes the Driver#### options; at the next start the runner is
                        gone, the firmware loads the drivers and starts the caller example as the disk's
                        boot program
    loader linux        Debian's Linux runs Deploying.md's efibootmgr lines; at the next start the
                        firmware loads the drivers and the Shell runs the scenarios' commands
    loader firmware-volume
                        no load option: the drivers are built into the firmware's DXE volume, the
                        disks' boot programs start, then the Shell runs the scenarios' commands
    drivers IMAGE ...   the images the shell and boot-option loaders write Driver#### options for, in
                        load order, and that firmware-volume builds into the volume (default: the
                        network companion, then the service)
    boot-programs IMAGE ...
                        firmware-volume: one disk per image, in boot order, with the image as its boot
                        program; signed:IMAGE signed with the firmware's test key (default: none, one
                        disk with no boot program)

A loader is a module with:

    SERVES_FOLDER_TREES  True when its scripts name no trees: every tree of the scenario folder is served
    compose(runs)        the plan of one boot from its runs (the runner's script, the Shell's blocks)
    boot(machine, plan)  lays out machine.fat, starts the machine (boot.Machine.start) as often as it
                         needs, and fills machine.result: blocks (run name: lines), transcript, done,
                         problems

and, when its boots need what this machine may lack:

    prepare()            fetches it while the package source can be reached (before the guard's
                         namespaces, which have no route out)
    skip_reason()        why its boots cannot run here, or None

A new loader is one such module and its row in LOADERS.
"""

import importlib

from . import facts

LOADERS = {
    "runner": "loader_runner",
    "shell": "loader_shell",
    "boot-option": "loader_boot_option",
    "linux": "loader_linux",
    "firmware-volume": "loader_firmware_volume",
}
RUNNER = "runner"
DEFAULT_DRIVERS = " ".join([facts.COMPANION_IMAGE, facts.DRIVER_IMAGE])


def parse_drivers(values):
    """The canonical text of a drivers line: image names of the efi build."""
    if not values:
        raise ValueError("drivers takes one or more images, in load order")
    for value in values:
        if not value.endswith(".efi") or "/" in value or "\\" in value:
            raise ValueError("not an image name of the build: %r" % value)
    return " ".join(values)


NO_BOOT_PROGRAM = "none"
SIGNED = "signed:"


def parse_boot_programs(values):
    """The canonical text of a boot-programs line: none, or image names of the build, each maybe signed:."""
    if values == [NO_BOOT_PROGRAM]:
        return NO_BOOT_PROGRAM
    if not values:
        raise ValueError("boot-programs takes none, or one or more images in boot order")
    parse_drivers([value.removeprefix(SIGNED) for value in values])
    return " ".join(values)


BOOT_CHOICE = {"loader": (RUNNER, tuple(LOADERS)), "drivers": (DEFAULT_DRIVERS, parse_drivers),
               "boot-programs": (NO_BOOT_PROGRAM, parse_boot_programs)}


def module(name):
    return importlib.import_module("." + LOADERS[name], __package__)


def of(choices):
    """The loader module of a boot's choices."""
    return module(choices.get("loader", RUNNER))


def prepare(runs):
    """Lets each loader of RUNS fetch what its boots need; call it outside the guard's namespaces."""
    for name in sorted({run.choices.get("loader", RUNNER) for run in runs}):
        if hasattr(module(name), "prepare"):
            module(name).prepare()


def skip_reason(choices):
    """Why a boot of these choices cannot run here, as its loader says, or None."""
    loader = of(choices)
    return loader.skip_reason() if hasattr(loader, "skip_reason") else None


def drivers(choices):
    return choices.get("drivers", DEFAULT_DRIVERS).split()
