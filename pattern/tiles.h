// SPDX-License-Identifier: MIT
// Tiles: diagonal bands whose colour changes every 64 steps of x + y.
#pragma once

#include <cstdint>

#include "format_layout.h"
#include "pixel_formats.h"
#include "test_pattern.h"

namespace pattern {

struct TileRgb {
    uint8_t r, g, b;
};

TileRgb tile_color(uint32_t x, uint32_t y, uint32_t width);

// Draws into every format but "C8", which it leaves untouched.
void draw_tiles(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
                uint32_t height, uint32_t stride);

// The members draw_tiles picks by the format's layout.
void draw_tiles_yuv_packed(const FormatLayout &layout, uint8_t *mem, uint32_t width,
                           uint32_t height, uint32_t stride);
void draw_tiles_yuv_planar(const FormatLayout &layout, const ComponentBases<uint8_t> &planes,
                           uint32_t width, uint32_t height, uint32_t stride);
void draw_tiles_pixels(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                       uint32_t stride);

} // namespace pattern
