// Tiles: diagonal bands of colour along lines of constant x + y.
//
// The colour of a pixel depends on n = x + y alone: on n mod width in steps
// of 64, and on (n / width) >> 6, which stays put except in buffers more than
// 63 times as tall as wide. So for one value of that quotient term the
// encoded values of n mod width = 0 .. width - 1 form a line that repeats,
// and every row is a window into it: each row is one or two copies from a
// line encoded ahead in local memory. Where the quotient term changes inside
// a row, or a line would not fit, the row is drawn as runs of up to 64
// equal values instead. Either way the bytes are those of encoding every
// pixel on its own, including the planar chroma, where the last pixel drawn
// in each block decides the sample.
#include "tiles.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "byte_fill.h"
#include "format_layout.h"

namespace pattern {
namespace {

constexpr uint32_t tile_size = 64;

// Room for the encoded lines: at 3840 pixels two lines of 8-byte pixels.
constexpr size_t tile_scratch_bytes = 64 * 1024;

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
    TileRgb color() const { return color_at(q_ >> 6, r_); }

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

// Writes the encoded values of n, n + step, n + 2 step, ... side by side,
// N bytes each; `encode(color, alpha)` gives a value's bytes.
//
// The line holds one value per remainder r = n mod width, ordered so that
// the remainders met along such a sequence are consecutive entries of a
// cycle. For step 1 that is r itself. For step 2 and an even width n keeps
// its parity: the even remainders form one cycle, the odd ones another. For
// step 2 and an odd width the sequence passes from the last even remainder
// (width - 1) to the first odd one (1) and from the last odd one
// (width - 2) back to 0: one cycle, even remainders first. When room
// allows, each cycle is stored twice in a row, so that any window of at
// most one cycle is a single copy.
template <size_t N, typename Encode>
class TileSequenceWriter {
public:
    TileSequenceWriter(uint32_t width, uint32_t step, std::span<uint8_t> scratch, Encode encode)
        : width_(width), step_(step), line_(scratch.data()), encode_(encode) {
        const bool two_cycles = step == 2 && width % 2 == 0;
        cycle_length_ = two_cycles ? width / 2 : width;
        const uint64_t line_bytes = uint64_t{width} * N;
        if (step > 2 || line_bytes > scratch.size())
            return;
        has_line_ = true;
        copies_ = 2 * line_bytes <= scratch.size() ? 2 : 1;
    }

    void write(uint8_t *dst, uint32_t n, uint32_t count, uint8_t alpha) {
        if (count == 0)
            return;
        const uint64_t last = n + uint64_t{step_} * (count - 1);
        if (!has_line_ || !(built_ && n >= q_begin_ && last < q_end_ && alpha == line_alpha_)) {
            // (n / width) >> 6 is n / (64 width): the line holds for n from
            // one multiple of 64 x width to the next.
            const uint64_t q_span = uint64_t{tile_size} * width_;
            const uint32_t q_term = static_cast<uint32_t>(n / q_span);
            if (!has_line_ || last / q_span != q_term) {
                write_runs(dst, n, count, alpha);
                return;
            }
            build_line(q_term, alpha);
            q_begin_ = q_term * q_span;
            q_end_ = q_begin_ + q_span;
        }
        const uint32_t r = remainder(n);
        const uint32_t cycle = cycle_of(r);
        const uint32_t cycle_begin = cycle * cycle_length_ * copies_;
        const uint32_t stored = cycle_length_ * copies_;
        uint32_t offset = offset_in_cycle(r);
        while (count != 0) {
            const uint32_t chunk = std::min(count, stored - offset);
            std::memcpy(dst, line_ + (size_t{cycle_begin} + offset) * N, size_t{chunk} * N);
            dst += size_t{chunk} * N;
            count -= chunk;
            offset = (offset + chunk) % cycle_length_;
        }
    }

private:
    // n mod width, found from the previous call's when n moved on by less
    // than the width (the next row, as a rule) rather than by a division.
    uint32_t remainder(uint32_t n) {
        if (n >= last_n_ && n - last_n_ < width_) {
            last_r_ += n - last_n_;
            if (last_r_ >= width_)
                last_r_ -= width_;
        } else {
            last_r_ = n % width_;
        }
        last_n_ = n;
        return last_r_;
    }

