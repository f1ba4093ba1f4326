// One layout descriptor per pixel format, derived at compile time from the
// format's own row: component lengths and offsets, the YUV order flags,
// xsub, ysub and chroma_stride. The drawings, the plane sizes, the
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

// The rows whose 24 colour bits are packed into three bytes. XR24 and XB24
// have exactly the same components and keep them in a 32-bit word: the
// row's fields cannot tell the two storages apart, so this list does.
inline constexpr std::array<uint32_t, 2> three_byte_codes{fourcc_code('B', 'G', '2', '4'),
                                                          fourcc_code('R', 'G', '2', '4')};

constexpr PixelFamily family_of(const PixelFormatInfo &row) {
    const YuvLayout &yuv = row.yuv;
    if (yuv.xsub != 0) {
        if (yuv.order & (luma_first | chroma_first))
            return PixelFamily::yuv_packed;
        return yuv.chroma_stride == 1 ? PixelFamily::yuv_planar : PixelFamily::yuv_semi_planar;
    }
    const uint32_t bits = component_bits(row.rgb);
    if (bits == 0)
        return PixelFamily::indexed;
    if (row.rgb.red.length == 16)
        return PixelFamily::rgb_half;
    if (bits <= 16)
        return PixelFamily::rgb16;
    for (const uint32_t code : three_byte_codes)
        if (bits <= 24 && row.fourcc == code)
            return PixelFamily::rgb24;
    return PixelFamily::rgb32;
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

// Every row's descriptor, in table order, computed by the compiler.
inline constexpr std::array<FormatLayout, pixel_format_table.size()> format_layouts = [] {
    std::array<FormatLayout, pixel_format_table.size()> layouts{};
    for (size_t i = 0; i < layouts.size(); ++i)
        layouts[i] = format_layout(pixel_format_table[i]);
    return layouts;
}();

// RG24 and XR24 share their components but not their storage.
static_assert(format_layout(pixel_format_table[30]).bytes_per_pixel[0] == 3, "RG24");
static_assert(format_layout(pixel_format_table[32]).bytes_per_pixel[0] == 4, "XR24");

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
