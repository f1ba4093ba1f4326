// SMPTE colour bars for the packed, semi-planar and planar YUV formats.
#include <array>
#include <cstdint>

#include "smpte.h"

namespace {

// BT.601 limited-range images of the RGB bar colours, entry for entry.
constexpr std::array<YuvColor, 7> smpte_top_yuv{{
    {181, 128, 128}, {162, 44, 142}, {132, 157, 44}, {113, 73, 58},
    {84, 184, 199},  {66, 100, 212}, {35, 212, 115},
}};
constexpr std::array<YuvColor, 7> smpte_middle_yuv{{
    {35, 212, 115}, {32, 128, 128}, {84, 184, 199},  {32, 128, 128},
    {132, 157, 44}, {32, 128, 128}, {181, 128, 128},
}};
constexpr std::array<YuvColor, 8> smpte_bottom_yuv{{
    {40, 152, 111}, {235, 128, 128}, {39, 167, 142}, {32, 128, 128},
    {24, 128, 128}, {32, 128, 128},  {41, 128, 128}, {32, 128, 128},
}};

enum class Band { top, middle, bottom };

Band band_of_row(uint32_t row, uint32_t rows)
{
    if (row < rows * 6 / 9)
        return Band::top;
    if (row < rows * 7 / 9)
        return Band::middle;
    return Band::bottom;
}

YuvColor color_of_column(Band band, uint32_t x, uint32_t width)
{
    switch (band) {
    case Band::top:
        return smpte_top_yuv[x * 7 / width];
    case Band::middle:
        return smpte_middle_yuv[x * 7 / width];
    case Band::bottom:
        break;
    }
    const uint32_t x1 = width * 5 / 7;
    const uint32_t x2 = width * 6 / 7;
    const uint32_t n = width / 7;
    if (x < x1)
        return smpte_bottom_yuv[x * 4 / x1];
    // Widths 4 to 6 leave no room for the narrow steps: the one column
    // between x1 and x2 is the segment's last column, black.
    if (x < x2 && n != 0)
        return smpte_bottom_yuv[(x - x1) * 3 / n + 4];
    return smpte_bottom_yuv[7];
}

} // namespace

void draw_smpte_yuv_packed(const YuvLayout &layout, uint8_t *mem, uint32_t width, uint32_t height,
                           uint32_t stride)
{
    const uint32_t luma_base = (layout.order & luma_first) ? 0 : 1;
    const uint32_t chroma_base = (layout.order & chroma_first) ? 0 : 1;
    const uint32_t cb_offset = (layout.order & cr_before_cb) ? 2 : 0;
    const uint32_t cr_offset = (layout.order & cb_before_cr) ? 2 : 0;
    const uint64_t row_bytes = 2ull * width;

    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + static_cast<uint64_t>(y) * stride;
        const Band band = band_of_row(y, height);
        for (uint32_t x = 0; x < width; ++x)
            row[2ull * x + luma_base] = color_of_column(band, x, width).y;
    }
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = mem + static_cast<uint64_t>(y) * stride;
        const Band band = band_of_row(y, height);
        for (uint32_t x = 0; x < width; x += 2) {
            const YuvColor c = color_of_column(band, x, width);
            const uint64_t at = 2ull * x + chroma_base;
            // An unpaired last pixel keeps only the chroma byte that lies
            // within the row's 2 x width bytes.
            if (at + cb_offset < row_bytes)
                row[at + cb_offset] = c.cb;
            if (at + cr_offset < row_bytes)
                row[at + cr_offset] = c.cr;
        }
    }
}

void draw_smpte_yuv_planar(const YuvLayout &layout, uint8_t *y_plane, uint8_t *cb_plane,
                           uint8_t *cr_plane, uint32_t width, uint32_t height, uint32_t stride)
{
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = y_plane + static_cast<uint64_t>(y) * stride;
        const Band band = band_of_row(y, height);
        for (uint32_t x = 0; x < width; ++x)
            row[x] = color_of_column(band, x, width).y;
    }
    const uint32_t rows = height / layout.ysub;
    const uint32_t step = stride * layout.chroma_stride / layout.xsub;
    for (uint32_t r = 0; r < rows; ++r) {
        const uint64_t start = static_cast<uint64_t>(r) * step;
        const Band band = band_of_row(r, rows);
        for (uint32_t x = 0; x < width; x += layout.xsub) {
            const YuvColor c = color_of_column(band, x, width);
            const uint32_t i = x * layout.chroma_stride / layout.xsub;
            cb_plane[start + i] = c.cb;
            cr_plane[start + i] = c.cr;
        }
    }
}
