// SPDX-License-Identifier: MIT
// SMPTE colour bars: band and bar geometry, the colour tables, and the drawing
// routines for every family of the pixel-format table.
#pragma once

#include <array>
#include <cstdint>

#include "format_layout.h"
#include "pixel_formats.h"
#include "test_pattern.h"

namespace pattern {

struct SmpteRgb {
    uint8_t r, g, b, a;
};

// The 22 SMPTE colours: top band, middle band, bottom band. Numbered in this
// order 0 to 21, which is also their "C8" palette index. Black is level 19,
// and the middle band is half transparent.
inline constexpr std::array<SmpteRgb, 7> smpte_top_rgb{{
    {192, 192, 192, 255}, // grey, 75 %
    {192, 192, 0, 255},   // yellow
    {0, 192, 192, 255},   // cyan
    {0, 192, 0, 255},     // green
    {192, 0, 192, 255},   // magenta
    {192, 0, 0, 255},     // red
    {0, 0, 192, 255},     // blue
}};
inline constexpr std::array<SmpteRgb, 7> smpte_middle_rgb{{
    {0, 0, 192, 127},     // blue
    {19, 19, 19, 127},    // black
    {192, 0, 192, 127},   // magenta
    {19, 19, 19, 127},    // black
    {0, 192, 192, 127},   // cyan
    {19, 19, 19, 127},    // black
    {192, 192, 192, 127}, // grey, 75 %
}};
inline constexpr std::array<SmpteRgb, 8> smpte_bottom_rgb{{
    {0, 33, 76, 255},     // in-phase
    {255, 255, 255, 255}, // white, 100 %
    {50, 0, 106, 255},    // quadrature
    {19, 19, 19, 255},    // black
    {9, 9, 9, 255},       // darker than black
    {19, 19, 19, 255},    // black
    {29, 29, 29, 255},    // lighter than black
    {19, 19, 19, 255},    // black
}};

// C8 index of the first colour of each band.
inline constexpr uint8_t smpte_c8_middle_base = 7;
inline constexpr uint8_t smpte_c8_bottom_base = 14;
inline constexpr uint32_t smpte_c8_palette_size = 22;

// The drawing routines store into width x height pixels from mem on, rows
// stride bytes apart (and the chroma rows of the planar formats), and
// nothing else. draw_smpte picks the one for the format's family.
void draw_smpte(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
                uint32_t height, uint32_t stride);

// The RGB, half-float and indexed formats: one pixel word per pixel.
void draw_smpte_pixels(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                       uint32_t stride);
void draw_smpte_yuv_packed(const FormatLayout &layout, uint8_t *mem, uint32_t width,
                           uint32_t height, uint32_t stride);
void draw_smpte_yuv_planar(const FormatLayout &layout, const ComponentBases<uint8_t> &planes,
                           uint32_t width, uint32_t height, uint32_t stride);

// One entry of the DRM colour lookup table (struct drm_color_lut).
struct ColorLutEntry {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
    uint16_t reserved;
};
static_assert(sizeof(ColorLutEntry) == 8, "must match the kernel's colour-LUT entry");

// Fills lut so that the indices draw_smpte_c8 writes show the SMPTE colours.
// Fewer than 22 entries: prints "Error: gamma too small: %d < %d" on
// standard output and leaves the table as it was.
void build_smpte_c8_palette(uint32_t lut_size, ColorLutEntry *lut);

} // namespace pattern
