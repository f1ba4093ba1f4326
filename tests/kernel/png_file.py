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


def _unfilter(kind: int, row: bytearray, previous: bytes, pixel: int) -> bytearray:
    """One scanline undone from its filter (PNG filter types 0-4)."""
    if kind == 0:
        return row
    if kind == 2:
        if not row.strip(b"\0"):
            return bytearray(previous)  # libpng's choice for a repeated row
        return bytearray((a + b) & 0xFF for a, b in zip(row, previous))
    for i in range(len(row)):
        left = row[i - pixel] if i >= pixel else 0
        if kind == 1:
            row[i] = (row[i] + left) & 0xFF
        elif kind == 3:
            row[i] = (row[i] + ((left + previous[i]) >> 1)) & 0xFF
        elif kind == 4:
            up = previous[i]
            corner = previous[i - pixel] if i >= pixel else 0
            estimate = left + up - corner
            dl, du, dc = abs(estimate - left), abs(estimate - up), abs(estimate - corner)
            best = left if dl <= du and dl <= dc else up if du <= dc else corner
            row[i] = (row[i] + best) & 0xFF
        else:
            raise ValueError(f"unknown PNG filter type {kind}")
    return row


def decode_rgb(data: bytes) -> tuple[int, int, bytes]:
    """Width, height and RGB bytes of an 8-bit RGB PNG without interlacing
    (what testpattern --png writes); raises ValueError on anything else."""
    if not data.startswith(SIGNATURE):
        raise ValueError("not a PNG file")
    position, header, compressed = len(SIGNATURE), None, bytearray()
    while position + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        position += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            compressed += body
        elif kind == b"IEND":
            break
    if header is None or header[2:] != (8, 2, 0, 0, 0):
        raise ValueError(f"not an 8-bit RGB PNG without interlacing: {header}")
    width, height = header[0], header[1]
    stride = width * 3
    raw = zlib.decompress(bytes(compressed))
    if len(raw) != (stride + 1) * height:
        raise ValueError(f"PNG of {width}x{height} holds {len(raw)} bytes of scanlines")
    rgb = bytearray()
    previous = bytes(stride)
    for y in range(height):
        start = y * (stride + 1)
        row = _unfilter(raw[start], bytearray(raw[start + 1:start + 1 + stride]), previous, 3)
        rgb += row
        previous = bytes(row)
    return width, height, bytes(rgb)
