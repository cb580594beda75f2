#!/usr/bin/env python3
"""imutap on Linux's own serial drivers: a small virtual machine boots
Debian's kernel and runs the statically linked imutap against the emulated
unit on the host.

    vm_test.py TIER BUILD_DIR SOURCE_DIR CXX PROBE

TIER is uart (the 16550 UART, 8250 driver), usb (the FTDI adapter, ftdi_sio,
pulled out and plugged back) or prepare (only what a boot needs, and whether
one can run here). BUILD_DIR holds the host's build (src/imutap,
emulator/imutap-emu); the kernel, the static imutap and the initramfs are
kept in BUILD_DIR/vm. CXX builds the static imutap; PROBE is the static
removed-port-probe. Status 77, with one line saying why, when no boot can run
here."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from vmtier import machine, prepare, session, uart, usb  # noqa: E402

SKIPPED = 77
BOOT_LIMIT_S = {"uart": 150, "usb": 150}
TIERS = {"uart": uart, "usb": usb}


def accelerator(vmlinux, initramfs, vm_dir):
    """kvm when a probe boot shows it works here, otherwise tcg."""
    if not machine.kvm_usable():
        return "tcg", "no usable /dev/kvm"
    if machine.kvm_works(vmlinux, initramfs, os.path.join(vm_dir, "kvm-probe")):
        return "kvm", "a probe boot worked"
    return "tcg", "a probe boot under KVM failed"


def main(argv):
    if len(argv) != 6 or argv[1] not in ("uart", "usb", "prepare"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    tier, build_dir, source_dir, compiler, probe = argv[1], *map(os.path.abspath, argv[2:4]), \
        argv[4], os.path.abspath(argv[5])
    began = time.monotonic()
    try:
        vmlinux, initramfs = prepare.prepare(source_dir, build_dir, compiler, probe)
    except prepare.CannotRun as reason:
        print(f"vm tests not run: {reason}")
        return SKIPPED
    except prepare.PrepareFailed as failure:
        print(f"FAIL: preparing the boot: {failure}")
        return 1
    vm_dir = os.path.join(build_dir, "vm")
    accel, why = accelerator(vmlinux, initramfs, vm_dir)
    print(f"prepared in {time.monotonic() - began:.1f} s; accelerator {accel} ({why})")
    if tier == "prepare":
        return 0

    module = TIERS[tier]
    boot = session.Boot(build_dir, source_dir, os.path.join(vm_dir, f"run-{tier}"), tier)
    seen = {}
    try:
        devices = module.devices(boot)
    except RuntimeError as error:
        for unit in boot.units.values():
            unit.stop()
        print(f"FAIL: {error}")
        return 1
    ended, why, seconds = boot.run(vmlinux, initramfs, devices, accel,
                                   module.answerer(boot, seen), BOOT_LIMIT_S[tier])
    print(f"boot: {seconds:.1f} s from QEMU's start to its end")
    failed = 0
    if not ended:
        failed += 1
        print(f"FAIL: the boot: {why}")
    for name, problems in module.check(boot, build_dir, seen):
        if problems:
            failed += 1
            print(f"FAIL: {name}")
            for problem in problems:
                print(f"    {problem}")
        else:
            print(f"PASS: {name}")
    if failed:
        print("---- the guest's console ----")
        print(boot.console_text())
        print(f"---- files in {boot.share} ----")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
