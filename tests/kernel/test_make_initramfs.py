# SPDX-License-Identifier: MIT
"""Finding what a program needs in the initramfs."""

import pathlib
import subprocess
import tempfile
import unittest

import make_initramfs


class SharedObjectsTest(unittest.TestCase):
    def test_ldd_lines(self) -> None:
        cases = (
            ("\tlibasan.so.8 => /lib/x86_64-linux-gnu/libasan.so.8 (0x00007f8a35a00000)",
             "/lib/x86_64-linux-gnu/libasan.so.8"),
            ("\t/lib64/ld-linux-x86-64.so.2 (0x00007f8a36290000)", "/lib64/ld-linux-x86-64.so.2"),
            ("\tlinux-vdso.so.1 (0x00007ffd2b5f2000)", None),   # in the kernel, not a file
            ("\tstatically linked", None),
        )
        for line, path in cases:
            with self.subTest(line):
                match = make_initramfs._LDD_LINE.match(line)
                self.assertEqual(match.group(1) if match else None, path)

    def test_a_dynamic_program_brings_libc_and_the_loader(self) -> None:
        objects = make_initramfs.shared_objects(pathlib.Path("/bin/ls"))
        names = [path.name for path in objects]
        self.assertIn("libc.so.6", names)
        self.assertTrue(any(name.startswith("ld-linux") for name in names), names)
        self.assertTrue(all(path.is_absolute() and path.exists() for path in objects))

    def test_debug_information_goes_and_symbols_stay(self) -> None:
        with tempfile.TemporaryDirectory() as tmp:
            source, program = pathlib.Path(tmp) / "p.c", pathlib.Path(tmp) / "p"
            source.write_text("int relay_marker(void) { return 7; }\n"
                              "int main(void) { return relay_marker(); }\n")
            subprocess.run(["gcc", "-g", "-o", str(program), str(source)], check=True)
            stripped = pathlib.Path(tmp) / "stripped"
            stripped.write_bytes(make_initramfs.without_debug_info(program))
            sections = subprocess.run(["readelf", "-S", "-s", str(stripped)], check=True,
                                      capture_output=True, text=True).stdout
            before = subprocess.run(["readelf", "-S", str(program)], check=True,
                                    capture_output=True, text=True).stdout
        self.assertIn(".debug_info", before)
        self.assertNotIn(".debug_info", sections)
        self.assertIn("relay_marker", sections)

    def test_module_names_as_the_kernel_spells_them(self) -> None:
        self.assertEqual(make_initramfs._module_name(pathlib.Path("x/virtio-gpu.ko")), "virtio_gpu")
        self.assertEqual(make_initramfs._module_name(pathlib.Path("drm_kms_helper.ko")),
                         "drm_kms_helper")


if __name__ == "__main__":
    unittest.main()
