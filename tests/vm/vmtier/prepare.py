"""What a boot needs, made once and kept under the build folder: Debian's
kernel (fetched with apt, unpacked, not installed), the driver modules in the
order they load, imutap linked statically, and the initramfs."""

import lzma
import os
import platform
import re
import shutil
import subprocess

# Modules the guest loads: the USB adapter's driver and the host's share,
# each with what it depends on.
WANTED_MODULES = ["xhci-pci", "ftdi_sio", "9pnet_virtio", "virtio_pci", "9p"]
XZ_MAGIC = b"\xfd7zXZ\x00"


class CannotRun(Exception):
    """The tier cannot run on this machine; the text says why."""


class PrepareFailed(Exception):
    """Something that should work did not: a failure, not a reason to skip."""


def run(args, cwd=None, timeout=600):
    done = subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=timeout, check=False)
    return done.returncode, done.stdout


def is_static(path):
    with open(path, "rb") as program:
        head = program.read(4096)
    return head.startswith(b"\x7fELF") and b"/ld-linux" not in head


def check_host():
    """Raises CannotRun when a tool the tier needs is missing."""
    if platform.machine() != "x86_64":
        raise CannotRun(f"the guest runs an x86-64 Debian kernel; this machine is {platform.machine()}")
    if not shutil.which("qemu-system-x86_64"):
        raise CannotRun("qemu-system-x86_64 not found (Debian: apt-get install qemu-system-x86)")
    if not shutil.which("cpio"):
        raise CannotRun("cpio not found (Debian: apt-get install cpio)")
    if not os.path.exists("/bin/busybox") or not is_static("/bin/busybox"):
        raise CannotRun("no statically linked /bin/busybox (Debian: apt-get install busybox-static)")
    for tool in ("apt-cache", "apt-get", "dpkg-deb"):
        if not shutil.which(tool):
            raise CannotRun(f"{tool} not found: the kernel is Debian's package")


def kernel_package():
    """The kernel image package that linux-image-amd64 depends on today."""
    status, said = run(["apt-cache", "depends", "linux-image-amd64"], timeout=60)
    found = re.search(r"Depends: (linux-image-[0-9][^\s]*-amd64)", said)
    if status != 0 or not found:
        raise CannotRun("apt cannot name the kernel package (apt-cache depends linux-image-amd64: "
                        + (said.strip().splitlines() or ["no output"])[-1] + ")")
    return found.group(1)


def module_depends(path):
    with open(path, "rb") as module:
        found = re.search(rb"depends=([^\0]*)\0", module.read())
    if not found or not found.group(1):
        return []
    return found.group(1).decode().split(",")


def module_order(modules_dir, wanted):
    """The .ko files of the wanted modules and their dependencies, each after
    what it depends on; built-in ones are left out."""
    files = {}
    for root, _, names in os.walk(os.path.join(modules_dir, "kernel")):
        for name in names:
            if name.endswith(".ko"):
                files[name[:-3].replace("-", "_")] = os.path.join(root, name)
    order = []
    seen = set()

    def add(name):
        key = name.replace("-", "_")
        if key in seen or key not in files:  # not in files: built into the kernel
            return
        seen.add(key)
        for dependency in module_depends(files[key]):
            add(dependency)
        order.append(files[key])

    for name in wanted:
        add(name)
    return order


