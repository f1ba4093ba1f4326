#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Boot the kernel test's image by hand, with the serial console on this
terminal, to try crtc-relay on an emulated display.

The program starts by itself; Enter or Ctrl-C ends it, then the guest
prints its kernel log and powers off. Ctrl-A x leaves QEMU at any time,
Ctrl-A c switches to the QEMU monitor ("screendump FILE.ppm" saves the
screen). Arguments after "--" go to QEMU, e.g. "-- -vnc localhost:1" to
watch the screen with a VNC viewer.
"""

import argparse
import pathlib
import subprocess
import sys
import tempfile

import kernel_cache
import make_initramfs
import radeon_rom
from displays import DISPLAYS
from qemu_machine import command_line

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
DEFAULT_PROGRAM = REPOSITORY / "build" / "test" / "app" / "crtc-relay"

TERMINAL_CONSOLE = (
    # Serial port and monitor share the terminal; Ctrl-C goes to the guest.
    "-chardev", "stdio,id=console,mux=on,signal=off",
    "-serial", "chardev:console", "-mon", "chardev=console,mode=readline",
)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("display", choices=sorted(DISPLAYS))
    parser.add_argument("--program", type=pathlib.Path, default=DEFAULT_PROGRAM,
                        help=f"crtc-relay binary (default: {DEFAULT_PROGRAM})")
    parser.add_argument("--shell", action="store_true",
                        help="a shell on the console instead of starting the program")
    parser.add_argument("--cache", type=pathlib.Path, default=None, help="kernel cache folder")
    parser.add_argument("--kernel", choices=sorted(kernel_cache.KERNELS), default="6.1",
                        help="kernel series (default: 6.1)")
    parser.add_argument("qemu_args", nargs="*", help="extra QEMU arguments (after --)")
    args = parser.parse_args(argv[1:])
    if not args.program.exists():
        parser.error(f"{args.program} does not exist; build it or name one with --program")

    display = DISPLAYS[args.display]
    kernel = kernel_cache.ensure_kernel(args.cache, args.kernel)
    with tempfile.TemporaryDirectory(prefix="crtc-relay-boot-") as tmp:
        work = pathlib.Path(tmp)
        initrd = work / "initramfs.cpio"
        initrd.write_bytes(make_initramfs.build(kernel, args.program.resolve()))
        rom = work / "radeon.rom"
        rom.write_bytes(radeon_rom.build_rom())
        device_args = [arg.replace("{rom}", str(rom)) for arg in display.qemu_args]
        kernel_args = [f"relay_driver={args.display}"] + (["relay_shell=1"] if args.shell else [])
        qemu = [*command_line(kernel.vmlinux, initrd, device_args, kernel_args),
                *TERMINAL_CONSOLE, *args.qemu_args]
        return subprocess.run(qemu).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv))
