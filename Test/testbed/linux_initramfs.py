"""A small Linux from Debian's own packages: the kernel and an initramfs of busybox, efibootmgr and what they need.

The packages are fetched with "apt-get download" into a cache under build/ and unpacked there with
"dpkg -x", never installed on the host: the kernel from linux-image-amd64's dependency, busybox from
busybox-static, efibootmgr with its libraries. Programs the host has from Debian's packages (GNU install)
come from the host. Every dynamic program brings the libraries ldd names. The kernel's modules are
loaded by insmod in dependency order, read from each module's own "depends=" record. The archive is
cpio "newc", gzip-compressed, written here.
"""

import gzip
import os
import re
import shutil
import stat
import subprocess
from pathlib import Path

# The packages the small Linux is made of; the kernel's meta package names the real image package.
KERNEL_META_PACKAGE = "linux-image-amd64"
PACKAGES = ["busybox-static", "efibootmgr"]
# Host programs the guide's lines call that busybox lacks (Debian's coreutils).
HOST_PROGRAMS = ["/usr/bin/install"]
# What the initramfs needs the kernel to load: the NVMe disk, its FAT file system, the variable file system.
MODULES = ["nvme", "vfat", "nls_cp437", "nls_ascii", "efivarfs"]
MODULE_DEPENDS = re.compile(rb"(?:^|\x00)depends=([^\x00]*)\x00")


class Unavailable(Exception):
    """The packages could not be had (no package source, no apt-get): the scenario is skipped with this reason."""


def run(command, cwd=None):
    """Runs COMMAND; its output, or Unavailable with its error output when it fails."""
    try:
        done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    except OSError as error:
        raise Unavailable("%s: %s" % (command[0], error)) from error
    if done.returncode != 0:
        raise Unavailable("%s failed: %s" % (" ".join(command), done.stderr.strip()[-400:]))
    return done.stdout


def download(names, debs):
    """The .deb files of packages NAMES in folder DEBS, downloaded when missing."""
    debs.mkdir(parents=True, exist_ok=True)
    found = []
    for name in names:
        matches = sorted(debs.glob("%s_*.deb" % name))
        if not matches:
            run(["apt-get", "download", name], cwd=debs)
            matches = sorted(debs.glob("%s_*.deb" % name))
        if not matches:
            raise Unavailable("apt-get download %s gave no package" % name)
        found.append(matches[-1])
    return found


def depends(deb):
    """The package names of a .deb's Depends field, versions and alternatives left out."""
    field = run(["dpkg-deb", "-f", str(deb), "Depends"])
    return [part.split("|")[0].split("(")[0].strip() for part in field.split(",") if part.strip()]


def cached_root(cache):
    """The cache's unpacked root when unpacked_root has made it whole, else None; never downloads."""
    root = cache / "root"
    return root if (root / "unpacked").exists() else None


def unpacked_root(cache):
    """
    The cache's unpacked root (CACHE/root) holding the kernel, busybox and efibootmgr with its libraries;
    downloads and unpacks once. Raises Unavailable when a package cannot be had.
    """
    root = cache / "root"
    if cached_root(cache) is not None:
        return root
    debs = cache / "debs"
    kernel_meta = download([KERNEL_META_PACKAGE], debs)[0]
    kernel_image = [name for name in depends(kernel_meta) if name.startswith("linux-image-")]
    tools = download(PACKAGES, debs)
    efibootmgr_libraries = [name for name in depends(tools[1]) if name.startswith("libefi")]
    shutil.rmtree(root, ignore_errors=True)
    for deb in download(kernel_image, debs) + tools + download(efibootmgr_libraries, debs):
        run(["dpkg", "-x", str(deb), str(root)])
    (root / "unpacked").write_text("")
    return root


def kernel_of(root):
    """(vmlinuz path, module folder) of the unpacked kernel."""
    kernels = sorted((root / "boot").glob("vmlinuz-*"))
    if not kernels:
        raise Unavailable("no vmlinuz in the unpacked %s" % KERNEL_META_PACKAGE)
    release = kernels[-1].name[len("vmlinuz-"):]
    return kernels[-1], root / "lib" / "modules" / release


