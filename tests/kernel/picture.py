# SPDX-License-Identifier: MIT
"""Comparing what the emulated screen shows with the generator's picture."""

import enum

from qemu_machine import Picture


class Shown(enum.Enum):
    EXACT = "exact picture"
    BLACK = "black"
    OTHER = "something else"


def xr24_to_rgb(raw: bytes, width: int, height: int) -> bytes:
    """Tightly packed XR24 (bytes B, G, R, X per pixel) as R, G, B bytes."""
    if len(raw) != width * height * 4:
        raise ValueError(f"XR24 picture of {width}x{height} should hold "
                         f"{width * height * 4} bytes, not {len(raw)}")
    rgb = bytearray(width * height * 3)
    rgb[0::3] = raw[2::4]
    rgb[1::3] = raw[1::4]
    rgb[2::3] = raw[0::4]
    return bytes(rgb)


def classify(shown: Picture, expected: Picture) -> Shown:
    if (shown.width, shown.height) == (expected.width, expected.height):
        if shown.rgb == expected.rgb:
            return Shown.EXACT
        if not shown.rgb.strip(b"\0"):
            return Shown.BLACK
    return Shown.OTHER


def differences(shown: Picture, expected: Picture, limit: int = 5) -> str:
    """A short account of where two pictures differ."""
    if (shown.width, shown.height) != (expected.width, expected.height):
        return f"screen is {shown.width}x{shown.height}, picture {expected.width}x{expected.height}"
    wrong = []
    count = 0
    for offset in range(0, len(expected.rgb), 3):
        if shown.rgb[offset:offset + 3] != expected.rgb[offset:offset + 3]:
            count += 1
            if len(wrong) < limit:
                pixel = offset // 3
                wrong.append(f"({pixel % shown.width},{pixel // shown.width}) shows "
                             f"{shown.rgb[offset:offset + 3].hex()} "
                             f"instead of {expected.rgb[offset:offset + 3].hex()}")
    return f"{count} of {shown.width * shown.height} pixels differ: " + "; ".join(wrong)
