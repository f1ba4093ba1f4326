# SPDX-License-Identifier: MIT
"""Taking the ELF kernel out of a bzImage, on images built here."""

import bz2
import gzip
import lzma
import struct
import subprocess
import unittest

from vmlinux_extract import extract_vmlinux

ELF = b"\x7fELF" + bytes(range(256)) * 40


def bzimage(payload: bytes, setup_sectors: int = 3, protocol: int = 0x20F,
            payload_offset: int = 0x3A0, claimed_length: int | None = None) -> bytes:
    """A setup area, then protected-mode code holding the payload at its offset."""
    setup = bytearray((setup_sectors + 1) * 512)
    setup[0x1F1] = setup_sectors
    setup[0x202:0x206] = b"HdrS"
    struct.pack_into("<H", setup, 0x206, protocol)
    length = len(payload) if claimed_length is None else claimed_length
    struct.pack_into("<II", setup, 0x248, payload_offset, length)
    return bytes(setup) + b"\x90" * payload_offset + payload + b"\0" * 64


def with_size(compressed: bytes) -> bytes:
    """The kernel build appends the uncompressed size to the stream."""
    return compressed + struct.pack("<I", len(ELF))


def zstd(data: bytes) -> bytes:
    return subprocess.run(["zstd", "-cq"], input=data, capture_output=True, check=True).stdout


class ExtractVmlinuxTest(unittest.TestCase):
    def test_compressions(self) -> None:
        payloads = {
            "xz": with_size(lzma.compress(ELF, format=lzma.FORMAT_XZ, check=lzma.CHECK_CRC32)),
            "gzip": with_size(gzip.compress(ELF)),
            "bzip2": with_size(bz2.compress(ELF)),
            "zstd": with_size(zstd(ELF)),
        }
        for name, payload in payloads.items():
            with self.subTest(name):
                self.assertEqual(extract_vmlinux(bzimage(payload)), ELF)

    def test_zero_setup_sectors_means_four(self) -> None:
        payload = with_size(lzma.compress(ELF))
        image = bytearray(bzimage(payload, setup_sectors=4))
        image[0x1F1] = 0
        self.assertEqual(extract_vmlinux(bytes(image)), ELF)

    def test_rejects(self) -> None:
        xz = with_size(lzma.compress(ELF))
        cases = (
            ("no setup header", b"MZ" + bytes(1024), "no setup header"),
            ("old boot protocol", bzimage(xz, protocol=0x207), "no payload fields"),
            ("payload past the end", bzimage(xz, claimed_length=len(xz) + 4096), "past the end"),
            ("truncated stream", bzimage(xz[:len(xz) // 2]), "truncated"),
            ("unknown compression", bzimage(b"\x04\x22\x4d\x18" + bytes(64)), "unsupported"),
            ("truncated zstd", bzimage(with_size(zstd(ELF)[:-40])), "truncated or corrupt"),
            ("not an ELF inside", bzimage(with_size(lzma.compress(b"PE\0\0" + ELF))), "not an ELF"),
        )
        for name, image, message in cases:
            with self.subTest(name), self.assertRaisesRegex(ValueError, message):
                extract_vmlinux(image)


if __name__ == "__main__":
    unittest.main()
