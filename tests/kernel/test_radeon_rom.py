# SPDX-License-Identifier: MIT
"""The generated video BIOS, read the way the PCI core and radeon's legacy
BIOS code read it."""

import struct
import unittest

from radeon_rom import build_rom


def u8(rom: bytes, offset: int) -> int:
    return rom[offset]


def u16(rom: bytes, offset: int) -> int:
    return struct.unpack_from("<H", rom, offset)[0]


def u32(rom: bytes, offset: int) -> int:
    return struct.unpack_from("<I", rom, offset)[0]


class RadeonRomTest(unittest.TestCase):
    rom = build_rom()

    def test_option_rom_header(self) -> None:
        rom = self.rom
        self.assertEqual(rom[:2], b"\x55\xaa")
        self.assertEqual(u8(rom, 2) * 512, len(rom), "size byte counts 512-byte blocks")
        self.assertEqual(rom[3], 0xCB, "entry point is a far return")
        self.assertEqual(sum(rom) % 256, 0, "bytes must sum to zero")

    def test_pci_data_structure(self) -> None:
        rom = self.rom
        pcir = u16(rom, 0x18)
        self.assertEqual(rom[pcir:pcir + 4], b"PCIR")
        self.assertEqual((u16(rom, pcir + 4), u16(rom, pcir + 6)), (0x1002, 0x5159))
        self.assertEqual(u16(rom, pcir + 0x0A), 0x18, "structure length")
        self.assertEqual(int.from_bytes(rom[pcir + 0x0D:pcir + 0x10], "little"), 0x030000)
        self.assertEqual(u16(rom, pcir + 0x10) * 512, len(rom), "image length")
        self.assertEqual(u8(rom, pcir + 0x14), 0, "code type x86, or radeon ignores the ROM")
        self.assertTrue(u8(rom, pcir + 0x15) & 0x80, "last image")

    def test_structures_do_not_overlap_the_pointers(self) -> None:
        rom = self.rom
        pcir = u16(rom, 0x18)
        header = u16(rom, 0x48)
        pll = u16(rom, header + 0x30)
        regions = sorted([(0x18, 2), (0x48, 2), (pcir, 0x18), (header, u8(rom, header + 6)),
                          (pll, 0x32)])
        for (start, length), (next_start, _) in zip(regions, regions[1:]):
            self.assertLessEqual(start + length, next_start,
                                 f"{start:#x}+{length:#x} runs into {next_start:#x}")
        self.assertLess(regions[-1][0] + regions[-1][1], len(rom) - 1, "clear of the checksum")

    def test_bios_header_is_legacy_and_reaches_the_pll_pointer(self) -> None:
        rom = self.rom
        header = u16(rom, 0x48)
        self.assertNotEqual(header, 0)
        self.assertNotIn(rom[header + 4:header + 8], (b"ATOM", b"MOTA"))
        self.assertGreater(u8(rom, header + 6), 0x30, "tables at or past the size are not read")

    def test_pll_table(self) -> None:
        rom = self.rom
        pll = u16(rom, u16(rom, 0x48) + 0x30)
        self.assertEqual(u8(rom, pll), 9, "revision")
        # (what, offset, reader, expected) as the driver reads them, in 10 kHz units.
        fields = (
            ("memory clock", 0x08, u16, 16600),
            ("engine clock", 0x0A, u16, 16600),
            ("pixel PLL reference", 0x0E, u16, 2700),
            ("pixel PLL reference divider", 0x10, u16, 12),
            ("pixel PLL min output", 0x12, u32, 12500),
            ("pixel PLL max output", 0x16, u32, 35000),
            ("system PLL reference", 0x1A, u16, 2700),
            ("system PLL reference divider", 0x1C, u16, 12),
            ("system PLL min output", 0x1E, u32, 12500),
            ("system PLL max output", 0x22, u32, 35000),
            ("memory PLL reference", 0x26, u16, 2700),
            ("memory PLL reference divider", 0x28, u16, 12),
            ("memory PLL min output", 0x2A, u32, 12500),
            ("memory PLL max output", 0x2E, u32, 35000),
        )
        for what, offset, read, expected in fields:
            with self.subTest(what):
                self.assertEqual(read(rom, pll + offset), expected)


if __name__ == "__main__":
    unittest.main()
