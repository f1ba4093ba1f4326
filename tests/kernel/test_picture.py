# SPDX-License-Identifier: MIT
"""Screendump parsing and the comparison with the generator's picture."""

import unittest

import picture
from picture import Shown
from qemu_machine import Picture, parse_ppm


class PpmTest(unittest.TestCase):
    def test_parses_qemu_style_and_commented_headers(self) -> None:
        pixels = bytes(range(2 * 3 * 3))
        for header in (b"P6\n2 3\n255\n", b"P6 2 3 255\n", b"P6\n# made by hand\n2\t3\n255\n"):
            with self.subTest(header=header):
                self.assertEqual(parse_ppm(header + pixels), Picture(2, 3, pixels))

    def test_pixel_bytes_that_look_like_whitespace_are_data(self) -> None:
        pixels = b"\n \t" * 2
        self.assertEqual(parse_ppm(b"P6\n2 1\n255\n" + pixels).rgb, pixels)

    def test_rejects(self) -> None:
        cases = (
            (b"P3\n1 1\n255\n0 0 0\n", "unsupported"),
            (b"P6\n1 1\n65535\n" + bytes(6), "unsupported"),
            (b"P6\n2 2\n255\n" + bytes(11), "holds 11 bytes"),
            (b"P6\n2", "truncated"),
        )
        for data, message in cases:
            with self.subTest(message), self.assertRaisesRegex(ValueError, message):
                parse_ppm(data)


class CompareTest(unittest.TestCase):
    expected = Picture(2, 1, bytes((0x10, 0x20, 0x30, 0xC0, 0x00, 0xC0)))

    def test_xr24_byte_order(self) -> None:
        # Words 0x00102030 and 0x00C000C0 stored least significant byte first.
        raw = bytes((0x30, 0x20, 0x10, 0x00, 0xC0, 0x00, 0xC0, 0x00))
        self.assertEqual(picture.xr24_to_rgb(raw, 2, 1), self.expected.rgb)
        with self.assertRaisesRegex(ValueError, "should hold 8 bytes"):
            picture.xr24_to_rgb(raw + b"\0", 2, 1)

    def test_classify(self) -> None:
        cases = (
            (Picture(2, 1, self.expected.rgb), Shown.EXACT),
            (Picture(2, 1, bytes(6)), Shown.BLACK),
            (Picture(2, 1, self.expected.rgb[:5] + b"\xc1"), Shown.OTHER),
            (Picture(1, 2, self.expected.rgb), Shown.OTHER),
            (Picture(1, 1, bytes(3)), Shown.OTHER),  # black, but not the screen's size
        )
        for shown, result in cases:
            with self.subTest(shown=shown):
                self.assertEqual(picture.classify(shown, self.expected), result)

    def test_differences_name_pixels_by_position(self) -> None:
        shown = Picture(2, 1, self.expected.rgb[:3] + bytes(3))
        self.assertEqual(picture.differences(shown, self.expected),
                         "1 of 2 pixels differ: (1,0) shows 000000 instead of c000c0")
        self.assertIn("screen is 1x2", picture.differences(Picture(1, 2, bytes(6)), self.expected))


if __name__ == "__main__":
    unittest.main()
