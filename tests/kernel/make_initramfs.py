# SPDX-License-Identifier: MIT
"""Build the initramfs that boots straight into crtc-relay.

It holds busybox, the /init script beside this file, the program with the
shared libraries and dynamic loader it needs (as ldd lists them, so a
sanitized build brings its runtime along; all without debug information),
and for each emulated display asked for the kernel modules of its driver
with their dependencies in load order.
"""

import argparse
import lzma
import pathlib
import re
import subprocess
import sys
import tempfile

import kernel_cache
from cpio_archive import CpioArchive
from displays import DISPLAYS, MODULE_OPTIONS

HERE = pathlib.Path(__file__).resolve().parent
BUSYBOX = pathlib.Path("/bin/busybox")
PROGRAM_PATH = "bin/crtc-relay"
ARGUMENTS_PATH = "etc/crtc-relay-arguments"   # one a line
MODULES_ROOT = "lib/modules"

_LDD_LINE = re.compile(r"^\s*(?:\S+ => )?(/\S+) \(0x[0-9a-f]+\)$")


def shared_objects(program: pathlib.Path) -> list[pathlib.Path]:
    """Every shared object and the loader that `program` needs, as ldd names them."""
    result = subprocess.run(["ldd", str(program)], capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"ldd {program} failed: {result.stderr.strip() or result.stdout.strip()}")
    paths = []
    for line in result.stdout.splitlines():
        if "=> not found" in line:
            raise RuntimeError(f"{program} needs a library that is missing: {line.strip()}")
        match = _LDD_LINE.match(line)
        if match:
            paths.append(pathlib.Path(match.group(1)))
    return paths


def _module_name(path: pathlib.Path) -> str:
    return path.name.removesuffix(".xz").removesuffix(".ko").replace("-", "_")


def _module_bytes(path: pathlib.Path) -> bytes:
    """The module uncompressed (6.12 ships .ko.xz): busybox's insmod hands
    the kernel the file as it is."""
    data = path.read_bytes()
    return lzma.decompress(data) if path.suffix == ".xz" else data


def add_driver_modules(archive: CpioArchive, kernel: kernel_cache.Kernel,
                       displays: tuple[str, ...]) -> None:
    """Each display's driver modules in load order, listed in /etc/drivers/NAME."""
    for name in displays:
        display = DISPLAYS[name]
        lines = []
        seen: set[pathlib.Path] = set()
        for module in (*display.extra_modules, display.driver):
            for path in kernel.module_dependencies(module):
                if path in seen:
                    continue
                seen.add(path)
                relative = str(path.relative_to(kernel.modules_dir)).removesuffix(".xz")
                inside = f"{MODULES_ROOT}/{relative}"
                if inside not in archive:
                    archive.add_file(inside, _module_bytes(path))
                options = MODULE_OPTIONS.get(_module_name(path), "")
                lines.append(f"/{inside} {options}".rstrip())
        archive.add_file(f"etc/drivers/{name}", ("\n".join(lines) + "\n").encode())


def without_debug_info(path: pathlib.Path) -> bytes:
    """The file with its DWARF sections left out (symbols stay, for the
    sanitizers' stack traces): a third of the image's size, so it loads
    faster under emulation."""
    with tempfile.TemporaryDirectory(prefix="crtc-relay-strip-") as tmp:
        stripped = pathlib.Path(tmp) / path.name
        result = subprocess.run(["objcopy", "--strip-debug", str(path), str(stripped)],
                                capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError(f"objcopy --strip-debug {path} failed: {result.stderr.strip()}")
        return stripped.read_bytes()


def build(kernel: kernel_cache.Kernel, program: pathlib.Path,
          arguments: tuple[str, ...] = (), displays: tuple[str, ...] = tuple(DISPLAYS),
          later_runs: tuple[tuple[str, ...], ...] = ()) -> bytes:
    """The image with the modules of `displays`; /init passes `arguments`
    to the program before the device, then runs it again with each of
    `later_runs` (at most 9)."""
    if not BUSYBOX.exists():
        raise RuntimeError(f"{BUSYBOX} is missing; install busybox-static (scripts/setup.sh)")
    archive = CpioArchive()
    for folder in ("dev", "proc", "sys", "tmp", "etc"):
        archive.add_directory(folder)
    # The kernel opens /dev/console for /init before devtmpfs is mounted.
    archive.add_char_device("dev/console", 5, 1)
    archive.add_file("init", (HERE / "init.sh").read_bytes(), 0o755)
    archive.add_file("bin/busybox", BUSYBOX.read_bytes(), 0o755)
    archive.add_file(PROGRAM_PATH, without_debug_info(program), 0o755)
    if len(later_runs) > 9:
        raise ValueError(f"{len(later_runs)} runs after the first; /init takes at most 9")
    for number, run in enumerate((arguments, *later_runs)):
        if any("\n" in argument for argument in run):
            raise ValueError(f"program arguments cannot hold line breaks: {run!r}")
        path = ARGUMENTS_PATH + (f".{number}" if number else "")
        archive.add_file(path, "".join(f"{a}\n" for a in run).encode())
    for library in shared_objects(program):
        archive.add_file(str(library), without_debug_info(library.resolve()), 0o755)
    add_driver_modules(archive, kernel, displays)
    return archive.to_bytes()


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", type=pathlib.Path, required=True,
                        help="crtc-relay binary to put in the image")
    parser.add_argument("--output", type=pathlib.Path, required=True)
    parser.add_argument("--cache", type=pathlib.Path, default=None,
                        help="kernel cache folder")
    parser.add_argument("--series", choices=sorted(kernel_cache.KERNELS), default="6.1",
                        help="kernel series (default: 6.1)")
    parser.add_argument("arguments", nargs="*", help="program arguments (after --)")
    args = parser.parse_args(argv[1:])
    kernel = kernel_cache.ensure_kernel(args.cache, args.series)
    image = build(kernel, args.program, tuple(args.arguments))
    args.output.write_bytes(image)
    print(f"{args.output}: {len(image) // 1024} KiB for kernel {kernel.version}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
