# SPDX-License-Identifier: MIT
"""PNG encoding of 8-bit RGB pictures, for the kernel tests' page."""

import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _chunk(kind: bytes, data: bytes) -> bytes:
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def encode_rgb(width: int, height: int, rgb: bytes) -> bytes:
    """A PNG of `rgb` (3 bytes per pixel, rows top to bottom)."""
    stride = width * 3
    if len(rgb) != stride * height:
        raise ValueError(f"{width}x{height} RGB needs {stride * height} bytes, not {len(rgb)}")
    rows = bytearray()
    zeros = bytes(stride)
    previous = None
    for y in range(height):
        row = rgb[y * stride:(y + 1) * stride]
        # A row like the one above is all zeros under the Up filter; others
        # go unfiltered (filtering in Python byte by byte would be slow).
        rows += b"\x02" + zeros if row == previous else b"\x00" + row
        previous = row
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (SIGNATURE + _chunk(b"IHDR", header)
            + _chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + _chunk(b"IEND", b""))
