// SMPTE colour bars for the RGB, half-float and indexed formats.
//
// The picture has three distinct rows (top, middle, bottom band), each a
// handful of runs of one colour. A row is drawn run by run from small blocks
// holding the colour's pixel repeated, then copied into every row of its
// band.
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

    explicit RunFiller(uint64_t value) {
        for (size_t i = 0; i < block_bytes; ++i)
            block_[i] = static_cast<uint8_t>(value >> (8 * (i % Bpp)));
    }

    void fill(uint8_t *dst, size_t pixels) const {
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
SmpteValues pack_smpte_colors(Pack pack) {
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

// Pixels of the row piece that is drawn once into local memory and then
// copied into every row of its band: 64 KiB, several whole rows of a
// 3840-pixel picture per copy. Measured on a 4K XR24 picture, copies of this
// size kept up with 0.8 to 0.9 of memset's speed, 32 KiB ones swung between
// 0.35 and 0.75.
template <uint32_t Bpp>
constexpr size_t chunk_pixels = 65536 / Bpp;

// Draws columns [first, first + count) of a row made of `runs` into `dst`.
template <uint32_t Bpp>
void draw_row_piece(uint8_t *dst, uint32_t first, uint32_t count, const SmpteRowRuns &runs,
                    const RunFiller<Bpp> *fillers) {
    const uint32_t last = first + count;
    for (const SmpteRun &run : runs) {
        const uint32_t begin = std::max(run.begin, first);
        const uint32_t end = std::min(run.end, last);
        if (begin < end)
            fillers[run.entry].fill(dst + size_t{begin - first} * Bpp, end - begin);
    }
}

template <uint32_t Bpp>
struct SmpteDrawing {
    uint8_t *mem;
    uint32_t width;
    uint32_t stride;
    std::array<RunFiller<Bpp>, smpte_c8_palette_size> fillers;

    // Rows [first, end) of one band. Each piece of the band's row is drawn
    // once into local memory and copied to every row: the copies run at the
    // speed of memory, and the caller's buffer, possibly an uncached mapping,
    // is never read.
    void band(uint32_t first, uint32_t end, const SmpteRowRuns &runs, size_t color_base) const {
        if (first >= end)
            return;
        alignas(64) uint8_t piece[chunk_pixels<Bpp> * Bpp];
        const size_t row_bytes = size_t{width} * Bpp;
        if (stride == row_bytes && width <= chunk_pixels<Bpp>) {
            // Rows without padding form one block: copy as many whole rows
            // at a time as the piece holds.
            const uint32_t rows_per_copy =
                static_cast<uint32_t>(std::min<size_t>(sizeof(piece) / row_bytes, end - first));
            draw_row_piece<Bpp>(piece, 0, width, runs, &fillers[color_base]);
            for (uint32_t i = 1; i < rows_per_copy; ++i)
                std::memcpy(piece + i * row_bytes, piece, row_bytes);
            // 64-bit counters: stepping past a height near 2^32 must not wrap.
            for (uint64_t y = first; y < end; y += rows_per_copy) {
                const uint64_t rows = std::min<uint64_t>(rows_per_copy, end - y);
                std::memcpy(mem + y * stride, piece, rows * row_bytes);
            }
            return;
        }
        for (uint64_t x = 0; x < width; x += chunk_pixels<Bpp>) {
            const auto count =
                static_cast<uint32_t>(std::min<uint64_t>(chunk_pixels<Bpp>, width - x));
            draw_row_piece<Bpp>(piece, static_cast<uint32_t>(x), count, runs, &fillers[color_base]);
            for (uint32_t y = first; y < end; ++y)
                std::memcpy(mem + size_t{y} * stride + x * Bpp, piece, size_t{count} * Bpp);
        }
    }

    // Rows that overlap (a stride below the row's pixel bytes) are drawn in
    // place, top to bottom and left to right, so that later rows win exactly
    // as in a pixel-by-pixel drawing.
    void band_in_place(uint32_t first, uint32_t end, const SmpteRowRuns &runs,
                       size_t color_base) const {
        for (uint32_t y = first; y < end; ++y)
            draw_row_piece<Bpp>(mem + size_t{y} * stride, 0, width, runs, &fillers[color_base]);
    }
};

template <uint32_t Bpp>
void draw_smpte_rows(const SmpteValues &values, uint8_t *mem, uint32_t width, uint32_t height,
                     uint32_t stride) {
    if (width == 0 || height == 0)
        return;

    SmpteDrawing<Bpp> drawing{mem, width, stride, {}};
    for (size_t i = 0; i < values.size(); ++i)
        drawing.fillers[i] = RunFiller<Bpp>(values[i]);

    const SmpteBandRows bands = smpte_band_rows(height);
    const SmpteRowRuns bars = smpte_bar_runs(width);
    const SmpteRowRuns bottom = smpte_bottom_runs(width);
    const bool overlapping = stride < size_t{width} * Bpp;
    auto band = [&](uint32_t first, uint32_t end, const SmpteRowRuns &runs, size_t color_base) {
        if (overlapping)
            drawing.band_in_place(first, end, runs, color_base);
        else
            drawing.band(first, end, runs, color_base);
    };
    band(0, bands.top_end, bars, 0);
    band(bands.top_end, bands.middle_end, bars, smpte_c8_middle_base);
    band(bands.middle_end, height, bottom, smpte_c8_bottom_base);
}

SmpteValues pack_smpte_rgb(const RgbLayout &layout) {
    return pack_smpte_colors(
        [&](const SmpteRgb &c) -> uint64_t { return pack_rgba(layout, c.r, c.g, c.b, c.a); });
}

} // namespace

void draw_smpte_rgb16(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride) {
    draw_smpte_rows<2>(pack_smpte_rgb(layout), mem, width, height, stride);
}

void draw_smpte_rgb24(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride) {
    draw_smpte_rows<3>(pack_smpte_rgb(layout), mem, width, height, stride);
}

void draw_smpte_rgb32(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride) {
    draw_smpte_rows<4>(pack_smpte_rgb(layout), mem, width, height, stride);
}

void draw_smpte_rgb_half(const RgbLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                         uint32_t stride) {
    const SmpteValues values = pack_smpte_colors(
        [&](const SmpteRgb &c) { return pack_rgba_half(layout, c.r, c.g, c.b, c.a); });
    draw_smpte_rows<8>(values, mem, width, height, stride);
}

void draw_smpte_c8(uint8_t *mem, uint32_t width, uint32_t height, uint32_t stride) {
    SmpteValues indices{};
    for (size_t i = 0; i < indices.size(); ++i)
        indices[i] = i;
    draw_smpte_rows<1>(indices, mem, width, height, stride);
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
