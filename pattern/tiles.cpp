// Tiles: diagonal bands of colour along lines of constant x + y.
//
// Along a row the colour only changes where x + y crosses a multiple of 64
// or of the width, so each row is drawn as runs of up to 64 equal pixels,
// encoded once per run and filled with wide stores. The result is byte for
// byte what encoding every pixel on its own gives, including the planar
// chroma, where the last pixel drawn in each block decides the sample.
#include "tiles.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "byte_fill.h"

namespace {

constexpr uint32_t tile_size = 64;

TileRgb tile_color_of(uint32_t q, uint32_t r)
{
    const uint32_t c = 0x130502u * (q >> 6) + 0x0A1120u * (r >> 6);
    return {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
}

// Steps along one row, keeping x + y as quotient and remainder by the width
// so that no division is needed per run.
class TileRowWalker {
public:
    TileRowWalker(uint32_t x, uint32_t y, uint32_t width)
        : width_(width), q_((x + y) / width), r_((x + y) % width)
    {
    }

    // Pixels from here on that share the current colour.
    uint32_t run_length() const { return std::min(tile_size - r_ % tile_size, width_ - r_); }
    TileRgb color() const { return tile_color_of(q_, r_); }

    void advance(uint32_t pixels)
    {
        r_ += pixels;
        while (r_ >= width_) {
            r_ -= width_;
            ++q_;
        }
    }

private:
    uint32_t width_;
    uint32_t q_;
    uint32_t r_;
};

YuvColor tile_yuv(const TileRgb &c)
{
    return rgb_to_yuv601(c.r, c.g, c.b);
}

// Shared by the RGB families: N bytes per pixel, `encode(color, alpha)`
// giving the pixel word. With `alpha_quarter`, pixels left of width / 2 in
// rows above height / 2 get alpha 127, all others 255.
template <size_t N, typename Encode>
void draw_tiles_rgb(uint8_t *mem, uint32_t width, uint32_t height, uint32_t stride,
                    bool alpha_quarter, Encode encode)
{
    if (width == 0)
        return;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + uint64_t{y} * stride;
        const uint32_t translucent_end = (alpha_quarter && y < height / 2) ? width / 2 : 0;
        TileRowWalker walker(0, y, width);
        for (uint32_t x = 0; x < width;) {
            uint32_t length = std::min(walker.run_length(), width - x);
            if (x < translucent_end)
                length = std::min(length, translucent_end - x);
            const uint8_t alpha = x < translucent_end ? 127 : 255;
            const PixelBytes<N> pixel = little_endian_bytes<N>(encode(walker.color(), alpha));
            fill_pixels(row + uint64_t{x} * N, pixel, length);
            walker.advance(length);
            x += length;
        }
    }
}

} // namespace

TileRgb tile_color(uint32_t x, uint32_t y, uint32_t width)
{
    const uint32_t n = x + y;
    return tile_color_of(n / width, n % width);
}

void draw_tiles_yuv_packed(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                           uint32_t height, uint32_t stride)
{
    if (width == 0)
        return;
    const uint32_t order = format.yuv.order;
    const uint32_t luma = (order & luma_first) ? 0 : 1;
    const uint32_t chroma = (order & chroma_first) ? 0 : 1;
    const uint32_t cb = chroma + ((order & cr_before_cb) ? 2 : 0);
    const uint32_t cr = chroma + ((order & cb_before_cr) ? 2 : 0);

    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + uint64_t{y} * stride;
        TileRowWalker walker(0, y, width);
        // x is always even: both pixels of a pair take the left one's colour.
        for (uint32_t x = 0; x < width;) {
            const uint32_t run_end = x + std::min(walker.run_length(), width - x);
            const YuvColor c = tile_yuv(walker.color());
            PixelBytes<4> pair{};
            pair[luma] = c.y;
            pair[luma + 2] = c.y;
            pair[cb] = c.cb;
            pair[cr] = c.cr;
            // Pairs whose left pixel lies in [x, run_end).
            uint32_t pairs = (run_end - x + 1) / 2;
            const bool unpaired_last = run_end == width && width % 2 != 0;
            if (unpaired_last)
                --pairs;
            fill_pixels(row + 2 * uint64_t{x}, pair, pairs);
            if (unpaired_last) {
                // Nothing goes past 2 x width bytes: the last pixel keeps its
                // luma and the first chroma byte of its pair.
                uint8_t *last = row + 2 * (uint64_t{width} - 1);
                last[0] = pair[0];
                last[1] = pair[1];
                break;
            }
            walker.advance(2 * pairs);
            x += 2 * pairs;
        }
    }
}