    uint32_t cycle_of(uint32_t r) const { return step_ == 2 && width_ % 2 == 0 ? r % 2 : 0; }
    uint32_t offset_in_cycle(uint32_t r) const {
        if (step_ == 1 || width_ % 2 == 0)
            return step_ == 1 ? r : r / 2;
        return r % 2 == 0 ? r / 2 : (width_ + 1) / 2 + r / 2;
    }

    // Stores `value` at entries [first, end) of a cycle, in every copy.
    void fill_entries(uint32_t cycle, uint32_t first, uint32_t end, const PixelBytes<N> &value) {
        for (uint32_t copy = 0; copy < copies_; ++copy) {
            const size_t at =
                size_t{cycle} * cycle_length_ * copies_ + size_t{copy} * cycle_length_ + first;
            store_repeated(line_ + at * N, uint64_t{end - first} * N, repeat_pixel(value));
        }
    }

    void build_line(uint32_t q_term, uint8_t alpha) {
        for (uint32_t lo = 0; lo < width_; lo += tile_size) {
            const uint32_t hi = std::min(lo + tile_size, width_);
            const PixelBytes<N> value = encode_(color_at(q_term, lo), alpha);
            if (step_ == 1) {
                fill_entries(0, lo, hi, value);
                continue;
            }
            // Remainders 2i in [lo, hi), then 2i + 1 in [lo, hi).
            fill_entries(0, (lo + 1) / 2, (hi + 1) / 2, value);
            if (width_ % 2 == 0)
                fill_entries(1, lo / 2, hi / 2, value);
            else
                fill_entries(0, (width_ + 1) / 2 + lo / 2, (width_ + 1) / 2 + hi / 2, value);
        }
        built_ = true;
        line_alpha_ = alpha;
    }

    void write_runs(uint8_t *dst, uint32_t n, uint32_t count, uint8_t alpha) const {
        TileWalker walker(n, width_);
        for (uint32_t i = 0; i < count;) {
            const uint32_t values = std::min((walker.run_length() + step_ - 1) / step_, count - i);
            store_repeated(dst + size_t{i} * N, uint64_t{values} * N,
                           repeat_pixel(encode_(walker.color(), alpha)));
            walker.advance(step_ * values);
            i += values;
        }
    }

    uint32_t width_;
    uint32_t step_;
    uint8_t *line_;
    Encode encode_;
    uint32_t cycle_length_ = 0;
    uint32_t copies_ = 1;
    bool has_line_ = false;
    bool built_ = false;
    uint8_t line_alpha_ = 0;
    uint64_t q_begin_ = 0; // the built line holds for n in [q_begin_, q_end_)
    uint64_t q_end_ = 0;
    uint32_t last_n_ = 0;
    uint32_t last_r_ = 0;
};

YuvColor tile_yuv(const TileRgb &c) {
    return rgb_to_yuv601(c.r, c.g, c.b);
}

// Shared by the RGB families: N bytes per pixel, `pack(color, alpha)` giving
// the pixel word. With `alpha_quarter`, pixels left of width / 2 in rows
// above height / 2 get alpha 127, all others 255; each alpha has a line of
// its own so that every row is still written in one pass.
template <size_t N, typename Pack>
void draw_tiles_rgb(uint8_t *mem, uint32_t width, uint32_t height, uint32_t stride,
                    bool alpha_quarter, Pack pack) {
    if (width == 0 || height == 0)
        return;
    auto encode = [&](const TileRgb &c, uint8_t alpha) {
        return little_endian_bytes<N>(pack(c, alpha));
    };
    uint8_t scratch[tile_scratch_bytes];
    const std::span<uint8_t> whole(scratch);
    const std::span<uint8_t> translucent_part =
        alpha_quarter ? whole.first(whole.size() / 2) : whole.first(0);
    const std::span<uint8_t> opaque_part = alpha_quarter ? whole.last(whole.size() / 2) : whole;
    TileSequenceWriter<N, decltype(encode)> translucent(width, 1, translucent_part, encode);
    TileSequenceWriter<N, decltype(encode)> opaque(width, 1, opaque_part, encode);

    const uint32_t half_width = alpha_quarter ? width / 2 : 0;
    const uint32_t translucent_rows = alpha_quarter ? height / 2 : 0;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + uint64_t{y} * stride;
        uint32_t x = 0;
        if (y < translucent_rows) {
            translucent.write(row, y, half_width, 127);
            x = half_width;
        }
        opaque.write(row + size_t{x} * N, y + x, width - x, 255);
    }
}

} // namespace

