#!/usr/bin/env bash
# Installs what building and testing imutap needs on Debian: as root it runs
# apt-get; otherwise it names the packages to install and stops. --windows
# adds the Windows cross-build and Wine, --vm the virtual machine's tests;
# --programs asks for the compiler and CMake alone.
set -euo pipefail

native=(cmake make g++ libgtest-dev libbenchmark-dev)
# The Debian package (dpkg-shlibdeps, lintian) and the manual pages' check.
native+=(dpkg-dev lintian mandoc)
# imutap-inspect and its tests.
native+=(python3-numpy python3-matplotlib python3-scipy python3-pytest)
windows=(g++-mingw-w64-x86-64 wine wine64)
# The serial drivers in a virtual machine (tests/vm): QEMU, the guest's shell
# and tools, and cpio for its initramfs. The kernel itself is fetched with
# apt-get download by the tests, into the build folder.
vm=(qemu-system-x86 busybox-static cpio)

want=("${native[@]}")
for option in "$@"; do
    case "$option" in
    --windows) want+=("${windows[@]}") ;;
    --vm) want+=("${vm[@]}") ;;
    # scripts/demo.sh: only what building imutap and imutap-emu takes.
    --programs) want=(cmake make g++) ;;
    *)
        echo "usage: $0 [--windows] [--vm] [--programs]" >&2
        exit 2
        ;;
    esac
done

missing=()
for package in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "imutap needs these Debian packages: ${missing[*]}" >&2
    echo "install them as root: apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
