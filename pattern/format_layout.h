// SPDX-License-Identifier: MIT
// One layout descriptor per pixel format, derived at compile time from the
// format's own row (component lengths and offsets, the YUV order flags,
// xsub, ysub and chroma_stride) and its storage, given by fourcc. The drawings, the plane sizes, the
// conversions and the test references all read it; no other code decides a
// family, a plane or a byte position.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "pixel_formats.h"

namespace pattern {

// Where one chroma component of a sample lies: its plane and its byte
// within the sample (within the 4-byte pixel pair of a packed format).
struct ComponentPlace {
    uint32_t plane;
    uint32_t byte;
};

struct FormatLayout {
    PixelFamily family;
    uint32_t planes;                         // planes used, 1 to 3
    std::array<uint32_t, 3> bytes_per_pixel; // plane 0 per pixel, chroma planes per sample
    uint32_t xsub;                           // pixels of a row sharing one chroma sample
    uint32_t ysub;                           // rows sharing one chroma row
    uint32_t chroma_step;                    // bytes from one chroma sample of a row to the next
    ComponentPlace cb, cr;                   // unused in formats without chroma
    uint32_t luma_byte; // packed: left pixel's luma in its pair, the right one's is 2 further
    bool half_float;    // components are binary16 numbers
};

namespace layout_detail {

// The highest bit any colour component reaches; 0 for a format without any.
constexpr uint32_t component_bits(const RgbLayout &rgb) {
    uint32_t bits = 0;
    for (const ColorComponent &c : {rgb.red, rgb.green, rgb.blue, rgb.alpha})
        if (c.length != 0 && c.offset + c.length > bits)
            bits = c.offset + c.length;
    return bits;
}

// Whether a row's fields agree with the storage given to it: chroma fields
// for YUV only, components filling more than half of the pixel word and no
// more than all of it, 16-bit components exactly for half floats.
constexpr bool storage_fits(const PixelFormatInfo &row, PixelFamily family) {
    const YuvLayout &yuv = row.yuv;
    const bool packed_order = (yuv.order & (luma_first | chroma_first)) != 0;
    const uint32_t bits = component_bits(row.rgb), word = 8 * plane0_bytes_per_pixel(family);
    switch (family) {
    case PixelFamily::indexed:
        return bits == 0 && yuv.xsub == 0;
    case PixelFamily::yuv_packed:
        return yuv.xsub == 2 && packed_order;
    case PixelFamily::yuv_semi_planar:
        return yuv.xsub != 0 && !packed_order && yuv.chroma_stride == 2;
    case PixelFamily::yuv_planar:
        return yuv.xsub != 0 && !packed_order && yuv.chroma_stride == 1;
    case PixelFamily::rgb16:
    case PixelFamily::rgb24:
    case PixelFamily::rgb32:
    case PixelFamily::rgb_half:
        return yuv.xsub == 0 && bits > word / 2 && bits <= word &&
               (row.rgb.red.length == 16) == (family == PixelFamily::rgb_half);
    }
    return false;
}

} // namespace layout_detail

// How each format stores its pixels, keyed by fourcc: what a row's fields
// cannot say on their own (BG24 and XB24 have the same components, in three
// bytes and in a 32-bit word). Checked against the rows at compile time.
struct FormatStorage {
    uint32_t fourcc;
    PixelFamily family;
};
// clang-format off
inline constexpr std::array<FormatStorage, pixel_format_table.size()> format_storage{{
    {fourcc_code('C', '8', ' ', ' '), PixelFamily::indexed},
    {fourcc_code('U', 'Y', 'V', 'Y'), PixelFamily::yuv_packed},
    {fourcc_code('V', 'Y', 'U', 'Y'), PixelFamily::yuv_packed},
    {fourcc_code('Y', 'U', 'Y', 'V'), PixelFamily::yuv_packed},
    {fourcc_code('Y', 'V', 'Y', 'U'), PixelFamily::yuv_packed},
    {fourcc_code('N', 'V', '1', '2'), PixelFamily::yuv_semi_planar},
    {fourcc_code('N', 'V', '2', '1'), PixelFamily::yuv_semi_planar},
    {fourcc_code('N', 'V', '1', '6'), PixelFamily::yuv_semi_planar},
    {fourcc_code('N', 'V', '6', '1'), PixelFamily::yuv_semi_planar},
    {fourcc_code('Y', 'U', '1', '2'), PixelFamily::yuv_planar},
    {fourcc_code('Y', 'V', '1', '2'), PixelFamily::yuv_planar},
    {fourcc_code('A', 'R', '1', '2'), PixelFamily::rgb16},
    {fourcc_code('X', 'R', '1', '2'), PixelFamily::rgb16},
    {fourcc_code('A', 'B', '1', '2'), PixelFamily::rgb16},
    {fourcc_code('X', 'B', '1', '2'), PixelFamily::rgb16},
    {fourcc_code('R', 'A', '1', '2'), PixelFamily::rgb16},
    {fourcc_code('R', 'X', '1', '2'), PixelFamily::rgb16},
    {fourcc_code('B', 'A', '1', '2'), PixelFamily::rgb16},
    {fourcc_code('B', 'X', '1', '2'), PixelFamily::rgb16},
    {fourcc_code('A', 'R', '1', '5'), PixelFamily::rgb16},
    {fourcc_code('X', 'R', '1', '5'), PixelFamily::rgb16},
    {fourcc_code('A', 'B', '1', '5'), PixelFamily::rgb16},
    {fourcc_code('X', 'B', '1', '5'), PixelFamily::rgb16},
    {fourcc_code('R', 'A', '1', '5'), PixelFamily::rgb16},
    {fourcc_code('R', 'X', '1', '5'), PixelFamily::rgb16},
    {fourcc_code('B', 'A', '1', '5'), PixelFamily::rgb16},
    {fourcc_code('B', 'X', '1', '5'), PixelFamily::rgb16},
    {fourcc_code('R', 'G', '1', '6'), PixelFamily::rgb16},
    {fourcc_code('B', 'G', '1', '6'), PixelFamily::rgb16},
    {fourcc_code('B', 'G', '2', '4'), PixelFamily::rgb24},
    {fourcc_code('R', 'G', '2', '4'), PixelFamily::rgb24},
    {fourcc_code('A', 'R', '2', '4'), PixelFamily::rgb32},
    {fourcc_code('X', 'R', '2', '4'), PixelFamily::rgb32},
    {fourcc_code('A', 'B', '2', '4'), PixelFamily::rgb32},
    {fourcc_code('X', 'B', '2', '4'), PixelFamily::rgb32},
    {fourcc_code('R', 'A', '2', '4'), PixelFamily::rgb32},
    {fourcc_code('R', 'X', '2', '4'), PixelFamily::rgb32},
    {fourcc_code('B', 'A', '2', '4'), PixelFamily::rgb32},
    {fourcc_code('B', 'X', '2', '4'), PixelFamily::rgb32},
    {fourcc_code('A', 'R', '3', '0'), PixelFamily::rgb32},
    {fourcc_code('X', 'R', '3', '0'), PixelFamily::rgb32},
    {fourcc_code('A', 'B', '3', '0'), PixelFamily::rgb32},
    {fourcc_code('X', 'B', '3', '0'), PixelFamily::rgb32},
    {fourcc_code('R', 'A', '3', '0'), PixelFamily::rgb32},
    {fourcc_code('R', 'X', '3', '0'), PixelFamily::rgb32},
    {fourcc_code('B', 'A', '3', '0'), PixelFamily::rgb32},
    {fourcc_code('B', 'X', '3', '0'), PixelFamily::rgb32},
    {fourcc_code('X', 'R', '4', 'H'), PixelFamily::rgb_half},
    {fourcc_code('X', 'B', '4', 'H'), PixelFamily::rgb_half},
    {fourcc_code('A', 'R', '4', 'H'), PixelFamily::rgb_half},
    {fourcc_code('A', 'B', '4', 'H'), PixelFamily::rgb_half},
}};
// clang-format on

namespace layout_detail {

// The index of the code's storage entry; format_storage.size() for none.
constexpr size_t storage_index(uint32_t fourcc) {
    size_t i = 0;
    while (i < format_storage.size() && format_storage[i].fourcc != fourcc)
        ++i;
    return i;
}

constexpr bool every_row_has_fitting_storage() {
    for (const PixelFormatInfo &row : pixel_format_table) {
        const size_t i = storage_index(row.fourcc);
        if (i == format_storage.size() || !storage_fits(row, format_storage[i].family))
            return false;
    }
    return true;
}
static_assert(every_row_has_fitting_storage(),
              "a row without a storage entry, or whose fields do not fit it");

constexpr PixelFamily family_of(const PixelFormatInfo &row) {
    const size_t i = storage_index(row.fourcc);
    return i < format_storage.size() ? format_storage[i].family : PixelFamily::indexed;
}

} // namespace layout_detail

constexpr FormatLayout format_layout(const PixelFormatInfo &row) {
    const PixelFamily family = layout_detail::family_of(row);
    FormatLayout layout{family, 1, {plane0_bytes_per_pixel(family), 0, 0}, 1, 1, 0, {0, 0},
                        {0, 0}, 0, family == PixelFamily::rgb_half};
    const YuvLayout &yuv = row.yuv;
    const bool cb_first = (yuv.order & cb_before_cr) != 0;
    switch (family) {
    case PixelFamily::yuv_packed: {
        // Each 4-byte pair holds two lumas and one Cb and Cr; every row has
        // its own chroma.
        const uint32_t chroma = (yuv.order & chroma_first) ? 0 : 1;
        layout.xsub = 2;
        layout.chroma_step = 4;
        layout.luma_byte = (yuv.order & luma_first) ? 0 : 1;
        layout.cb = {0, chroma + (cb_first ? 0 : 2)};
        layout.cr = {0, chroma + (cb_first ? 2 : 0)};
        break;
    }
    case PixelFamily::yuv_semi_planar:
        layout.planes = 2;
        layout.bytes_per_pixel[1] = yuv.chroma_stride;
        layout.xsub = yuv.xsub;
        layout.ysub = yuv.ysub;
        layout.chroma_step = yuv.chroma_stride;
        layout.cb = {1, cb_first ? 0u : 1u};
        layout.cr = {1, cb_first ? 1u : 0u};
        break;
    case PixelFamily::yuv_planar:
        layout.planes = 3;
        layout.bytes_per_pixel[1] = layout.bytes_per_pixel[2] = yuv.chroma_stride;
        layout.xsub = yuv.xsub;
        layout.ysub = yuv.ysub;
        layout.chroma_step = yuv.chroma_stride;
        layout.cb = {cb_first ? 1u : 2u, 0};
        layout.cr = {cb_first ? 2u : 1u, 0};
        break;
    default:
        break;
    }
    return layout;
}

namespace layout_detail {

constexpr PixelFormatInfo row_of(uint32_t fourcc) {
    for (const PixelFormatInfo &row : pixel_format_table)
        if (row.fourcc == fourcc)
            return row;
    return {};
}

} // namespace layout_detail

// RG24 and XR24 share their components but not their storage.
static_assert(format_layout(layout_detail::row_of(fourcc_code('R', 'G', '2', '4')))
                  .bytes_per_pixel[0] == 3);
static_assert(format_layout(layout_detail::row_of(fourcc_code('X', 'R', '2', '4')))
                  .bytes_per_pixel[0] == 4);

constexpr bool is_yuv(const FormatLayout &layout) {
    return layout.chroma_step != 0;
}

// Chroma in planes of its own (semi-planar and planar YUV).
constexpr bool has_chroma_planes(const FormatLayout &layout) {
    return layout.planes > 1;
}

// The first Y, Cb and Cr byte of the planes: Cb and Cr sample k of chroma
// row r lies at r x (its row step) + k x chroma_step from its base.
template <typename Byte>
struct ComponentBases {
    Byte *y;
    Byte *cb;
    Byte *cr;
};

template <typename Byte>
constexpr ComponentBases<Byte> component_bases(const FormatLayout &layout,
                                               const std::array<Byte *, 3> &planes) {
    return {planes[0], planes[layout.cb.plane] + layout.cb.byte,
            planes[layout.cr.plane] + layout.cr.byte};
}

} // namespace pattern
