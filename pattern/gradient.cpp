// SPDX-License-Identifier: MIT
// Gradient: a grey ramp, 10-bit in the upper half and 8-bit in the lower.
//
// A pair's value depends only on its band and on the pair number modulo
// 1024, and all rows of a band are equal: one period of each band is encoded
// once, one row is assembled from it and copied to the band's rows.
#include "gradient.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "byte_fill.h"
#include "format_layout.h"

namespace pattern {
namespace {

constexpr uint32_t ramp_pairs = 1024; // the ramp starts again after this many pairs

// 16-bit grey of pair x: the 10-bit level L = x mod 1024 in the top bits,
// its top six bits repeated below them; the lower band clears L's low bits.
uint16_t grey_level(uint32_t x, bool upper) {
    uint32_t v = (x * 64) & 0xFFFF;
    if (!upper)
        v &= 0xFF00;
    return static_cast<uint16_t>(v | ((x / 16) % 64));
}

// The same ramp as a fraction for the half-float formats, without the
// repeated low bits.
uint16_t half_level(uint32_t x, bool upper) {
    uint32_t v = (x * 64) & 0xFFFF;
    if (!upper)
        v &= 0xFF00;
    return float_to_half(static_cast<uint16_t>(v));
}

template <size_t N, typename PairValue>
void draw_ramp(uint8_t *mem, uint32_t width, uint32_t height, uint32_t stride,
               PairValue pair_value) {
    const uint32_t pairs = width / 2;
    if (pairs == 0 || height == 0)
        return;
    const uint32_t period = std::min(pairs, ramp_pairs);
    const size_t period_bytes = size_t{period} * 2 * N;
    const size_t row_bytes = size_t{pairs} * 2 * N;
    uint8_t table[ramp_pairs * 2 * N];

    const uint32_t upper_end = height / 2;
    for (const bool upper : {true, false}) {
        const uint32_t first = upper ? 0 : upper_end;
        const uint32_t end = upper ? upper_end : height;
        if (first == end)
            continue;
        for (uint32_t x = 0; x < period; ++x) {
            const PixelBytes<N> pixel = little_endian_bytes<N>(pair_value(x, upper));
            std::memcpy(table + size_t{x} * 2 * N, pixel.data(), N);
            std::memcpy(table + size_t{x} * 2 * N + N, pixel.data(), N);
        }
        draw_equal_rows(mem, stride, first, end, [&](uint8_t *row) {
            for (size_t done = 0; done < row_bytes; done += period_bytes)
                store_copy(row + done, table, std::min(period_bytes, row_bytes - done));
        });
    }
}

} // namespace

void draw_gradient(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                   uint32_t stride) {
    const RgbLayout &rgb = format.rgb;
    switch (format_layout(format).family) {
    case PixelFamily::rgb32:
        draw_ramp<4>(mem, width, height, stride, [&](uint32_t x, bool upper) {
            const uint16_t v = grey_level(x, upper);
            return pack_rgba16(rgb, v, v, v, 0);
        });
        return;
    case PixelFamily::rgb_half:
        draw_ramp<8>(mem, width, height, stride, [&](uint32_t x, bool upper) {
            const uint16_t h = half_level(x, upper);
            return pack_rgba16(rgb, h, h, h, 0);
        });
        return;
    default:
        return; // no gradient in the other formats
    }
}

} // namespace pattern
