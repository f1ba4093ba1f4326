// SMPTE colour bars for the RGB, half-float and indexed formats.
//
// A row of the picture is a handful of runs of one colour (7 in the top and
// middle bands, at most 9 in the bottom band), so each run is filled from a
// small block that holds the colour's pixel repeated, with fixed-size copies
// the compiler turns into wide stores. The buffer is never read back: a
// framebuffer mapping is often uncached for reads.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "smpte.h"
#include "smpte_geometry.h"

namespace {

// Fills runs of one pixel value of Bpp bytes, stored least significant byte
// first whatever the host's byte order.
template <uint32_t Bpp>
class RunFiller {
public:
    // A whole number of pixels, and a multiple of 32 bytes for wide stores.
    static constexpr size_t block_bytes = Bpp == 3 ? 96 : 64;

    RunFiller() = default;

    explicit RunFiller(uint64_t value)
    {
        for (size_t i = 0; i < block_bytes; ++i)
            block_[i] = static_cast<uint8_t>(value >> (8 * (i % Bpp)));
    }

    void fill(uint8_t *dst, size_t pixels) const
    {
        size_t bytes = pixels * Bpp;
        while (bytes >= block_bytes) {
            std::memcpy(dst, block_.data(), block_bytes);
            dst += block_bytes;
            bytes -= block_bytes;
        }
        std::memcpy(dst, block_.data(), bytes);
    }

private:
    std::array<uint8_t, block_bytes> block_{};
};

// The 22 colours as pixel values of one format, in C8-index order.
using SmpteValues = std::array<uint64_t, smpte_c8_palette_size>;

template <typename Pack>
SmpteValues pack_smpte_colors(Pack pack)
{
    SmpteValues values{};
    size_t i = 0;
    for (const SmpteRgb &c : smpte_top_rgb)
        values[i++] = pack(c);
    for (const SmpteRgb &c : smpte_middle_rgb)
        values[i++] = pack(c);
    for (const SmpteRgb &c : smpte_bottom_rgb)
        values[i++] = pack(c);
    return values;
}

// Draws rows top to bottom and each row left to right, one store per pixel,
// so that overlapping rows (a stride below the row's pixel bytes) end up as
// the one-pixel-at-a-time order would leave them.
template <uint32_t Bpp>
void draw_smpte_rows(const SmpteValues &values, uint8_t *mem, uint32_t width, uint32_t height,
                     uint32_t stride)
{
    if (width == 0 || height == 0)
        return;

    std::array<RunFiller<Bpp>, smpte_c8_palette_size> fillers;
    for (size_t i = 0; i < values.size(); ++i)
        fillers[i] = RunFiller<Bpp>(values[i]);

    const SmpteBandRows bands = smpte_band_rows(height);
    const SmpteRowRuns bars = smpte_bar_runs(width);
    const SmpteRowRuns bottom = smpte_bottom_runs(width);

    uint8_t *row = mem;
    auto draw_band = [&](uint32_t first, uint32_t end, const SmpteRowRuns &runs,
                         const RunFiller<Bpp> *band_fillers) {
        for (uint32_t y = first; y < end; ++y, row += stride)
            for (const SmpteRun &run : runs)
                band_fillers[run.entry].fill(row + size_t{run.begin} * Bpp, run.end - run.begin);
    };
    draw_band(0, bands.top_end, bars, &fillers[0]);
    draw_band(bands.top_end, bands.middle_end, bars, &fillers[smpte_c8_middle_base]);
    draw_band(bands.middle_end, height, bottom, &fillers[smpte_c8_bottom_base]);
}

SmpteValues pack_smpte_rgb(const RgbLayout &layout)
{
    return pack_smpte_colors(
        [&](const SmpteRgb &c) -> uint64_t { return pack_rgba(layout, c.r, c.g, c.b, c.a); });
}

} // namespace

void draw_smpte_rgb16(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride)
{
    draw_smpte_rows<2>(pack_smpte_rgb(layout), mem, width, height, stride);
}

void draw_smpte_rgb24(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride)
{
    draw_smpte_rows<3>(pack_smpte_rgb(layout), mem, width, height, stride);
}

void draw_smpte_rgb32(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride)
{
    draw_smpte_rows<4>(pack_smpte_rgb(layout), mem, width, height, stride);
}

void draw_smpte_rgb_half(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                         uint32_t stride)
{
    const SmpteValues values = pack_smpte_colors(
        [&](const SmpteRgb &c) { return pack_rgba_half(layout, c.r, c.g, c.b, c.a); });
    draw_smpte_rows<8>(values, mem, width, height, stride);
}

void draw_smpte_c8(uint8_t *mem, uint32_t width, uint32_t height, uint32_t stride)
{
    SmpteValues indices{};
    for (size_t i = 0; i < indices.size(); ++i)
        indices[i] = i;
    draw_smpte_rows<1>(indices, mem, width, height, stride);
}

void build_smpte_c8_palette(uint32_t lut_size, ColorLutEntry *lut)
{
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