TileRgb tile_color(uint32_t x, uint32_t y, uint32_t width) {
    const uint32_t n = x + y;
    return color_at(q_term_of(n, width), n % width);
}

void draw_tiles_yuv_packed(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                           uint32_t height, uint32_t stride) {
    if (width == 0 || height == 0)
        return;
    const FormatLayout layout = format_layout(format);
    // Both pixels of a pair take the colour of the left one, at n = x + y.
    auto encode = [&](const TileRgb &rgb, uint8_t) {
        const YuvColor c = tile_yuv(rgb);
        PixelBytes<4> pair{};
        pair[layout.luma_byte] = c.y;
        pair[layout.luma_byte + 2] = c.y;
        pair[layout.cb.byte] = c.cb;
        pair[layout.cr.byte] = c.cr;
        return pair;
    };
    uint8_t scratch[tile_scratch_bytes];
    TileSequenceWriter<4, decltype(encode)> writer(width, 2, scratch, encode);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + uint64_t{y} * stride;
        writer.write(row, y, width / 2, 0);
        if (width % 2 != 0) {
            // Nothing goes past 2 x width bytes: the unpaired last pixel keeps
            // its luma and the first chroma byte of its pair.
            const PixelBytes<4> pair = encode(tile_color(width - 1, y, width), 0);
            std::memcpy(row + 2 * (uint64_t{width} - 1), pair.data(), 2);
        }
    }
}

void draw_tiles_yuv_planar(const PixelFormatInfo &format, uint8_t *y_plane, uint8_t *cb_plane,
                           uint8_t *cr_plane, uint32_t width, uint32_t height, uint32_t stride) {
    if (width == 0 || height == 0)
        return;
    const YuvLayout &yuv = format.yuv;
    uint8_t scratch[tile_scratch_bytes];

    auto encode_luma = [](const TileRgb &c, uint8_t) { return PixelBytes<1>{tile_yuv(c).y}; };
    TileSequenceWriter<1, decltype(encode_luma)> luma(width, 1, scratch, encode_luma);
    for (uint32_t y = 0; y < height; ++y)
        luma.write(y_plane + uint64_t{y} * stride, y, width, 0);

    // Each sample ends up with the colour of the last pixel of its block that
    // is drawn: the block's last column within the width, on the block's
    // last row within the height. Samples are written once, with that colour:
    // sample k of a full block from n = last row + k x xsub + xsub - 1, so the
    // full samples of a chroma row are a sequence in steps of xsub.
    const uint32_t step = stride * yuv.chroma_stride / yuv.xsub;
    const uint32_t rows = static_cast<uint32_t>((uint64_t{height} + yuv.ysub - 1) / yuv.ysub);
    const uint32_t full_samples = width / yuv.xsub;
    const std::span<uint8_t> whole(scratch);
    auto encode_cb = [](const TileRgb &c, uint8_t) { return PixelBytes<1>{tile_yuv(c).cb}; };
    auto encode_cr = [](const TileRgb &c, uint8_t) { return PixelBytes<1>{tile_yuv(c).cr}; };
    auto encode_cb_cr = [](const TileRgb &c, uint8_t) {
        const YuvColor yuv_color = tile_yuv(c);
        return PixelBytes<2>{yuv_color.cb, yuv_color.cr};
    };
    auto encode_cr_cb = [](const TileRgb &c, uint8_t) {
        const YuvColor yuv_color = tile_yuv(c);
        return PixelBytes<2>{yuv_color.cr, yuv_color.cb};
    };
    TileSequenceWriter<1, decltype(encode_cb)> cb_writer(width, yuv.xsub,
                                                         whole.first(whole.size() / 2), encode_cb);
    TileSequenceWriter<1, decltype(encode_cr)> cr_writer(width, yuv.xsub,
                                                         whole.last(whole.size() / 2), encode_cr);
    TileSequenceWriter<2, decltype(encode_cb_cr)> cb_cr_writer(width, yuv.xsub, whole,
                                                               encode_cb_cr);
    TileSequenceWriter<2, decltype(encode_cr_cb)> cr_cb_writer(width, yuv.xsub, whole,
                                                               encode_cr_cb);

    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t last_row =
            static_cast<uint32_t>(std::min(uint64_t{r + 1} * yuv.ysub, uint64_t{height}) - 1);
        uint8_t *cb_row = cb_plane + uint64_t{r} * step;
        uint8_t *cr_row = cr_plane + uint64_t{r} * step;
        const uint32_t n = last_row + yuv.xsub - 1;
        if (yuv.chroma_stride == 1) {
            cb_writer.write(cb_row, n, full_samples, 0);
            cr_writer.write(cr_row, n, full_samples, 0);
        } else if (yuv.chroma_stride == 2 && cr_row == cb_row + 1) {
            cb_cr_writer.write(cb_row, n, full_samples, 0);
        } else if (yuv.chroma_stride == 2 && cb_row == cr_row + 1) {
            cr_cb_writer.write(cr_row, n, full_samples, 0);
        } else {
            TileWalker walker(n, width);
            for (uint32_t k = 0; k < full_samples; ++k) {
                const YuvColor c = tile_yuv(walker.color());
                cb_row[uint64_t{k} * yuv.chroma_stride] = c.cb;
                cr_row[uint64_t{k} * yuv.chroma_stride] = c.cr;
                walker.advance(yuv.xsub);
            }
        }
        if (width % yuv.xsub != 0) {
            // The last block is cut by the width: its last column decides.
            const YuvColor c = tile_yuv(tile_color(width - 1, last_row, width));
            const uint64_t at = uint64_t{full_samples} * yuv.chroma_stride;
            cb_row[at] = c.cb;
            cr_row[at] = c.cr;
        }
    }
}

