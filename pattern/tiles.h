// Tiles: diagonal bands whose colour changes every 64 steps of x + y.
#pragma once

#include <cstdint>

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

void draw_tiles_yuv_packed(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                           uint32_t height, uint32_t stride);
void draw_tiles_yuv_planar(const PixelFormatInfo &format, uint8_t *y_plane, uint8_t *cb_plane,
                           uint8_t *cr_plane, uint32_t width, uint32_t height, uint32_t stride);
void draw_tiles_rgb16(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride);
void draw_tiles_rgb24(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride);
void draw_tiles_rgb32(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride);
void draw_tiles_rgb_half(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                         uint32_t height, uint32_t stride);

} // namespace pattern
