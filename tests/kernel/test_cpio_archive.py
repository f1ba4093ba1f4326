# SPDX-License-Identifier: MIT
"""The initramfs writer, read back by GNU cpio (as the kernel would unpack it)."""

import pathlib
import shutil
import subprocess
import tempfile
import unittest

from cpio_archive import CpioArchive

CPIO = shutil.which("cpio")


def listing(archive: bytes) -> list[str]:
    """`cpio -itv` lines as (mode, name[, link]) text without owners and dates."""
    result = subprocess.run([CPIO, "-itv", "--quiet"], input=archive,
                            capture_output=True, check=True)
    lines = []
    for line in result.stdout.decode().splitlines():
        words = line.split()
        lines.append(" ".join([words[0], *words[8:]]))
    return lines


class CpioArchiveTest(unittest.TestCase):
    def setUp(self) -> None:
        self.assertIsNotNone(CPIO, "cpio is not installed (scripts/setup.sh installs it)")

    def test_parents_come_first_and_are_created(self) -> None:
        archive = CpioArchive()
        archive.add_file("lib/modules/x/kernel/a.ko", b"module", 0o644)
        archive.add_file("init", b"#!/bin/sh\n", 0o755)
        archive.add_symlink("bin/sh", "busybox")
        names = [line.split(" ", 1)[1] for line in listing(archive.to_bytes())]
        self.assertEqual(names, ["bin", "bin/sh -> busybox", "init", "lib", "lib/modules",
                                 "lib/modules/x", "lib/modules/x/kernel",
                                 "lib/modules/x/kernel/a.ko"])

    def test_modes_and_device_nodes(self) -> None:
        archive = CpioArchive()
        archive.add_file("init", b"x", 0o755)
        archive.add_char_device("dev/console", 5, 1)
        archive.add_directory("proc")
        result = subprocess.run([CPIO, "-itv", "--quiet"], input=archive.to_bytes(),
                                capture_output=True, check=True, text=False)
        text = result.stdout.decode()
        self.assertRegex(text, r"(?m)^crw------- .* 5,\s*1 .* dev/console$")
        self.assertRegex(text, r"(?m)^-rwxr-xr-x .* init$")
        self.assertRegex(text, r"(?m)^drwxr-xr-x .* proc$")

    def test_contents_survive_unpacking(self) -> None:
        # Sizes around the 4-byte padding of names and data.
        files = {f"data/{'n' * name_length}": bytes(range(size)) * 3
                 for name_length, size in ((1, 0), (2, 1), (3, 2), (4, 3), (5, 4), (6, 5))}
        archive = CpioArchive()
        for path, data in files.items():
            archive.add_file(path, data)
        with tempfile.TemporaryDirectory() as tmp:
            subprocess.run([CPIO, "-id", "--quiet"], input=archive.to_bytes(), cwd=tmp,
                           check=True, capture_output=True)
            for path, data in files.items():
                self.assertEqual((pathlib.Path(tmp) / path).read_bytes(), data, path)

    def test_rejects_bad_paths_and_clashes(self) -> None:
        archive = CpioArchive()
        archive.add_file("etc/drivers/radeon", b"")
        cases = (
            (lambda: archive.add_file("etc/drivers/radeon", b"again"), "added twice"),
            (lambda: archive.add_directory("etc/drivers/radeon"), "is a file"),
            (lambda: archive.add_file("etc/drivers/radeon/x", b""), "is a file"),
            (lambda: archive.add_file("../escape", b""), "bad archive path"),
            (lambda: archive.add_file("/", b""), "bad archive path"),
        )
        for action, message in cases:
            with self.subTest(message=message), self.assertRaisesRegex(ValueError, message):
                action()

    def test_paths_are_normalised(self) -> None:
        archive = CpioArchive()
        archive.add_file("/lib64//ld.so", b"")
        self.assertIn("lib64/ld.so", archive)
        self.assertIn("/lib64", archive)
        self.assertNotIn("lib", archive)


if __name__ == "__main__":
    unittest.main()
