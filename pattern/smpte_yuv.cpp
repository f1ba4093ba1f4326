// SMPTE colour bars for the packed, semi-planar and planar YUV formats.
//
// Every row is a handful of runs of one colour, so each run is filled with
// wide stores instead of looking a colour up per pixel. Rows are written top
// to bottom and the buffer is never read back.
#include <array>
#include <cstddef>
#include <cstdint>

#include "byte_fill.h"
#include "smpte.h"
#include "smpte_geometry.h"

namespace {

// BT.601 limited-range images of the RGB bar colours, entry for entry.
constexpr std::array<YuvColor, smpte_bar_count> smpte_top_yuv{{
    {181, 128, 128}, {162, 44, 142}, {132, 157, 44}, {113, 73, 58},
    {84, 184, 199},  {66, 100, 212}, {35, 212, 115},
}};
constexpr std::array<YuvColor, smpte_bar_count> smpte_middle_yuv{{
    {35, 212, 115}, {32, 128, 128}, {84, 184, 199},  {32, 128, 128},
    {132, 157, 44}, {32, 128, 128}, {181, 128, 128},
}};
constexpr std::array<YuvColor, smpte_bottom_count> smpte_bottom_yuv{{
    {40, 152, 111}, {235, 128, 128}, {39, 167, 142}, {32, 128, 128},
    {24, 128, 128}, {32, 128, 128},  {41, 128, 128}, {32, 128, 128},
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
        : rows(smpte_band_rows(height)),
          top{smpte_bar_runs(width), smpte_top_yuv.data()},
          middle{smpte_bar_runs(width), smpte_middle_yuv.data()},
          bottom{smpte_bottom_runs(width), smpte_bottom_yuv.data()}
    {
    }

    const BandPicture &band_of(uint32_t row) const
    {
        if (row < rows.top_end)
            return top;
        if (row < rows.middle_end)
            return middle;
        return bottom;
    }
};

// First multiple of `step` at or after x, counted in steps.
uint32_t steps_reaching(uint32_t x, uint32_t step)
{
    return static_cast<uint32_t>((uint64_t{x} + step - 1) / step);
}

// Byte positions within the 4 bytes of a packed pixel pair.
struct PackedOrder {
    uint32_t luma;     // of the left pixel; the right one's is 2 further
    uint32_t cb;
    uint32_t cr;

    explicit PackedOrder(const YuvLayout &layout)
    {
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
                     uint32_t width)
{
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
                             uint32_t width, uint32_t height, uint32_t stride)
{
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

} // namespace

void draw_smpte_yuv_packed(const YuvLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                           uint32_t stride)
{
    if (width == 0 || height == 0)
        return;
    const SmptePicture picture(width, height);
    const PackedOrder order(layout);
    if (uint64_t{stride} < 2 * uint64_t{width}) {
        draw_packed_overlapping(picture, order, mem, width, height, stride);
        return;
    }
    for (uint32_t y = 0; y < height; ++y)
        draw_packed_row(picture.band_of(y), order, mem + uint64_t{y} * stride, width);
}

void draw_smpte_yuv_planar(const YuvLayout &layout, uint8_t *y_plane, uint8_t *cb_plane,
                           uint8_t *cr_plane, uint32_t width, uint32_t height, uint32_t stride)
{
    if (width == 0 || height == 0)
        return;

    const SmptePicture luma(width, height);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = y_plane + uint64_t{y} * stride;
        const BandPicture &band = luma.band_of(y);
        for (const SmpteRun &run : band.runs)
            fill_pixels(row + run.begin, PixelBytes<1>{band.color(run).y}, run.end - run.begin);
    }

    // The chroma rows carry the bands laid out anew over their own count.
    const uint32_t rows = height / layout.ysub;
    const uint32_t step = stride * layout.chroma_stride / layout.xsub;
    const SmptePicture chroma(width, rows);
    for (uint32_t r = 0; r < rows; ++r) {
        const uint64_t start = uint64_t{r} * step;
        const BandPicture &band = chroma.band_of(r);
        // Sample k shows the colour of column k x xsub.
        for (const SmpteRun &run : band.runs) {
            const YuvColor c = band.color(run);
            fill_chroma_samples(cb_plane + start, cr_plane + start, layout.chroma_stride,
                        steps_reaching(run.begin, layout.xsub),
                        steps_reaching(run.end, layout.xsub), c.cb, c.cr);
        }
    }
}
