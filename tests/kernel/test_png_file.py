# SPDX-License-Identifier: MIT
"""PNG encoding, read back with the PNG reader Python has: zlib and the chunk layout."""

import struct
import unittest
import zlib

import png_file


def decode(data: bytes) -> tuple[int, int, bytes]:
    """Width, height and RGB of a PNG holding filters None and Up only."""
    assert data.startswith(png_file.SIGNATURE)
    position, idat, header = 8, b"", None
    while position < len(data):
        length, kind = struct.unpack_from(">I4s", data, position)
        body = data[position + 8:position + 8 + length]
        crc = struct.unpack_from(">I", data, position + 8 + length)[0]
        assert crc == zlib.crc32(kind + body), kind
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        position += 12 + length
    width, height, depth, colour = header[:4]
    assert (depth, colour) == (8, 2)
    raw = zlib.decompress(idat)
    stride = width * 3
    rgb, previous = bytearray(), bytes(stride)
    for y in range(height):
        kind, row = raw[y * (stride + 1)], raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)]
        if kind == 2:
            row = bytes((a + b) & 0xFF for a, b in zip(row, previous))
        else:
            assert kind == 0, kind
        rgb += row
        previous = row
    return width, height, bytes(rgb)


class EncodeTest(unittest.TestCase):
    def test_round_trip(self) -> None:
        bars = bytes((0xC0, 0, 0xC0, 0, 0xC0, 0xC0)) * 2
        cases = {
            "repeated rows": (4, 3, bars * 3),
            "every row different": (2, 3, bytes(range(18))),
            "one pixel": (1, 1, b"\x01\x02\x03"),
            "rows alternating": (4, 4, (bars + bars[::-1]) * 2),
        }
        for name, (width, height, rgb) in cases.items():
            with self.subTest(name):
                self.assertEqual(decode(png_file.encode_rgb(width, height, rgb)),
                                 (width, height, rgb))

    def test_rejects_a_wrong_size(self) -> None:
        with self.assertRaisesRegex(ValueError, "needs 12 bytes, not 11"):
            png_file.encode_rgb(2, 2, bytes(11))


if __name__ == "__main__":
    unittest.main()
