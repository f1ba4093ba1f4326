// SPDX-License-Identifier: MIT
// Pixel formats known to the test-pattern generator, and the encoders that
// turn a colour into the bits of one pixel of such a format.
#pragma once

// Installed for other programs, which need C++20 as the library does.
#if __cplusplus < 202002L
#error "crtc-relay's headers need C++20 or later (-std=c++20)"
#endif

#include <array>
#include <cstdint>

// libdrm's <drm_fourcc.h> defines fourcc_code as a macro; set it aside here so
// that this header reads the same whichever is included first.
#pragma push_macro("fourcc_code")
#undef fourcc_code

namespace pattern {

// A fourcc: four ASCII characters, the first in the least significant byte.
constexpr uint32_t fourcc_code(char c0, char c1, char c2, char c3) {
    return static_cast<uint32_t>(static_cast<uint8_t>(c0)) |
           static_cast<uint32_t>(static_cast<uint8_t>(c1)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c2)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(c3)) << 24;
}

// Where one colour channel lies in a pixel word; length 0 means "absent".
struct ColorComponent {
    uint32_t length;
    uint32_t offset;
};

struct RgbLayout {
    ColorComponent red;
    ColorComponent green;
    ColorComponent blue;
    ColorComponent alpha;
};

// Flags of YuvLayout::order, tested one by one as bit masks.
enum YuvOrder : uint32_t {
    cb_before_cr = 1,
    cr_before_cb = 2,
    luma_first = 4,   // packed formats: luma at bytes 0 and 2 of each 4
    chroma_first = 8, // packed formats: chroma at bytes 0 and 2 of each 4
};

struct YuvLayout {
    uint32_t order;         // YuvOrder flags
    uint32_t xsub;          // pixels of a row sharing one chroma sample
    uint32_t ysub;          // rows sharing one chroma row
    uint32_t chroma_stride; // bytes between samples of one chroma component
};

struct PixelFormatInfo {
    uint32_t fourcc;
    const char *name;
    RgbLayout rgb;
    YuvLayout yuv;
};

// One colour as limited-range BT.601 bytes.
struct YuvColor {
    uint8_t y;
    uint8_t cb;
    uint8_t cr;
};

