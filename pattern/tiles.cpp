// SPDX-License-Identifier: MIT
// Tiles: diagonal bands of colour along lines of constant x + y.
//
// The colour of a pixel depends on n = x + y alone: on n mod width in steps
// of 64, and on (n / width) >> 6, which stays put except in buffers more than
// 63 times as tall as wide. So a row (or a chroma row, or a row of packed
// pairs: values of n in steps of 1, 2 or xsub) is a series of runs of one
// colour, at most 64 pixels long, each stored from vector registers. The
// colours of one quotient term are encoded once, as a palette indexed by
// (n mod width) / 64. Either way the bytes are those of encoding every pixel
// on its own, including the planar chroma, where the last pixel drawn in
// each block decides the sample.
#include "tiles.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "byte_fill.h"

namespace pattern {
namespace {

constexpr uint32_t tile_shift = 6;
constexpr uint32_t tile_size = 1u << tile_shift;

// The colour for quotient term q_term = (n / width) >> 6 and remainder r.
TileRgb color_at(uint32_t q_term, uint32_t r) {
    const uint32_t c = 0x130502u * q_term + 0x0A1120u * (r / tile_size);
    return {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
}

uint32_t q_term_of(uint32_t n, uint32_t width) {
    return (n / width) >> 6;
}

// Steps along n, keeping it as quotient and remainder by the width so that
// no division is needed per run.
class TileWalker {
public:
    TileWalker(uint32_t n, uint32_t width) : width_(width), q_(n / width), r_(n % width) {}

    // Values of n from here on that share the current colour.
    uint32_t run_length() const { return std::min(tile_size - r_ % tile_size, width_ - r_); }
    uint32_t q_term() const { return q_ >> 6; }
    uint32_t remainder() const { return r_; }
    uint32_t tile() const { return r_ / tile_size; }

    void advance(uint32_t steps) {
        r_ += steps;
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

// Stores the encoded values of n, n + step, n + 2 step, ... side by side,
// value_bytes each; `encode(color)` gives a colour's repeated pixel. Up to
// palette_tiles tiles across (8192 pixels) the colours come from a palette
// encoded once per quotient term, beyond that each run is encoded anew and
// stored on its own.
template <typename Encode>
class TileRunWriter {
public:
    static constexpr uint32_t palette_tiles = 128;

    TileRunWriter(uint32_t width, uint32_t step, uint32_t value_bytes, Encode encode)
        : width_(width), step_(step), value_bytes_(value_bytes), encode_(encode),
          tiles_((width + tile_size - 1) / tile_size) {}

    void write(uint8_t *dst, uint32_t n, uint32_t count) {
        TileWalker walker = walker_at(n);
        for (uint32_t i = 0; i < count;) {
            // From a tile's first value on, every whole tile up to the wrap
            // at the width is one run of per_tile values, each tile's colour
            // the next palette entry: stored in one go.
            const uint32_t r = walker.remainder();
            if (step_ <= 2 && tiles_ <= palette_tiles && r % tile_size < step_) {
                const uint32_t whole_tiles = (width_ - (r - r % tile_size)) / tile_size;
                const uint32_t runs = std::min(whole_tiles, (count - i) >> per_tile_shift_);
                if (runs != 0) {
                    const uint64_t run_bytes = uint64_t{value_bytes_} << per_tile_shift_;
                    store_run_sequence(dst, &palette(walker.q_term())[walker.tile()], runs,
                                       run_bytes, value_bytes_);
                    dst += runs * run_bytes;
                    i += runs << per_tile_shift_;
                    walker.advance(runs * tile_size);
                    continue;
                }
            }
            // A run cut by the tile's start, the width or the count.
            const uint32_t values = std::min(values_in(walker.run_length()), count - i);
            const uint32_t q_term = walker.q_term();
            const uint64_t bytes = uint64_t{values} * value_bytes_;
            if (tiles_ <= palette_tiles)
                store_repeated(dst, bytes, palette(q_term)[walker.tile()]);
            else
                store_repeated(dst, bytes, encode_(color_at(q_term, walker.tile() * tile_size)));
            dst += bytes;
            walker.advance(step_ * values);
            i += values;
        }
    }

private:
    // Values of the sequence among `length` consecutive n; steps 1 and 2
    // (every format's) without a division.
    uint32_t values_in(uint32_t length) const {
        if (step_ == 1)
            return length;
        if (step_ == 2)
            return (length + 1) / 2;
        return (length + step_ - 1) / step_;
    }

    // Successive rows start a few values of n apart: step from the last
    // row's start rather than divide anew for every row.
    TileWalker walker_at(uint32_t n) {
        if (last_start_ && n >= last_start_n_ && n - last_start_n_ <= tile_size)
            last_start_->advance(n - last_start_n_);
        else
            last_start_ = TileWalker(n, width_);
        last_start_n_ = n;
        return *last_start_;
    }

    // The colours of quotient term q_term, one per tile.
    const RepeatedPixel *palette(uint32_t q_term) {
        if (!palette_built_ || palette_q_term_ != q_term) {
            for (uint32_t t = 0; t < tiles_; ++t)
                palette_[t] = encode_(color_at(q_term, t * tile_size));
            palette_built_ = true;
            palette_q_term_ = q_term;
        }
        return palette_.data();
    }

    uint32_t width_;
    uint32_t step_;
    uint32_t value_bytes_;
    Encode encode_;
    uint32_t tiles_;
    // Values of the sequence in a whole tile, as a shift: whole tiles are
    // stored for steps 1 and 2 only.
    uint32_t per_tile_shift_ = step_ == 2 ? tile_shift - 1 : tile_shift;
    std::array<RepeatedPixel, palette_tiles> palette_;
    bool palette_built_ = false;
    uint32_t palette_q_term_ = 0;
    std::optional<TileWalker> last_start_;
    uint32_t last_start_n_ = 0;
};

template <typename Encode>
TileRunWriter<Encode> tile_writer(uint32_t width, uint32_t step, uint32_t value_bytes,
                                  Encode encode) {
    return TileRunWriter<Encode>(width, step, value_bytes, encode);
}

YuvColor tile_yuv(const TileRgb &c) {
    return rgb_to_yuv601(c.r, c.g, c.b);
}

// Both pixels of a packed pair take the colour of the left one.
PixelBytes<4> packed_pair(const FormatLayout &layout, const TileRgb &rgb) {
    const YuvColor c = tile_yuv(rgb);
    PixelBytes<4> pair{};
    pair[layout.luma_byte] = c.y;
    pair[layout.luma_byte + 2] = c.y;
    pair[layout.cb.byte] = c.cb;
    pair[layout.cr.byte] = c.cr;
    return pair;
}

} // namespace

TileRgb tile_color(uint32_t x, uint32_t y, uint32_t width) {
    const uint32_t n = x + y;
    return color_at(q_term_of(n, width), n % width);
}

void draw_tiles_yuv_packed(const FormatLayout &layout, uint8_t *mem, uint32_t width,
                           uint32_t height, uint32_t stride) {
    if (width == 0 || height == 0)
        return;
    // Pair k of row y shows the colour at n = y + 2k.
    auto writer = tile_writer(
        width, 2, 4, [&](const TileRgb &rgb) { return repeat_pixel(packed_pair(layout, rgb)); });
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + uint64_t{y} * stride;
        writer.write(row, y, width / 2);
        if (width % 2 != 0) {
            // Nothing goes past 2 x width bytes: the unpaired last pixel keeps
            // its luma and the first chroma byte of its pair.
            const PixelBytes<4> pair = packed_pair(layout, tile_color(width - 1, y, width));
            std::memcpy(row + 2 * (uint64_t{width} - 1), pair.data(), 2);
        }
    }
}

void draw_tiles_yuv_planar(const FormatLayout &layout, const ComponentBases<uint8_t> &planes,
                           uint32_t width, uint32_t height, uint32_t stride) {
    if (width == 0 || height == 0)
        return;
    auto luma = tile_writer(
        width, 1, 1, [](const TileRgb &c) { return repeat_pixel(PixelBytes<1>{tile_yuv(c).y}); });
    for (uint32_t y = 0; y < height; ++y)
        luma.write(planes.y + uint64_t{y} * stride, y, width);

    // Each sample ends up with the colour of the last pixel of its block that
    // is drawn: the block's last column within the width, on the block's
    // last row within the height. Samples are written once, with that colour:
    // sample k of a full block from n = last row + k x xsub + xsub - 1, so the
    // full samples of a chroma row are a sequence in steps of xsub. Where Cb
    // and Cr share a plane a sample is one 2-byte value at the lower of them.
    const uint32_t xsub = layout.xsub, ysub = layout.ysub;
    const uint32_t step = stride * layout.chroma_step / xsub;
    const uint32_t rows = static_cast<uint32_t>((uint64_t{height} + ysub - 1) / ysub);
    const uint32_t full_samples = width / xsub;
    const bool shared = layout.cb.plane == layout.cr.plane;
    const bool cb_low = layout.cb.byte < layout.cr.byte;
    auto pair = tile_writer(width, xsub, 2, [&](const TileRgb &rgb) {
        const YuvColor c = tile_yuv(rgb);
        return repeat_pixel(cb_low ? PixelBytes<2>{c.cb, c.cr} : PixelBytes<2>{c.cr, c.cb});
    });
    auto cb = tile_writer(width, xsub, 1, [](const TileRgb &c) {
        return repeat_pixel(PixelBytes<1>{tile_yuv(c).cb});
    });
    auto cr = tile_writer(width, xsub, 1, [](const TileRgb &c) {
        return repeat_pixel(PixelBytes<1>{tile_yuv(c).cr});
    });

    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t last_row =
            static_cast<uint32_t>(std::min(uint64_t{r + 1} * ysub, uint64_t{height}) - 1);
        uint8_t *cb_row = planes.cb + uint64_t{r} * step;
        uint8_t *cr_row = planes.cr + uint64_t{r} * step;
        const uint32_t n = last_row + xsub - 1;
        if (shared) {
            pair.write(std::min(cb_row, cr_row), n, full_samples);
        } else {
            cb.write(cb_row, n, full_samples);
            cr.write(cr_row, n, full_samples);
        }
        if (width % xsub != 0) {
            // The last block is cut by the width: its last column decides.
            const YuvColor c = tile_yuv(tile_color(width - 1, last_row, width));
            const uint64_t at = uint64_t{full_samples} * layout.chroma_step;
            cb_row[at] = c.cb;
            cr_row[at] = c.cr;
        }
    }
}

void draw_tiles_pixels(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                       uint32_t stride) {
    if (width == 0 || height == 0)
        return;
    const FormatLayout layout = format_layout(format);
    const uint32_t bpp = layout.bytes_per_pixel[0];
    auto writer_with_alpha = [&](uint8_t alpha) {
        return tile_writer(width, 1, bpp, [&format, &layout, bpp, alpha](const TileRgb &c) {
            const RgbLayout &rgb = format.rgb;
            return repeat_value(layout.half_float ? pack_rgba_half(rgb, c.r, c.g, c.b, alpha)
                                                  : pack_rgba(rgb, c.r, c.g, c.b, alpha),
                                bpp);
        });
    };
    // Pixels of 32 bits and more with an alpha channel are half transparent
    // left of width / 2 in the rows above height / 2.
    const bool alpha_quarter = bpp >= 4 && format.rgb.alpha.length != 0;
    auto translucent = writer_with_alpha(127);
    auto opaque = writer_with_alpha(255);
    const uint32_t half_width = alpha_quarter ? width / 2 : 0;
    const uint32_t translucent_rows = alpha_quarter ? height / 2 : 0;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + uint64_t{y} * stride;
        uint32_t x = 0;
        if (y < translucent_rows) {
            translucent.write(row, y, half_width);
            x = half_width;
        }
        opaque.write(row + uint64_t{x} * bpp, y + x, width - x);
    }
}

void draw_tiles(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
                uint32_t height, uint32_t stride) {
    const FormatLayout layout = format_layout(format);
    switch (layout.family) {
    case PixelFamily::indexed:
        return;
    case PixelFamily::yuv_packed:
        draw_tiles_yuv_packed(layout, planes[0], width, height, stride);
        return;
    case PixelFamily::yuv_semi_planar:
    case PixelFamily::yuv_planar:
        draw_tiles_yuv_planar(layout, component_bases(layout, planes), width, height, stride);
        return;
    default:
        draw_tiles_pixels(format, planes[0], width, height, stride);
        return;
    }
}

} // namespace pattern