void draw_tiles_rgb16(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride) {
    draw_tiles_rgb<2>(mem, width, height, stride, false, [&](const TileRgb &c, uint8_t) {
        return pack_rgba(format.rgb, c.r, c.g, c.b, 255);
    });
}

void draw_tiles_rgb24(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride) {
    draw_tiles_rgb<3>(mem, width, height, stride, false, [&](const TileRgb &c, uint8_t) {
        return pack_rgba(format.rgb, c.r, c.g, c.b, 255);
    });
}

void draw_tiles_rgb32(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                      uint32_t stride) {
    const bool has_alpha = format.rgb.alpha.length != 0;
    draw_tiles_rgb<4>(mem, width, height, stride, has_alpha, [&](const TileRgb &c, uint8_t alpha) {
        return pack_rgba(format.rgb, c.r, c.g, c.b, alpha);
    });
}

void draw_tiles_rgb_half(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                         uint32_t height, uint32_t stride) {
    const bool has_alpha = format.rgb.alpha.length != 0;
    draw_tiles_rgb<8>(mem, width, height, stride, has_alpha, [&](const TileRgb &c, uint8_t alpha) {
        return pack_rgba_half(format.rgb, c.r, c.g, c.b, alpha);
    });
}

void draw_tiles(const PixelFormatInfo &format, const PlanePointers &planes, uint32_t width,
                uint32_t height, uint32_t stride) {
    if (width == 0 || height == 0)
        return;
    const FormatLayout layout = format_layout(format);
    uint8_t *p0 = planes[0];
    switch (layout.family) {
    case PixelFamily::indexed:
        return;
    case PixelFamily::yuv_packed:
        draw_tiles_yuv_packed(format, p0, width, height, stride);
        return;
    case PixelFamily::yuv_semi_planar:
    case PixelFamily::yuv_planar: {
        const ComponentBases<uint8_t> bases = component_bases(layout, planes);
        draw_tiles_yuv_planar(format, bases.y, bases.cb, bases.cr, width, height, stride);
        return;
    }
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

} // namespace pattern
