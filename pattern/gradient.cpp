// Gradient: a grey ramp, 10-bit in the upper half and 8-bit in the lower.
#include "gradient.h"

#include <cstdint>

namespace {

void store_le(uint8_t *p, uint64_t value, unsigned bytes)
{
    for (unsigned i = 0; i < bytes; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

void draw_gradient(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                   uint32_t stride)
{
    const PixelFamily family = pixel_family(format);
    if (family != PixelFamily::rgb32 && family != PixelFamily::rgb_half)
        return;
    const bool half = family == PixelFamily::rgb_half;
    const unsigned bytes = half ? 8 : 4;
    const uint32_t upper_rows = height / 2;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + static_cast<uint64_t>(y) * stride;
        const bool upper = y < upper_rows;
        for (uint32_t x = 0; x < width / 2; ++x) {
            uint32_t v = (x * 64) & 0xFFFF;
            if (!upper)
                v &= 0xFF00;
            uint64_t pixel;
            if (half) {
                const uint16_t h = float_to_half(static_cast<uint16_t>(v));
                pixel = pack_rgba16(format.rgb, h, h, h, 0);
            } else {
                v |= (x / 16) % 64;
                const auto g = static_cast<uint16_t>(v);
                pixel = pack_rgba16(format.rgb, g, g, g, 0);
            }
            store_le(row + 2ull * x * bytes, pixel, bytes);
            store_le(row + (2ull * x + 1) * bytes, pixel, bytes);
        }
    }
}