def fetch_kernel(cache):
    """vmlinux and the modules' folder, fetched and unpacked once."""
    package = kernel_package()
    folder = os.path.join(cache, package)
    vmlinux = os.path.join(folder, "vmlinux")
    modules = os.path.join(folder, "modules")
    if os.path.exists(os.path.join(folder, "complete")):
        return package, vmlinux, modules
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    status, said = run(["apt-get", "download", package], cwd=folder)
    debs = [name for name in os.listdir(folder) if name.endswith(".deb")]
    if status != 0 or not debs:
        raise CannotRun(f"apt-get download {package} failed: "
                        + (said.strip().splitlines() or ["no output"])[-1])
    unpacked = os.path.join(folder, "unpacked")
    status, said = run(["dpkg-deb", "-x", debs[0], unpacked], cwd=folder)
    if status != 0:
        raise PrepareFailed(f"dpkg-deb -x {debs[0]}: {said.strip()}")
    boot = os.path.join(unpacked, "boot")
    vmlinuz = [name for name in os.listdir(boot) if name.startswith("vmlinuz-")]
    # Booted uncompressed: under software emulation the kernel takes seconds
    # to decompress itself. The ELF image inside is started directly (PVH).
    with open(os.path.join(boot, vmlinuz[0]), "rb") as image:
        data = image.read()
    start = data.find(XZ_MAGIC)
    if start < 0:
        raise PrepareFailed(f"{vmlinuz[0]}: no XZ-compressed kernel inside")
    with open(vmlinux, "wb") as out:
        out.write(lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(data[start:]))
    (version,) = os.listdir(os.path.join(unpacked, "lib", "modules"))
    os.makedirs(modules)
    for path in module_order(os.path.join(unpacked, "lib", "modules", version), WANTED_MODULES):
        shutil.copy(path, modules)
        with open(os.path.join(modules, "order"), "a", encoding="ascii") as order:
            order.write(os.path.basename(path) + "\n")
    # Only what boots is kept: the package and the rest of its modules go.
    shutil.rmtree(unpacked)
    os.remove(os.path.join(folder, debs[0]))
    with open(os.path.join(folder, "complete"), "w", encoding="ascii") as mark:
        mark.write(package + "\n")
    return package, vmlinux, modules


def build_static_imutap(source_dir, vm_dir, compiler):
    """imutap linked statically, in a build folder of its own."""
    build = os.path.join(vm_dir, "imutap-static")
    # Another compiler would make CMake drop the cache, the link flags with it.
    cache = os.path.join(build, "CMakeCache.txt")
    if os.path.exists(cache):
        with open(cache, encoding="utf-8", errors="replace") as text:
            kept = re.search(r"^CMAKE_CXX_COMPILER:\w+=(.*)$", text.read(), re.MULTILINE)
        if not kept or kept.group(1) != compiler:
            shutil.rmtree(build)
    configure = ["cmake", "-S", source_dir, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                 f"-DCMAKE_CXX_COMPILER={compiler}", "-DCMAKE_EXE_LINKER_FLAGS=-static",
                 "-DIMUTAP_TESTS=OFF", "-DIMUTAP_BENCHMARKS=OFF", "-DIMUTAP_INSTALL=OFF",
                 "-DIMUTAP_WERROR=ON"]
    for step in (configure, ["cmake", "--build", build, "-j2", "--target", "imutap"]):
        status, said = run(step)
        if status != 0:
            raise PrepareFailed(" ".join(step) + "\n" + said)
    program = os.path.join(build, "src", "imutap")
    if not is_static(program):
        raise PrepareFailed(f"{program} is not statically linked")
    return program


def build_initramfs(vm_dir, guest_dir, modules, programs):
    """An uncompressed newc cpio: busybox, the programs, /init, the modules."""
    tree = os.path.join(vm_dir, "initramfs")
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(os.path.join(tree, "bin"))
    shutil.copy("/bin/busybox", os.path.join(tree, "bin", "busybox"))
    for name, path in programs.items():
        shutil.copy(path, os.path.join(tree, "bin", name))
    shutil.copy(os.path.join(guest_dir, "init"), os.path.join(tree, "init"))
    shutil.copytree(modules, os.path.join(tree, "modules"))
    image = os.path.join(vm_dir, "initramfs.cpio")
    names = subprocess.run(["find", "."], cwd=tree, stdout=subprocess.PIPE, check=True).stdout
    with open(image, "wb") as out:
        subprocess.run(["cpio", "--quiet", "-o", "-H", "newc"], cwd=tree, input=names,
                       stdout=out, check=True)
    return image


def prepare(source_dir, build_dir, compiler, probe):
    """Everything a boot needs: (vmlinux, initramfs). Raises CannotRun or
    PrepareFailed."""
    check_host()
    vm_dir = os.path.join(build_dir, "vm")
    os.makedirs(vm_dir, exist_ok=True)
    _, vmlinux, modules = fetch_kernel(os.path.join(vm_dir, "kernel"))
    imutap = build_static_imutap(source_dir, vm_dir, compiler)
    if not is_static(probe):
        raise PrepareFailed(f"{probe} is not statically linked")
    guest_dir = os.path.join(source_dir, "tests", "vm", "guest")
    initramfs = build_initramfs(vm_dir, guest_dir, modules,
                                {"imutap": imutap, "removed-port-probe": probe})
    return vmlinux, initramfs
