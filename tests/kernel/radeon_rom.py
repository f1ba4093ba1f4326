# SPDX-License-Identifier: MIT
"""A minimal legacy video BIOS image for QEMU's emulated Radeon 7000 (RV100).

Without a video BIOS the radeon driver reads PLL parameters from registers
that QEMU leaves at zero and divides by zero on the first mode set. The
driver only needs the legacy ("COMBIOS") PLL information table from the
BIOS, so this image is little more than that table behind the headers
the PCI core and the driver check:

- option ROM header: 0x55 0xAA, size in 512-byte blocks, an entry point at
  offset 3 (a far return, so the firmware's call into it does nothing);
- PCI data structure ("PCIR") pointed to from offset 0x18: vendor and
  device id, class "VGA compatible", code type 0 (x86), last image;
- BIOS header pointed to from offset 0x48, not marked "ATOM" (at +4), with
  its size at +6 (only table pointers below it are read) and the PLL table
  pointer at +0x30;
- PLL table, revision 9: default memory and engine clocks, then reference
  frequency and divider and output limits of the pixel, system and memory
  PLLs, frequencies in units of 10 kHz;
- a final byte that makes all bytes sum to zero.
"""

import struct
import sys

ROM_SIZE = 4096
ATI_VENDOR_ID = 0x1002
RV100_DEVICE_ID = 0x5159   # what QEMU's ati-vga reports for model=rv100
VGA_CLASS_CODE = 0x030000

PCIR_OFFSET = 0xC0        # clear of the pointers at 0x18 and 0x48
BIOS_HEADER_POINTER = 0x48
BIOS_HEADER_OFFSET = 0x60
BIOS_HEADER_SIZE = 0x40     # covers the PLL pointer at +0x30
PLL_POINTER_IN_HEADER = 0x30
PLL_TABLE_OFFSET = 0x100
PLL_TABLE_REVISION = 9

# Clocks in units of 10 kHz.
ENGINE_CLOCK = 16600        # 166 MHz
MEMORY_CLOCK = 16600
REFERENCE_FREQUENCY = 2700  # 27 MHz crystal
REFERENCE_DIVIDER = 12
PLL_OUTPUT_MIN = 12500      # 125 MHz
PLL_OUTPUT_MAX = 35000      # 350 MHz; also the driver's pixel clock limit

# Offsets inside the PLL table.
PLL_MEMORY_CLOCK = 0x08
PLL_ENGINE_CLOCK = 0x0A
PIXEL_PLL = 0x0E
SYSTEM_PLL = 0x1A
MEMORY_PLL = 0x26


def _put_pll(rom: bytearray, offset: int) -> None:
    """Reference frequency and divider (16 bit each), output min and max (32 bit each)."""
    struct.pack_into("<HHII", rom, offset, REFERENCE_FREQUENCY, REFERENCE_DIVIDER,
                     PLL_OUTPUT_MIN, PLL_OUTPUT_MAX)


def build_rom() -> bytes:
    rom = bytearray(ROM_SIZE)
    rom[0:3] = bytes((0x55, 0xAA, ROM_SIZE // 512))
    rom[3] = 0xCB  # retf

    struct.pack_into("<H", rom, 0x18, PCIR_OFFSET)
    pcir = PCIR_OFFSET
    rom[pcir:pcir + 4] = b"PCIR"
    struct.pack_into("<HH", rom, pcir + 0x04, ATI_VENDOR_ID, RV100_DEVICE_ID)
    struct.pack_into("<H", rom, pcir + 0x0A, 0x18)                  # structure length
    rom[pcir + 0x0D:pcir + 0x10] = VGA_CLASS_CODE.to_bytes(3, "little")
    struct.pack_into("<H", rom, pcir + 0x10, ROM_SIZE // 512)       # image length
    rom[pcir + 0x14] = 0                                            # code type: x86
    rom[pcir + 0x15] = 0x80                                         # last image

    struct.pack_into("<H", rom, BIOS_HEADER_POINTER, BIOS_HEADER_OFFSET)
    header = BIOS_HEADER_OFFSET
    # +4..+7 would read "ATOM" in an AtomBIOS; here +4 and +5 stay zero
    # and +6 is the legacy header's size.
    rom[header + 6] = BIOS_HEADER_SIZE
    struct.pack_into("<H", rom, header + PLL_POINTER_IN_HEADER, PLL_TABLE_OFFSET)

    pll = PLL_TABLE_OFFSET
    rom[pll] = PLL_TABLE_REVISION
    struct.pack_into("<HH", rom, pll + PLL_MEMORY_CLOCK, MEMORY_CLOCK, ENGINE_CLOCK)
    for offset in (PIXEL_PLL, SYSTEM_PLL, MEMORY_PLL):
        _put_pll(rom, pll + offset)

    rom[-1] = -sum(rom[:-1]) % 256
    return bytes(rom)


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print(f"usage: {argv[0]} OUTPUT", file=sys.stderr)
        return 2
    with open(argv[1], "wb") as f:
        f.write(build_rom())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
