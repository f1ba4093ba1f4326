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


def png(header: tuple, scanlines: bytes) -> bytes:
    chunk = png_file._chunk
    return (png_file.SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBBB", *header))
            + chunk(b"IDAT", zlib.compress(scanlines)) + chunk(b"IEND", b""))


class DecodeTest(unittest.TestCase):
    def test_every_filter_type(self) -> None:
        # 2x3 pixels, worked by hand: row 0 Sub, row 1 Paeth (the pixel
        # above wins both times), row 2 Average.
        rgb = bytes((10, 20, 30, 40, 50, 60, 15, 25, 35, 45, 55, 65, 20, 30, 40, 50, 60, 70))
        scanlines = bytes((1, 10, 20, 30, 30, 30, 30, 4, 5, 5, 5, 5, 5, 5,
                           3, 13, 18, 23, 18, 18, 18))
        self.assertEqual(png_file.decode_rgb(png((2, 3, 8, 2, 0, 0, 0), scanlines)), (2, 3, rgb))
        for width, height, picture in ((2, 3, rgb), (4, 4, bytes(range(48)))):
            with self.subTest(encoded=f"{width}x{height}"):
                encoded = png_file.encode_rgb(width, height, picture)
                self.assertEqual(png_file.decode_rgb(encoded), (width, height, picture))

    def test_what_it_refuses(self) -> None:
        cases = (
            ("RGBA", png((1, 1, 8, 6, 0, 0, 0), bytes(5)), "not an 8-bit RGB PNG"),
            ("interlaced", png((1, 1, 8, 2, 0, 0, 1), bytes(4)), "without interlacing"),
            ("filter 5", png((1, 1, 8, 2, 0, 0, 0), bytes((5, 1, 2, 3))), "filter type 5"),
            ("short", png((2, 1, 8, 2, 0, 0, 0), bytes(4)), "holds 4 bytes"),
            ("not a PNG", b"GIF89a", "not a PNG"),
        )
        for name, data, message in cases:
            with self.subTest(name), self.assertRaisesRegex(ValueError, message):
                png_file.decode_rgb(data)


if __name__ == "__main__":
    unittest.main()