def module_order(module_folder, names):
    """The .ko files of NAMES and everything they depend on, each after its dependencies."""
    files = {path.name[:-3].replace("-", "_"): path for path in module_folder.rglob("*.ko")}
    ordered = []

    def visit(name):
        path = files.get(name.replace("-", "_"))
        if path is None:
            raise Unavailable("kernel module %s not found under %s" % (name, module_folder))
        if path in ordered:
            return
        record = MODULE_DEPENDS.search(path.read_bytes())
        for dependency in (record.group(1).decode().split(",") if record and record.group(1) else []):
            visit(dependency)
        ordered.append(path)

    for name in names:
        visit(name)
    return ordered


def shared_libraries(program, library_path):
    """
    (name in the archive, file) of each library ldd names for PROGRAM, searched first in LIBRARY_PATH:
    libraries under their names in the loader's own folder, the loader where the program names it.
    """
    environment = dict(os.environ, LD_LIBRARY_PATH=":".join(str(folder) for folder in library_path))
    done = subprocess.run(["ldd", str(program)], capture_output=True, text=True, env=environment)
    if done.returncode != 0:
        return []  # a static program
    found = []
    for line in done.stdout.splitlines():
        library = re.match(r"\s*(\S+)\s+=>\s+(\S+)\s+\(0x", line)
        loader = re.match(r"\s*(/\S+)\s+\(0x", line)
        if library:
            found.append(("lib/x86_64-linux-gnu/" + library.group(1), Path(library.group(2)).resolve()))
        elif loader:
            found.append((loader.group(1).lstrip("/"), Path(loader.group(1)).resolve()))
    return found


class Archive:
    """A cpio "newc" archive built in memory: folders and files."""

    def __init__(self):
        self.data = bytearray()
        self.inode = 1
        self.folders = set()

    def entry(self, name, mode, content=b""):
        header = "070701" + "".join("%08X" % value for value in (
            self.inode, mode, 0, 0, 1, 0, len(content), 0, 0, 0, 0, len(name) + 1, 0))
        self.inode += 1
        self.data += header.encode() + name.encode() + b"\x00"
        self.data += b"\x00" * (-len(self.data) % 4)
        self.data += content
        self.data += b"\x00" * (-len(self.data) % 4)

    def folder(self, name):
        """NAME and its parents, each once."""
        parts = Path(name).parts
        for depth in range(1, len(parts) + 1):
            path = "/".join(parts[:depth])
            if path not in self.folders:
                self.folders.add(path)
                self.entry(path, stat.S_IFDIR | 0o755)

    def file(self, name, content, mode=0o644):
        if Path(name).parent != Path("."):
            self.folder(str(Path(name).parent))
        self.entry(name, stat.S_IFREG | mode, content)

    def finish(self):
        self.entry("TRAILER!!!", 0)
        return gzip.compress(bytes(self.data), 9)


def initramfs(root, module_files, images, guide_lines, init_script):
    """
    The gzip-compressed archive: busybox, efibootmgr and the host programs with their libraries, the
    modules, IMAGES (name: bytes) in /usr/lib/tolvane-service, GUIDE_LINES as /guide.sh and INIT_SCRIPT as /init.
    """
    archive = Archive()
    for folder in ("dev", "proc", "sys", "boot/efi", "tmp", "bin", "sbin", "usr/bin", "usr/sbin"):
        archive.folder(folder)
    archive.file("bin/busybox", (root / "bin" / "busybox").read_bytes(), 0o755)
    library_path = [root / "usr" / "lib" / "x86_64-linux-gnu", root / "lib" / "x86_64-linux-gnu"]
    programs = [(root / "bin" / "efibootmgr", "bin/efibootmgr")]
    programs += [(Path(path), path.lstrip("/")) for path in HOST_PROGRAMS]
    copied = set()
    for source, name in programs:
        archive.file(name, source.read_bytes(), 0o755)
        for name_in_archive, library in shared_libraries(source, library_path):
            if name_in_archive not in copied:
                copied.add(name_in_archive)
                archive.file(name_in_archive, library.read_bytes(), 0o755)
    for module in module_files:
        archive.file("lib/modules/" + module.name, module.read_bytes())
    for name, content in images.items():
        archive.file("usr/lib/tolvane-service/" + name, content)
    archive.file("guide.sh", guide_lines.encode(), 0o755)
    archive.file("init", init_script.encode(), 0o755)
    return archive.finish()
