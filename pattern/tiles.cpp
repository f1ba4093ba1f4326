// Tiles: diagonal bands of colour along lines of constant x + y.
#include "tiles.h"

#include <cstdint>

namespace {

void store_le(uint8_t *p, uint64_t value, unsigned bytes)
{
    for (unsigned i = 0; i < bytes; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint8_t tile_alpha(uint32_t x, uint32_t y, uint32_t width, uint32_t height)
{
    return (y < height / 2 && x < width / 2) ? 127 : 255;
}

} // namespace

TileRgb tile_color(uint32_t x, uint32_t y, uint32_t width)
{
    const uint32_t n = x + y;
    const uint32_t q = n / width;
    const uint32_t r = n % width;
    const uint32_t c = 0x130502u * (q >> 6) + 0x0A1120u * (r >> 6);
    return {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
}

void draw_tiles_yuv_packed(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                           uint32_t height, uint32_t stride)
{
    const uint32_t order = format.yuv.order;
    const uint64_t luma_base = (order & luma_first) ? 0 : 1;
    const uint64_t chroma_base = (order & chroma_first) ? 0 : 1;
    const uint64_t cb_offset = (order & cr_before_cb) ? 2 : 0;
    const uint64_t cr_offset = (order & cb_before_cr) ? 2 : 0;
    const uint64_t row_bytes = 2ull * width;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + static_cast<uint64_t>(y) * stride;
        for (uint32_t x = 0; x < width; x += 2) {
            const TileRgb rgb = tile_color(x, y, width);
            const YuvColor c = rgb_to_yuv601(rgb.r, rgb.g, rgb.b);
            const uint64_t at = 2ull * x;
            // An unpaired last pixel keeps only what lies within the row's
            // 2 x width bytes: its luma and the first chroma byte of its group.
            const uint64_t bytes[3][2] = {{at + luma_base, c.y},
                                          {at + chroma_base + cb_offset, c.cb},
                                          {at + chroma_base + cr_offset, c.cr}};
            for (const auto &b : bytes)
                if (b[0] < row_bytes)
                    row[b[0]] = static_cast<uint8_t>(b[1]);
            if (at + luma_base + 2 < row_bytes)
                row[at + luma_base + 2] = c.y;
        }
    }
}

void draw_tiles_yuv_planar(const PixelFormatInfo &format, uint8_t *y_plane, uint8_t *cb_plane,
                           uint8_t *cr_plane, uint32_t width, uint32_t height, uint32_t stride)
{
    const YuvLayout &yuv = format.yuv;
    const uint32_t step = stride * yuv.chroma_stride / yuv.xsub;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *luma = y_plane + static_cast<uint64_t>(y) * stride;
        const uint64_t chroma_row = static_cast<uint64_t>(y / yuv.ysub) * step;
        for (uint32_t x = 0; x < width; ++x) {
            const TileRgb rgb = tile_color(x, y, width);
            const YuvColor c = rgb_to_yuv601(rgb.r, rgb.g, rgb.b);
            luma[x] = c.y;
            const uint32_t i = x / yuv.xsub * yuv.chroma_stride;
            cb_plane[chroma_row + i] = c.cb;
            cr_plane[chroma_row + i] = c.cr;
        }
    }
}

void draw_tiles_rgb16(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                      uint32_t height, uint32_t stride)
{
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + static_cast<uint64_t>(y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            const TileRgb c = tile_color(x, y, width);
            store_le(row + 2ull * x, pack_rgba(format.rgb, c.r, c.g, c.b, 255), 2);
        }
    }
}

void draw_tiles_rgb24(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                      uint32_t height, uint32_t stride)
{
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + static_cast<uint64_t>(y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            const TileRgb c = tile_color(x, y, width);
            store_le(row + 3ull * x, pack_rgba(format.rgb, c.r, c.g, c.b, 255), 3);
        }
    }
}

void draw_tiles_rgb32(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                      uint32_t height, uint32_t stride)
{
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + static_cast<uint64_t>(y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            const TileRgb c = tile_color(x, y, width);
            const uint8_t a = tile_alpha(x, y, width, height);
            store_le(row + 4ull * x, pack_rgba(format.rgb, c.r, c.g, c.b, a), 4);
        }
    }
}

void draw_tiles_rgb_half(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                         uint32_t height, uint32_t stride)
{
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + static_cast<uint64_t>(y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            const TileRgb c = tile_color(x, y, width);
            const uint8_t a = tile_alpha(x, y, width, height);
            store_le(row + 8ull * x, pack_rgba_half(format.rgb, c.r, c.g, c.b, a), 8);
        }
    }
}

void draw_tiles(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
                uint32_t height, uint32_t stride)
{
    if (width == 0 || height == 0)
        return;
    uint8_t *p0 = planes[0];
    uint8_t *p1 = planes[1];
    const uint32_t order = format.yuv.order;
    switch (pixel_family(format)) {
    case PixelFamily::indexed:
        return;
    case PixelFamily::yuv_packed:
        draw_tiles_yuv_packed(format, p0, width, height, stride);
        return;
    case PixelFamily::yuv_semi_planar:
        draw_tiles_yuv_planar(format, p0, p1 + ((order & cb_before_cr) ? 0 : 1),
                              p1 + ((order & cr_before_cb) ? 0 : 1), width, height, stride);
        return;
    case PixelFamily::yuv_planar:
        // YU12 holds Cb in plane 1, YV12 holds Cr there.
        if (order & cb_before_cr)
            draw_tiles_yuv_planar(format, p0, p1, planes[2], width, height, stride);
        else
            draw_tiles_yuv_planar(format, p0, planes[2], p1, width, height, stride);
        return;
    case PixelFamily::rgb16:
        draw_tiles_rgb16(format, p0, width, height, stride);
        return;
    case PixelFamily::rgb24:
        draw_tiles_rgb24(format, p0, width, height, stride);
        return;
    case PixelFamily::rgb32:
        draw_tiles_rgb32(format, p0, width, height, stride);
        return;
    case PixelFamily::rgb_half:
        draw_tiles_rgb_half(format, p0, width, height, stride);
        return;
    }
}