// Every format the generator draws. The lookups search it in this order.
// clang-format off: one row a line, as the table reads best.
inline constexpr std::array<PixelFormatInfo, 51> pixel_format_table{{
    {fourcc_code('C', '8', ' ', ' '), "C8", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('U', 'Y', 'V', 'Y'), "UYVY", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {9, 2, 2, 2}},
    {fourcc_code('V', 'Y', 'U', 'Y'), "VYUY", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {10, 2, 2, 2}},
    {fourcc_code('Y', 'U', 'Y', 'V'), "YUYV", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {5, 2, 2, 2}},
    {fourcc_code('Y', 'V', 'Y', 'U'), "YVYU", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {6, 2, 2, 2}},
    {fourcc_code('N', 'V', '1', '2'), "NV12", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {1, 2, 2, 2}},
    {fourcc_code('N', 'V', '2', '1'), "NV21", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {2, 2, 2, 2}},
    {fourcc_code('N', 'V', '1', '6'), "NV16", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {1, 2, 1, 2}},
    {fourcc_code('N', 'V', '6', '1'), "NV61", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {2, 2, 1, 2}},
    {fourcc_code('Y', 'U', '1', '2'), "YU12", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {1, 2, 2, 1}},
    {fourcc_code('Y', 'V', '1', '2'), "YV12", {{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {2, 2, 2, 1}},
    {fourcc_code('A', 'R', '1', '2'), "AR12", {{4, 8}, {4, 4}, {4, 0}, {4, 12}}, {0, 0, 0, 0}},
    {fourcc_code('X', 'R', '1', '2'), "XR12", {{4, 8}, {4, 4}, {4, 0}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('A', 'B', '1', '2'), "AB12", {{4, 0}, {4, 4}, {4, 8}, {4, 12}}, {0, 0, 0, 0}},
    {fourcc_code('X', 'B', '1', '2'), "XB12", {{4, 0}, {4, 4}, {4, 8}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('R', 'A', '1', '2'), "RA12", {{4, 12}, {4, 8}, {4, 4}, {4, 0}}, {0, 0, 0, 0}},
    {fourcc_code('R', 'X', '1', '2'), "RX12", {{4, 12}, {4, 8}, {4, 4}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('B', 'A', '1', '2'), "BA12", {{4, 4}, {4, 8}, {4, 12}, {4, 0}}, {0, 0, 0, 0}},
    {fourcc_code('B', 'X', '1', '2'), "BX12", {{4, 4}, {4, 8}, {4, 12}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('A', 'R', '1', '5'), "AR15", {{5, 10}, {5, 5}, {5, 0}, {1, 15}}, {0, 0, 0, 0}},
    {fourcc_code('X', 'R', '1', '5'), "XR15", {{5, 10}, {5, 5}, {5, 0}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('A', 'B', '1', '5'), "AB15", {{5, 0}, {5, 5}, {5, 10}, {1, 15}}, {0, 0, 0, 0}},
    {fourcc_code('X', 'B', '1', '5'), "XB15", {{5, 0}, {5, 5}, {5, 10}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('R', 'A', '1', '5'), "RA15", {{5, 11}, {5, 6}, {5, 1}, {1, 0}}, {0, 0, 0, 0}},
    {fourcc_code('R', 'X', '1', '5'), "RX15", {{5, 11}, {5, 6}, {5, 1}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('B', 'A', '1', '5'), "BA15", {{5, 1}, {5, 6}, {5, 11}, {1, 0}}, {0, 0, 0, 0}},
    {fourcc_code('B', 'X', '1', '5'), "BX15", {{5, 1}, {5, 6}, {5, 11}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('R', 'G', '1', '6'), "RG16", {{5, 11}, {6, 5}, {5, 0}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('B', 'G', '1', '6'), "BG16", {{5, 0}, {6, 5}, {5, 11}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('B', 'G', '2', '4'), "BG24", {{8, 0}, {8, 8}, {8, 16}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('R', 'G', '2', '4'), "RG24", {{8, 16}, {8, 8}, {8, 0}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('A', 'R', '2', '4'), "AR24", {{8, 16}, {8, 8}, {8, 0}, {8, 24}}, {0, 0, 0, 0}},
    {fourcc_code('X', 'R', '2', '4'), "XR24", {{8, 16}, {8, 8}, {8, 0}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('A', 'B', '2', '4'), "AB24", {{8, 0}, {8, 8}, {8, 16}, {8, 24}}, {0, 0, 0, 0}},
    {fourcc_code('X', 'B', '2', '4'), "XB24", {{8, 0}, {8, 8}, {8, 16}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('R', 'A', '2', '4'), "RA24", {{8, 24}, {8, 16}, {8, 8}, {8, 0}}, {0, 0, 0, 0}},
    {fourcc_code('R', 'X', '2', '4'), "RX24", {{8, 24}, {8, 16}, {8, 8}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('B', 'A', '2', '4'), "BA24", {{8, 8}, {8, 16}, {8, 24}, {8, 0}}, {0, 0, 0, 0}},
    {fourcc_code('B', 'X', '2', '4'), "BX24", {{8, 8}, {8, 16}, {8, 24}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('A', 'R', '3', '0'), "AR30", {{10, 20}, {10, 10}, {10, 0}, {2, 30}}, {0, 0, 0, 0}},
    {fourcc_code('X', 'R', '3', '0'), "XR30", {{10, 20}, {10, 10}, {10, 0}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('A', 'B', '3', '0'), "AB30", {{10, 0}, {10, 10}, {10, 20}, {2, 30}}, {0, 0, 0, 0}},
    {fourcc_code('X', 'B', '3', '0'), "XB30", {{10, 0}, {10, 10}, {10, 20}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('R', 'A', '3', '0'), "RA30", {{10, 22}, {10, 12}, {10, 2}, {2, 0}}, {0, 0, 0, 0}},
    {fourcc_code('R', 'X', '3', '0'), "RX30", {{10, 22}, {10, 12}, {10, 2}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('B', 'A', '3', '0'), "BA30", {{10, 2}, {10, 12}, {10, 22}, {2, 0}}, {0, 0, 0, 0}},
    {fourcc_code('B', 'X', '3', '0'), "BX30", {{10, 2}, {10, 12}, {10, 22}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('X', 'R', '4', 'H'), "XR4H", {{16, 32}, {16, 16}, {16, 0}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('X', 'B', '4', 'H'), "XB4H", {{16, 0}, {16, 16}, {16, 32}, {0, 0}}, {0, 0, 0, 0}},
    {fourcc_code('A', 'R', '4', 'H'),
     "AR4H",
     {{16, 32}, {16, 16}, {16, 0}, {16, 48}},
     {0, 0, 0, 0}},
    {fourcc_code('A', 'B', '4', 'H'),
     "AB4H",
     {{16, 0}, {16, 16}, {16, 32}, {16, 48}},
     {0, 0, 0, 0}},
}};
// clang-format on

// How a format's pixels are stored; the drawing routines are chosen by it.
enum class PixelFamily {
    indexed,         // C8: one byte per pixel
    yuv_packed,      // UYVY, VYUY, YUYV, YVYU: 2 bytes per pixel in plane 0
    yuv_semi_planar, // NV12, NV21, NV16, NV61: luma plane + interleaved chroma plane
    yuv_planar,      // YU12, YV12: luma plane + two chroma planes
    rgb16,           // one 16-bit word per pixel
    rgb24,           // three bytes per pixel
    rgb32,           // one 32-bit word per pixel (8 or 10 bits per component)
    rgb_half,        // one 64-bit word of four binary16 values per pixel
};

// The family of a row, as its layout descriptor (format_layout.h) gives it.
PixelFamily pixel_family(const PixelFormatInfo &format);

// Bytes one pixel takes in plane 0 (the luma plane for planar YUV).
constexpr uint32_t plane0_bytes_per_pixel(PixelFamily family) {
    switch (family) {
    case PixelFamily::indexed:
    case PixelFamily::yuv_semi_planar:
    case PixelFamily::yuv_planar:
        return 1;
    case PixelFamily::yuv_packed:
    case PixelFamily::rgb16:
        return 2;
    case PixelFamily::rgb24:
        return 3;
    case PixelFamily::rgb32:
        return 4;
    case PixelFamily::rgb_half:
        return 8;
    }
    return 0;
}

// The row whose code equals fourcc in all 32 bits, or nullptr.
const PixelFormatInfo *find_pixel_format(uint32_t fourcc);

// The code of the row named exactly name (case-sensitive), or 0.
uint32_t pixel_format_from_name(const char *name);

// Each 16-bit component keeps its top `length` bits at its `offset`;
// bits no component covers are 0.
uint64_t pack_rgba16(const RgbLayout &layout, uint16_t r, uint16_t g, uint16_t b, uint16_t a);

// 8-bit components widened by byte repetition (c * 257), then pack_rgba16.
uint32_t pack_rgba(const RgbLayout &layout, uint8_t r, uint8_t g, uint8_t b, uint8_t a);

// binary16 bits of the fraction v / 65536, mantissa truncated; 0 for v <= 3.
uint16_t float_to_half(uint16_t v);

// Each 8-bit component as the binary16 number c / 256, then pack_rgba16.
uint64_t pack_rgba_half(const RgbLayout &layout, uint8_t r, uint8_t g, uint8_t b, uint8_t a);

// Limited-range BT.601 in integer arithmetic, rounded to nearest.
YuvColor rgb_to_yuv601(uint8_t r, uint8_t g, uint8_t b);

} // namespace pattern

#pragma pop_macro("fourcc_code")
