// SPDX-License-Identifier: MIT
// SMPTE colour bars for the packed, semi-planar and planar YUV formats.
//
// Every row is a handful of runs of one colour, so each run is filled with
// wide stores instead of looking a colour up per pixel. Rows are written top
// to bottom and the buffer is never read back.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "byte_fill.h"
#include "smpte.h"
#include "smpte_geometry.h"

namespace pattern {
namespace {

// BT.601 limited-range images of the RGB bar colours, entry for entry.
constexpr std::array<YuvColor, smpte_bar_count> smpte_top_yuv{{
    {181, 128, 128},
    {162, 44, 142},
    {132, 157, 44},
    {113, 73, 58},
    {84, 184, 199},
    {66, 100, 212},
    {35, 212, 115},
}};
constexpr std::array<YuvColor, smpte_bar_count> smpte_middle_yuv{{
    {35, 212, 115},
    {32, 128, 128},
    {84, 184, 199},
    {32, 128, 128},
    {132, 157, 44},
    {32, 128, 128},
    {181, 128, 128},
}};
constexpr std::array<YuvColor, smpte_bottom_count> smpte_bottom_yuv{{
    {40, 152, 111},
    {235, 128, 128},
    {39, 167, 142},
    {32, 128, 128},
    {24, 128, 128},
    {32, 128, 128},
    {41, 128, 128},
    {32, 128, 128},
}};

// The runs of one band together with the colours they show.
struct BandPicture {
    SmpteRowRuns runs;
    const YuvColor *colors;

    YuvColor color(const SmpteRun &run) const { return colors[run.entry]; }
};

struct SmptePicture {
    SmpteBandRows rows;
    BandPicture top, middle, bottom;

    SmptePicture(uint32_t width, uint32_t height)
        : rows(smpte_band_rows(height)), top{smpte_bar_runs(width), smpte_top_yuv.data()},
          middle{smpte_bar_runs(width), smpte_middle_yuv.data()}, bottom{smpte_bottom_runs(width),
                                                                         smpte_bottom_yuv.data()} {}

    const BandPicture &band_of(uint32_t row) const {
        if (row < rows.top_end)
            return top;
        if (row < rows.middle_end)
            return middle;
        return bottom;
    }
};

// First multiple of `step` at or after x, counted in steps.
uint32_t steps_reaching(uint32_t x, uint32_t step) {
    return static_cast<uint32_t>((uint64_t{x} + step - 1) / step);
}

// One packed row as whole pairs stored from registers plus the single bytes
// of the pairs that two runs share: luma of every pixel from its own
// column, chroma of each pair from its left pixel. Bytes from 2 x width on
// are never written, so an unpaired last pixel gets its luma and the first
// chroma byte of its pair (Cb in UYVY and YUYV, Cr in VYUY and YVYU) and
// loses the other. Worked out once per band, stored into each of its rows.
class PackedRow {
public:
    PackedRow(const BandPicture &band, const FormatLayout &layout, uint32_t width) {
        const uint64_t row_bytes = 2 * uint64_t{width};
        auto byte = [&](uint64_t at, uint8_t value) {
            if (at < row_bytes)
                bytes_[byte_count_++] = {at, value};
        };
        for (const SmpteRun &run : band.runs) {
            const YuvColor c = band.color(run);
            uint32_t x = run.begin;
            if (x % 2 != 0) // right pixel of a pair whose chroma the run before set
                byte(2 * uint64_t{x++} + layout.luma_byte, c.y);
            const uint32_t pairs = (run.end - x) / 2;
            if (pairs != 0) {
                PixelBytes<4> pair{};
                pair[layout.luma_byte] = c.y;
                pair[layout.luma_byte + 2] = c.y;
                pair[layout.cb.byte] = c.cb;
                pair[layout.cr.byte] = c.cr;
                pixels_[run_count_] = repeat_pixel(pair);
                runs_[run_count_] = {2 * uint64_t{x}, 4 * uint64_t{pairs}, &pixels_[run_count_]};
                ++run_count_;
            }
            x += 2 * pairs;
            if (x < run.end) { // left pixel of a pair that the next run completes
                const uint64_t at = 2 * uint64_t{x};
                byte(at + layout.luma_byte, c.y);
                byte(at + layout.cb.byte, c.cb);
                byte(at + layout.cr.byte, c.cr);
            }
        }
    }

    PackedRow(const PackedRow &) = delete;
    PackedRow &operator=(const PackedRow &) = delete;

