// SMPTE colour bars: band and bar geometry, the colour tables, and the drawing
// routines for every family of the pixel-format table.
#pragma once

#include <cstdint>

#include "pixel_formats.h"

struct SmpteRgb {
    uint8_t r, g, b, a;
};

// The drawing routines store into width x height pixels from mem on, rows
// stride bytes apart, and nothing else.
void draw_smpte_rgb16(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride);
void draw_smpte_rgb24(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride);
void draw_smpte_rgb32(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride);
void draw_smpte_rgb_half(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                         uint32_t stride);
void draw_smpte_c8(uint8_t *mem, uint32_t width, uint32_t height, uint32_t stride);

void draw_smpte_yuv_packed(const YuvLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                           uint32_t stride);
void draw_smpte_yuv_planar(const YuvLayout &layout, uint8_t *y_plane, uint8_t *cb_plane,
                           uint8_t *cr_plane, uint32_t width, uint32_t height, uint32_t stride);

// One entry of the DRM colour lookup table (struct drm_color_lut).
struct ColorLutEntry {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
    uint16_t reserved;
};

// Fills lut so that the indices draw_smpte_c8 writes show the SMPTE colours.
// Fewer than 22 entries: prints "Error: gamma too small: %d < %d" on
// standard output and leaves the table as it was.
void build_smpte_c8_palette(uint32_t lut_size, ColorLutEntry *lut);
