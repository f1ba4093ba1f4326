// SMPTE colour bars for the packed, semi-planar and planar YUV formats.
//
// Every row is a handful of runs of one colour, so each run is filled with
// wide stores instead of looking a colour up per pixel. Rows are written top
// to bottom and the buffer is never read back.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "byte_fill.h"
#include "smpte.h"
#include "smpte_geometry.h"

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

// Byte positions within the 4 bytes of a packed pixel pair.
struct PackedOrder {
    uint32_t luma; // of the left pixel; the right one's is 2 further
    uint32_t cb;
    uint32_t cr;

    explicit PackedOrder(const YuvLayout &layout) {
        luma = (layout.order & luma_first) ? 0 : 1;
        const uint32_t chroma = (layout.order & chroma_first) ? 0 : 1;
        cb = chroma + ((layout.order & cr_before_cb) ? 2 : 0);
        cr = chroma + ((layout.order & cb_before_cr) ? 2 : 0);
    }
};

// One packed row: luma of every pixel from its own column, chroma of each
// pair from its left pixel. Bytes from 2 x width on are never written, so an
// unpaired last pixel gets its luma and the first chroma byte of its pair
// (Cb in UYVY and YUYV, Cr in VYUY and YVYU) and loses the other.
void draw_packed_row(const BandPicture &band, const PackedOrder &order, uint8_t *row,
                     uint32_t width) {
    const uint64_t row_bytes = 2 * uint64_t{width};
    auto store = [&](uint64_t at, uint8_t value) {
        if (at < row_bytes)
            row[at] = value;
    };
    for (const SmpteRun &run : band.runs) {
        const YuvColor c = band.color(run);
        uint32_t x = run.begin;
        if (x % 2 != 0) // right pixel of a pair whose chroma the run before set
            store(2 * uint64_t{x++} + order.luma, c.y);
        const uint32_t pairs = (run.end - x) / 2;
        PixelBytes<4> pair{};
        pair[order.luma] = c.y;
        pair[order.luma + 2] = c.y;
        pair[order.cb] = c.cb;
        pair[order.cr] = c.cr;
        fill_pixels(row + 2 * uint64_t{x}, pair, pairs);
        x += 2 * pairs;
        if (x < run.end) { // left pixel of a pair that the next run completes
            const uint64_t at = 2 * uint64_t{x};
            store(at + order.luma, c.y);
            store(at + order.cb, c.cb);
            store(at + order.cr, c.cr);
        }
    }
}

// The two passes exactly as specified, one byte at a time: luma of every row
// first, then chroma. Only needed when rows overlap (stride below 2 x width),
// where the order of the passes decides which byte survives.
void draw_packed_overlapping(const SmptePicture &picture, const PackedOrder &order, uint8_t *mem,
                             uint32_t width, uint32_t height, uint32_t stride) {
    const uint64_t row_bytes = 2 * uint64_t{width};
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + uint64_t{y} * stride;
        const BandPicture &band = picture.band_of(y);
        for (const SmpteRun &run : band.runs)
            for (uint32_t x = run.begin; x < run.end; ++x)
                row[2 * uint64_t{x} + order.luma] = band.color(run).y;
    }
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + uint64_t{y} * stride;
        const BandPicture &band = picture.band_of(y);
        for (const SmpteRun &run : band.runs) {
            for (uint32_t x = steps_reaching(run.begin, 2) * 2; x < run.end; x += 2) {
                const uint64_t at = 2 * uint64_t{x};
                if (at + order.cb < row_bytes)
                    row[at + order.cb] = band.color(run).cb;
                if (at + order.cr < row_bytes)
                    row[at + order.cr] = band.color(run).cr;
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

void draw_smpte_yuv_packed(const YuvLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                           uint32_t stride) {
    if (width == 0 || height == 0)
        return;
    const SmptePicture picture(width, height);
    const PackedOrder order(layout);
    const size_t row_bytes = 2 * size_t{width};
    if (stride < row_bytes) {
        draw_packed_overlapping(picture, order, mem, width, height, stride);
        return;
    }
    for_each_band(picture, height, [&](const BandPicture &band, uint32_t first, uint32_t end) {
        draw_equal_rows(mem, stride, first, end, row_bytes,
                        [&](uint8_t *row) { draw_packed_row(band, order, row, width); });
    });
}

void draw_smpte_yuv_planar(const YuvLayout &layout, uint8_t *y_plane, uint8_t *cb_plane,
                           uint8_t *cr_plane, uint32_t width, uint32_t height, uint32_t stride) {
    if (width == 0 || height == 0)
        return;

    const SmptePicture luma(width, height);
    for_each_band(luma, height, [&](const BandPicture &band, uint32_t first, uint32_t end) {
        draw_equal_rows(y_plane, stride, first, end, width, [&](uint8_t *row) {
            for (const SmpteRun &run : band.runs)
                fill_pixels(row + run.begin, PixelBytes<1>{band.color(run).y}, run.end - run.begin);
        });
    });

    // The chroma rows carry the bands laid out anew over their own count.
    const uint32_t rows = height / layout.ysub;
    const uint32_t step = stride * layout.chroma_stride / layout.xsub;
    const uint32_t samples = steps_reaching(width, layout.xsub);
    const SmptePicture chroma(width, rows);
    // Sample k shows the colour of column k x xsub.
    auto draw_samples = [&](const BandPicture &band, uint8_t *cb_row, uint8_t *cr_row) {
        for (const SmpteRun &run : band.runs) {
            const YuvColor c = band.color(run);
            fill_chroma_samples(cb_row, cr_row, layout.chroma_stride,
                                steps_reaching(run.begin, layout.xsub),
                                steps_reaching(run.end, layout.xsub), c.cb, c.cr);
        }
    };
    for_each_band(chroma, rows, [&](const BandPicture &band, uint32_t first, uint32_t end) {
        if (layout.chroma_stride == 1) {
            // A plane for each component: the Cb rows, then the Cr rows.
            for (const auto &plane_and_component :
                 {std::pair{cb_plane, &YuvColor::cb}, std::pair{cr_plane, &YuvColor::cr}}) {
                uint8_t YuvColor::*component = plane_and_component.second;
                draw_equal_rows(
                    plane_and_component.first, step, first, end, samples, [&](uint8_t *row) {
                        for (const SmpteRun &run : band.runs) {
                            const uint32_t k0 = steps_reaching(run.begin, layout.xsub);
                            const uint32_t k1 = steps_reaching(run.end, layout.xsub);
                            fill_pixels(row + k0, PixelBytes<1>{band.color(run).*component},
                                        k1 - k0);
                        }
                    });
            }
        } else if (layout.chroma_stride == 2 &&
                   (cr_plane == cb_plane + 1 || cb_plane == cr_plane + 1)) {
            // Cb and Cr alternate in one plane: one row holds both.
            const ptrdiff_t cb_at = cb_plane < cr_plane ? 0 : 1;
            uint8_t *plane = cb_plane - cb_at;
            draw_equal_rows(plane, step, first, end, 2 * size_t{samples}, [&](uint8_t *row) {
                draw_samples(band, row + cb_at, row + 1 - cb_at);
            });
        } else {
            for (uint32_t r = first; r < end; ++r)
                draw_samples(band, cb_plane + uint64_t{r} * step, cr_plane + uint64_t{r} * step);
        }
    });
}