    void store(uint8_t *row) const {
        store_runs(row, std::span<const ByteRun>(runs_.data(), run_count_));
        for (size_t i = 0; i < byte_count_; ++i)
            row[bytes_[i].at] = bytes_[i].value;
    }

private:
    struct Byte {
        uint64_t at;
        uint8_t value;
    };
    static constexpr size_t max_runs = SmpteRowRuns{}.runs.size();
    std::array<RepeatedPixel, max_runs> pixels_;
    std::array<ByteRun, max_runs> runs_{};
    std::array<Byte, 4 * max_runs> bytes_{};
    size_t run_count_ = 0;
    size_t byte_count_ = 0;
};

// The two passes exactly as specified, one byte at a time: luma of every row
// first, then chroma. Only needed when rows overlap (stride below 2 x width),
// where the order of the passes decides which byte survives.
void draw_packed_overlapping(const SmptePicture &picture, const FormatLayout &layout, uint8_t *mem,
                             uint32_t width, uint32_t height, uint32_t stride) {
    const uint64_t row_bytes = 2 * uint64_t{width};
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + uint64_t{y} * stride;
        const BandPicture &band = picture.band_of(y);
        for (const SmpteRun &run : band.runs)
            for (uint32_t x = run.begin; x < run.end; ++x)
                row[2 * uint64_t{x} + layout.luma_byte] = band.color(run).y;
    }
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + uint64_t{y} * stride;
        const BandPicture &band = picture.band_of(y);
        for (const SmpteRun &run : band.runs) {
            for (uint32_t x = steps_reaching(run.begin, 2) * 2; x < run.end; x += 2) {
                const uint64_t at = 2 * uint64_t{x};
                if (at + layout.cb.byte < row_bytes)
                    row[at + layout.cb.byte] = band.color(run).cb;
                if (at + layout.cr.byte < row_bytes)
                    row[at + layout.cr.byte] = band.color(run).cr;
            }
        }
    }
}

// Calls draw(band, first, end) for the three bands of `picture` in order.
template <typename Draw>
void for_each_band(const SmptePicture &picture, uint32_t rows, Draw draw) {
    draw(picture.top, 0, picture.rows.top_end);
    draw(picture.middle, picture.rows.top_end, picture.rows.middle_end);
    draw(picture.bottom, picture.rows.middle_end, rows);
}

} // namespace

void draw_smpte_yuv_packed(const FormatLayout &layout, uint8_t *mem, uint32_t width,
                           uint32_t height, uint32_t stride) {
    if (width == 0 || height == 0)
        return;
    const SmptePicture picture(width, height);
    if (stride < 2 * uint64_t{width}) {
        draw_packed_overlapping(picture, layout, mem, width, height, stride);
        return;
    }
    for_each_band(picture, height, [&](const BandPicture &band, uint32_t first, uint32_t end) {
        const PackedRow packed(band, layout, width);
        draw_equal_rows(mem, stride, first, end, [&](uint8_t *row) { packed.store(row); });
    });
}

void draw_smpte_yuv_planar(const FormatLayout &layout, const ComponentBases<uint8_t> &planes,
                           uint32_t width, uint32_t height, uint32_t stride) {
    if (width == 0 || height == 0)
        return;

    const SmptePicture luma(width, height);
    for_each_band(luma, height, [&](const BandPicture &band, uint32_t first, uint32_t end) {
        std::array<RepeatedPixel, SmpteRowRuns{}.runs.size()> pixels;
        std::array<ByteRun, SmpteRowRuns{}.runs.size()> runs{};
        size_t count = 0;
        for (const SmpteRun &run : band.runs) {
            pixels[count] = repeat_pixel(PixelBytes<1>{band.color(run).y});
            runs[count] = {run.begin, run.end - run.begin, &pixels[count]};
            ++count;
        }
        const std::span<const ByteRun> row_runs(runs.data(), count);
        draw_equal_rows(planes.y, stride, first, end,
                        [&](uint8_t *row) { store_runs(row, row_runs); });
    });

    // The chroma rows carry the bands laid out anew over their own count.
    // Sample k shows the colour of column k x xsub. Where Cb and Cr share a
    // plane, a sample is one 2-byte pixel starting at the lower of the two.
    const uint32_t rows = height / layout.ysub;
    const uint32_t step = stride * layout.chroma_step / layout.xsub;
    const SmptePicture chroma(width, rows);
    const bool shared = layout.cb.plane == layout.cr.plane;
    const bool cb_low = layout.cb.byte < layout.cr.byte;
    std::array<uint8_t *, 2> bases{planes.cb, planes.cr};
    if (shared)
        bases = {cb_low ? planes.cb : planes.cr, nullptr};
    for_each_band(chroma, rows, [&](const BandPicture &band, uint32_t first, uint32_t end) {
        for (size_t component = 0; component < 2 && bases[component] != nullptr; ++component) {
            std::array<RepeatedPixel, SmpteRowRuns{}.runs.size()> pixels;
            std::array<ByteRun, SmpteRowRuns{}.runs.size()> runs{};
            size_t count = 0;
            for (const SmpteRun &run : band.runs) {
                const YuvColor c = band.color(run);
                const uint8_t value = component == 0 ? c.cb : c.cr;
                pixels[count] = shared ? repeat_pixel(cb_low ? PixelBytes<2>{c.cb, c.cr}
                                                             : PixelBytes<2>{c.cr, c.cb})
                                       : repeat_pixel(PixelBytes<1>{value});
                const uint64_t k0 = steps_reaching(run.begin, layout.xsub);
                const uint64_t k1 = steps_reaching(run.end, layout.xsub);
                runs[count] = {k0 * layout.chroma_step, (k1 - k0) * layout.chroma_step,
                               &pixels[count]};
                count += k1 > k0 ? 1 : 0;
            }
            const std::span<const ByteRun> row_runs(runs.data(), count);
            draw_equal_rows(bases[component], step, first, end,
                            [&](uint8_t *row) { store_runs(row, row_runs); });
        }
    });
}

} // namespace pattern
