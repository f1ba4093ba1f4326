// SPDX-License-Identifier: MIT
// Plain per-pixel drawings of the YUV SMPTE bars, the tiles and the gradient,
// written straight from their definitions and meant to be obviously right
// rather than fast. The optimised routines must match them byte for byte.
#pragma once

#include <cstdint>

#include "pixel_formats.h"
#include "test_pattern.h"

namespace reference {

using namespace pattern;

// Colour entry of column x in the bottom band (0..7), in 32-bit arithmetic.
// Widths 4 to 6 have no room for the narrow steps: that one column is black
// (entry 7), never computed by dividing by width / 7.
uint32_t smpte_bottom_entry(uint32_t x, uint32_t width);

// SMPTE bars for the ten YUV formats, with the plane addresses chosen as
// fill_test_pattern chooses them.
void smpte_yuv(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
               uint32_t height, uint32_t stride);

void tiles(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
           uint32_t height, uint32_t stride);

void gradient(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
              uint32_t stride);

// Draws `pattern` (tiles, smpte on a YUV format, or gradient).
void draw(const PixelFormatInfo &format, TestPattern pattern, const PlanePointers &planes,
          uint32_t width, uint32_t height, uint32_t stride);

} // namespace reference
