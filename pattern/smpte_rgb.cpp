// SPDX-License-Identifier: MIT
// SMPTE colour bars for the RGB, half-float and indexed formats, and the
// choice of routine for every family.
//
// The picture has three distinct rows (top, middle, bottom band), each a
// handful of runs of one colour: every row is stored run by run from vector
// registers holding the colour's pixel repeated.
#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "byte_fill.h"
#include "smpte.h"
#include "smpte_geometry.h"

namespace pattern {
namespace {

// The 22 colours as pixel values of one format, in C8-index order.
std::array<uint64_t, smpte_c8_palette_size> smpte_pixel_values(const PixelFormatInfo &format,
                                                               const FormatLayout &layout) {
    std::array<uint64_t, smpte_c8_palette_size> values{};
    size_t i = 0;
    auto add = [&](const SmpteRgb &c) {
        if (layout.family == PixelFamily::indexed)
            values[i] = i;
        else if (layout.half_float)
            values[i] = pack_rgba_half(format.rgb, c.r, c.g, c.b, c.a);
        else
            values[i] = pack_rgba(format.rgb, c.r, c.g, c.b, c.a);
        ++i;
    };
    std::for_each(smpte_top_rgb.begin(), smpte_top_rgb.end(), add);
    std::for_each(smpte_middle_rgb.begin(), smpte_middle_rgb.end(), add);
    std::for_each(smpte_bottom_rgb.begin(), smpte_bottom_rgb.end(), add);
    return values;
}

} // namespace

void draw_smpte_pixels(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                       uint32_t stride) {
    if (width == 0 || height == 0)
        return;
    const FormatLayout layout = format_layout(format);
    const uint32_t bpp = layout.bytes_per_pixel[0];
    const auto values = smpte_pixel_values(format, layout);
    std::array<RepeatedPixel, smpte_c8_palette_size> pixels;
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = repeat_value(values[i], bpp);

    auto band = [&](uint32_t first, uint32_t end, const SmpteRowRuns &runs, size_t color_base) {
        std::array<ByteRun, SmpteRowRuns{}.runs.size()> byte_runs{};
        size_t count = 0;
        for (const SmpteRun &run : runs)
            byte_runs[count++] = {uint64_t{run.begin} * bpp, uint64_t{run.end - run.begin} * bpp,
                                  &pixels[color_base + run.entry]};
        const std::span<const ByteRun> row_runs(byte_runs.data(), count);
        draw_equal_rows(mem, stride, first, end, [&](uint8_t *row) { store_runs(row, row_runs); });
    };
    const SmpteBandRows bands = smpte_band_rows(height);
    const SmpteRowRuns bars = smpte_bar_runs(width);
    band(0, bands.top_end, bars, 0);
    band(bands.top_end, bands.middle_end, bars, smpte_c8_middle_base);
    band(bands.middle_end, height, smpte_bottom_runs(width), smpte_c8_bottom_base);
}

void draw_smpte(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
                uint32_t height, uint32_t stride) {
    const FormatLayout layout = format_layout(format);
    switch (layout.family) {
    case PixelFamily::yuv_packed:
        draw_smpte_yuv_packed(layout, planes[0], width, height, stride);
        return;
    case PixelFamily::yuv_semi_planar:
    case PixelFamily::yuv_planar:
        draw_smpte_yuv_planar(layout, component_bases(layout, planes), width, height, stride);
        return;
    default:
        draw_smpte_pixels(format, planes[0], width, height, stride);
        return;
    }
}

void build_smpte_c8_palette(uint32_t lut_size, ColorLutEntry *lut) {
    if (lut_size < smpte_c8_palette_size) {
        std::printf("Error: gamma too small: %d < %d\n", static_cast<int>(lut_size),
                    static_cast<int>(smpte_c8_palette_size));
        return;
    }
    std::fill(lut, lut + lut_size, ColorLutEntry{});

    // 8-bit level c becomes c * 256: c in the high byte, 0 in the low byte.
    auto level = [](uint8_t c) { return static_cast<uint16_t>(c << 8); };
    size_t i = 0;
    auto set = [&](const SmpteRgb &c) { lut[i++] = {level(c.r), level(c.g), level(c.b), 0}; };
    std::for_each(smpte_top_rgb.begin(), smpte_top_rgb.end(), set);
    std::for_each(smpte_middle_rgb.begin(), smpte_middle_rgb.end(), set);
    std::for_each(smpte_bottom_rgb.begin(), smpte_bottom_rgb.end(), set);
}

} // namespace pattern