void draw_tiles_yuv_planar(const PixelFormatInfo &format, uint8_t *y_plane, uint8_t *cb_plane,
                           uint8_t *cr_plane, uint32_t width, uint32_t height, uint32_t stride)
{
    if (width == 0 || height == 0)
        return;
    const YuvLayout &yuv = format.yuv;

    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = y_plane + uint64_t{y} * stride;
        TileRowWalker walker(0, y, width);
        for (uint32_t x = 0; x < width;) {
            const uint32_t length = std::min(walker.run_length(), width - x);
            fill_pixels(row + x, PixelBytes<1>{tile_yuv(walker.color()).y}, length);
            walker.advance(length);
            x += length;
        }
    }

    // Each sample ends up with the colour of the last pixel of its block that
    // is drawn: the block's last column within the width, on the block's
    // last row within the height. Samples are written once, with that colour.
    const uint32_t step = stride * yuv.chroma_stride / yuv.xsub;
    const uint32_t rows = static_cast<uint32_t>((uint64_t{height} + yuv.ysub - 1) / yuv.ysub);
    const uint32_t samples = static_cast<uint32_t>((uint64_t{width} + yuv.xsub - 1) / yuv.xsub);
    // Samples whose block ends (within the width) before column x.
    auto samples_before = [&](uint32_t x) { return x >= width ? samples : x / yuv.xsub; };
    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t last_row =
            static_cast<uint32_t>(std::min(uint64_t{r + 1} * yuv.ysub, uint64_t{height}) - 1);
        uint8_t *cb_row = cb_plane + uint64_t{r} * step;
        uint8_t *cr_row = cr_plane + uint64_t{r} * step;
        TileRowWalker walker(0, last_row, width);
        for (uint32_t x = 0; x < width;) {
            const uint32_t length = std::min(walker.run_length(), width - x);
            const YuvColor c = tile_yuv(walker.color());
            fill_chroma_samples(cb_row, cr_row, yuv.chroma_stride, samples_before(x),
                        samples_before(x + length), c.cb, c.cr);
            walker.advance(length);
            x += length;
        }
    }
}

void draw_tiles_rgb16(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                      uint32_t height, uint32_t stride)
{
    draw_tiles_rgb<2>(mem, width, height, stride, false, [&](const TileRgb &c, uint8_t) {
        return pack_rgba(format.rgb, c.r, c.g, c.b, 255);
    });
}

void draw_tiles_rgb24(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                      uint32_t height, uint32_t stride)
{
    draw_tiles_rgb<3>(mem, width, height, stride, false, [&](const TileRgb &c, uint8_t) {
        return pack_rgba(format.rgb, c.r, c.g, c.b, 255);
    });
}

void draw_tiles_rgb32(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                      uint32_t height, uint32_t stride)
{
    draw_tiles_rgb<4>(mem, width, height, stride, true, [&](const TileRgb &c, uint8_t alpha) {
        return pack_rgba(format.rgb, c.r, c.g, c.b, alpha);
    });
}

void draw_tiles_rgb_half(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                         uint32_t height, uint32_t stride)
{
    draw_tiles_rgb<8>(mem, width, height, stride, true, [&](const TileRgb &c, uint8_t alpha) {
        return pack_rgba_half(format.rgb, c.r, c.g, c.b, alpha);
    });
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
