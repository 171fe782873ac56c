"""Installed from Linux: the Debian Linux that runs docs/Deploying.md's lines under OVMF, and the disk it installs on.

The disk is a GPT disk whose partition 1 is the ESP (FAT, fixed GUIDs, so the device paths efibootmgr
writes are the same in every run); the loader "linux" (loader_linux.py) puts it on NVMe. The initramfs
holds Debian's busybox, efibootmgr and GNU install (linux_initramfs.py), the package's images under
/usr/lib/tolvane-service and an init that mounts efivarfs, mounts the ESP at /boot/efi as Debian's
installer does (umask=0077), runs the sh block under "### From Linux: both images and both options" of
docs/Deploying.md exactly as printed, and powers off. The packages are fetched while the package source
can be reached (prepare, before the guard's namespaces); unavailable_reason() says why the boots
cannot run here.
"""

import re
import shutil
import subprocess

from . import facts, linux_initramfs

GUIDE = facts.REPOSITORY / "docs" / "Deploying.md"
GUIDE_HEADING = "### From Linux: both images and both options"
CACHE = facts.REPOSITORY / "build" / "linux-cache"
# Why the packages could not be had, kept by prepare() for the run inside the guard's namespaces.
UNAVAILABLE = CACHE / "unavailable.txt"
# The images the guide's lines install from /usr/lib/tolvane-service.
IMAGES = [facts.COMPANION_IMAGE, facts.DRIVER_IMAGE]
# The disk: 64 MiB, GPT, partition 1 the ESP from sector 2048 to the end less the backup table.
DISK_BYTES = 64 * 1024 * 1024
ESP_FIRST_SECTOR = 2048
ESP_SECTORS = (DISK_BYTES // 512) - ESP_FIRST_SECTOR - 34
DISK_GUID = "7A2C4B1E-3D5F-4E60-8A71-92B3C4D5E6F7"
ESP_GUID = "5E1F0C2A-9B8D-4C7E-A6F5-E4D3C2B1A098"
ESP_TYPE = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"

INIT = """#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in {modules}; do insmod /lib/modules/$module || echo "insmod $module failed"; done
mount -t efivarfs efivarfs /sys/firmware/efi/efivars
for second in $(seq 60); do [ -b /dev/nvme0n1p1 ] && break; sleep 1; done
mount -t vfat -o umask=0077 /dev/nvme0n1p1 /boot/efi
echo "== the guide's lines"
sh -e -v /guide.sh
echo "== the guide's lines: exit $?"
ls -l /boot/efi/EFI/Tolvane
umount /boot/efi
sync
poweroff -f
"""


def guide_block(text=None):
    """The lines of the sh block under GUIDE_HEADING in Deploying.md, exactly as the guide prints them."""
    text = GUIDE.read_text() if text is None else text
    start = text.find("\n" + GUIDE_HEADING)
    match = re.search(r"\n```sh\n(.*?)\n```", text[start:], re.DOTALL) if start >= 0 else None
    if match is None:
        raise ValueError("%s: no sh block under %r" % (GUIDE, GUIDE_HEADING))
    return match.group(1) + "\n"


def missing_tools():
    """Host programs the disk and the packages need, as install hints."""
    tools = (("sfdisk", "fdisk"), ("mkfs.fat", "dosfstools"), ("mcopy", "mtools"), ("mdir", "mtools"),
             ("apt-get", "apt"), ("dpkg-deb", "dpkg"), ("ldd", "libc-bin"), ("qemu-system-x86_64", "qemu-system-x86"))
    return ["%s (apt install %s)" % (tool, package) for tool, package in tools if shutil.which(tool) is None]


def make_disk(path, files):
    """A GPT disk at PATH whose ESP holds FILES (name on the ESP with / separators: bytes)."""
    partition = path.with_suffix(".esp")
    partition.unlink(missing_ok=True)
    subprocess.run(["mkfs.fat", "-F", "16", "-n", "ESP", "-i", "7E5A1C0D", "-C", str(partition),
                    str(ESP_SECTORS // 2)], check=True, capture_output=True)
    staging = path.parent / "esp-files"
    shutil.rmtree(staging, ignore_errors=True)
    for name, content in files.items():
        (staging / name).parent.mkdir(parents=True, exist_ok=True)
        (staging / name).write_bytes(content)
    for entry in sorted(staging.iterdir()):
        subprocess.run(["mcopy", "-s", "-i", str(partition), str(entry), "::/"], check=True, capture_output=True)
    with open(path, "wb") as disk:
        disk.truncate(DISK_BYTES)
        disk.seek(ESP_FIRST_SECTOR * 512)
        disk.write(partition.read_bytes())
    partition.unlink()
    layout = ("label: gpt\nlabel-id: %s\nfirst-lba: 34\n"
              "start=%d, size=%d, type=%s, uuid=%s, name=\"EFI system partition\"\n"
              % (DISK_GUID, ESP_FIRST_SECTOR, ESP_SECTORS // 2 * 2, ESP_TYPE, ESP_GUID))
    subprocess.run(["sfdisk", "--no-reread", "--no-tell-kernel", str(path)], input=layout, text=True, check=True,
                   capture_output=True)


def esp_listing(disk, folder):
    """mdir's listing of FOLDER on the disk's ESP (bare names), or None when the folder is not there."""
    done = subprocess.run(["mdir", "-b", "-i", "%s@@%d" % (disk, ESP_FIRST_SECTOR * 512), "::/" + folder],
                          capture_output=True, text=True)
    return done.stdout.split() if done.returncode == 0 else None


def prepare():
    """
    Fetches and unpacks the packages into the cache; call it while the package source can be reached,
    before the guard's namespaces, which have no route out. What could not be had goes to UNAVAILABLE.
    """
    if missing_tools():
        return
    try:
        linux_initramfs.unpacked_root(CACHE)
        UNAVAILABLE.unlink(missing_ok=True)
    except linux_initramfs.Unavailable as reason:
        CACHE.mkdir(parents=True, exist_ok=True)
        UNAVAILABLE.write_text(str(reason) + "\n")


def unavailable_reason():
    """Why Linux cannot be booted here (host tools missing, packages not fetched), or None when it can."""
    missing = missing_tools()
    if missing:
        return "missing: " + ", ".join(missing)
    if linux_initramfs.cached_root(CACHE) is not None:
        return None
    if UNAVAILABLE.exists():
        return UNAVAILABLE.read_text().strip()
    return "Debian's kernel, busybox and efibootmgr are not in %s" % CACHE


def make_initramfs(build_dir, path):
    """
    Writes the initramfs to PATH: the packages from the cache, the build's IMAGES, the guide's lines and
    the init. Returns the kernel. Raises ValueError when the cache is not whole.
    """
    root = linux_initramfs.cached_root(CACHE)
    try:
        if root is None:
            raise linux_initramfs.Unavailable("the packages are not unpacked in %s" % CACHE)
        kernel, module_folder = linux_initramfs.kernel_of(root)
        modules = linux_initramfs.module_order(module_folder, linux_initramfs.MODULES)
    except linux_initramfs.Unavailable as reason:
        raise ValueError(str(reason)) from reason
    images = {name: (build_dir / name).read_bytes() for name in IMAGES}
    init = INIT.format(modules=" ".join(module.name for module in modules))
    path.write_bytes(linux_initramfs.initramfs(root, modules, images, guide_block(), init))
    return kernel
