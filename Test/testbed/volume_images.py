"""The flash images the volume builder makes for a run's boots: built once per run, verified, then shared.

flash_image() builds images of the efi build (the package's binary modules, and any extra module) into a
firmware kind's code image, has the verifier check the result and keeps it under the run's work folder, so
every boot of a run that asks for the same kind and modules boots the one image. Python standard library.
"""

from . import firmware, volume, volume_check

# The images this run built: a file left by an earlier run is built again, from this run's images.
BUILT = set()


def package_modules(build_dir, images):
    """The package's binary modules whose images are IMAGES (file names of the efi build), in that order."""
    modules = {module.image.name: module for module in volume.package_modules(build_dir)}
    unknown = [image for image in images if image not in modules]
    if unknown:
        raise volume.BuildError("not an image of the package's binary modules (packaging/edk2): %s"
                                % ", ".join(unknown))
    return [modules[image] for image in images]


def flash_image(kind, build_dir, work_root, images, extra=()):
    """
    The path of KIND's code image with the package's modules of IMAGES and the modules EXTRA in its DXE
    volume, built and verified once per run under WORK_ROOT; raises volume.BuildError or
    volume_check.VerifyError with the reason.
    """
    modules = package_modules(build_dir, images) + list(extra)
    name = "%s-%s.fd" % (kind, "-".join(module.name for module in modules))
    path = work_root / name
    if path in BUILT:
        return path
    flash, figures = volume.build_flash(firmware.FIRMWARES[kind].code.read_bytes(), modules)
    problems = volume_check.verify(flash)
    if problems:
        raise volume_check.VerifyError("%s: %s" % (name, "; ".join(problems)))
    work_root.mkdir(parents=True, exist_ok=True)
    (work_root / (name + ".figures.txt")).write_text("".join("%s: %d\n" % item for item in figures.items()))
    path.write_bytes(flash)
    BUILT.add(path)
    return path
