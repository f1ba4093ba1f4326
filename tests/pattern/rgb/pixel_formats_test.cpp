// SPDX-License-Identifier: MIT
// The pixel-format table, its lookups and the encoders.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <string>

#include "format_layout.h"
#include "pixel_formats.h"
#include "rgb_test_support.h"

using namespace pattern;

namespace {

TEST(PixelFormatTable, CodesAndNamesAreUniqueAndCodesSpellTheNames) {
    std::set<uint32_t> codes;
    std::set<std::string> names;
    for (const PixelFormatInfo &row : pixel_format_table) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(codes.insert(row.fourcc).second);
        EXPECT_TRUE(names.insert(row.name).second);
        // Every code is its name, blank-padded to four characters.
        char padded[5] = "    ";
        std::memcpy(padded, row.name, std::strlen(row.name));
        EXPECT_EQ(row.fourcc, fourcc_code(padded[0], padded[1], padded[2], padded[3]));
    }
    EXPECT_EQ(fourcc_code('X', 'R', '2', '4'), 0x34325258u);
}

TEST(PixelFormatTable, YuvOrderFlagsAreConsistent) {
    for (const PixelFormatInfo &row : pixel_format_table) {
        if (row.yuv.xsub == 0)
            continue;
        SCOPED_TRACE(row.name);
        const uint32_t chroma = row.yuv.order & (cb_before_cr | cr_before_cb);
        EXPECT_TRUE(chroma == cb_before_cr || chroma == cr_before_cb);
        const uint32_t packing = row.yuv.order & (luma_first | chroma_first);
        const bool packed = pixel_family(row) == PixelFamily::yuv_packed;
        if (packed)
            EXPECT_TRUE(packing == luma_first || packing == chroma_first);
        else
            EXPECT_EQ(packing, 0u);
    }
}

struct FamilyCase {
    const char *names[16];
    PixelFamily family;
    uint32_t bytes_per_pixel;
};

TEST(PixelFormatTable, FamiliesAndPixelSizes) {
    const FamilyCase cases[] = {
        {{"C8"}, PixelFamily::indexed, 1},
        {{"UYVY", "VYUY", "YUYV", "YVYU"}, PixelFamily::yuv_packed, 2},
        {{"NV12", "NV21", "NV16", "NV61"}, PixelFamily::yuv_semi_planar, 1},
        {{"YU12", "YV12"}, PixelFamily::yuv_planar, 1},
        {{"AR12", "XR12", "AB12", "XB12", "RA12", "RX12", "BA12", "BX12", "AR15", "XR15", "AB15",
          "XB15", "RA15", "RX15", "BA15", "BX15"},
         PixelFamily::rgb16,
         2},
        {{"RG16", "BG16"}, PixelFamily::rgb16, 2},
        {{"BG24", "RG24"}, PixelFamily::rgb24, 3},
        {{"AR24", "XR24", "AB24", "XB24", "RA24", "RX24", "BA24", "BX24", "AR30", "XR30", "AB30",
          "XB30", "RA30", "RX30", "BA30", "BX30"},
         PixelFamily::rgb32,
         4},
        {{"XR4H", "XB4H", "AR4H", "AB4H"}, PixelFamily::rgb_half, 8},
    };
    size_t total = 0;
    for (const FamilyCase &c : cases) {
        for (const char *name : c.names) {
            if (name == nullptr)
                break;
            SCOPED_TRACE(name);
            const PixelFormatInfo &row = rgb_test::format_named(name);
            EXPECT_EQ(pixel_family(row), c.family);
            EXPECT_EQ(plane0_bytes_per_pixel(pixel_family(row)), c.bytes_per_pixel);
            ++total;
        }
    }
    EXPECT_EQ(total, 51u);
}

// Where each layout puts its bytes, as the formats define them (one row per
// distinct layout).
struct LayoutCase {
    const char *name;
    uint32_t planes;
    std::array<uint32_t, 3> bytes_per_pixel;
    uint32_t xsub, ysub, chroma_step;
    ComponentPlace cb, cr;
    uint32_t luma_byte;
    bool half_float;
};

TEST(FormatLayout, PlacesEveryComponent) {
    const LayoutCase cases[] = {
        // Packed pairs: YUYV is Y0 Cb Y1 Cr, UYVY Cb Y0 Cr Y1, and so on.
        {"YUYV", 1, {2, 0, 0}, 2, 1, 4, {0, 1}, {0, 3}, 0, false},
        {"YVYU", 1, {2, 0, 0}, 2, 1, 4, {0, 3}, {0, 1}, 0, false},
        {"UYVY", 1, {2, 0, 0}, 2, 1, 4, {0, 0}, {0, 2}, 1, false},
        {"VYUY", 1, {2, 0, 0}, 2, 1, 4, {0, 2}, {0, 0}, 1, false},
        {"NV12", 2, {1, 2, 0}, 2, 2, 2, {1, 0}, {1, 1}, 0, false},
        {"NV21", 2, {1, 2, 0}, 2, 2, 2, {1, 1}, {1, 0}, 0, false},
        {"NV16", 2, {1, 2, 0}, 2, 1, 2, {1, 0}, {1, 1}, 0, false},
        {"NV61", 2, {1, 2, 0}, 2, 1, 2, {1, 1}, {1, 0}, 0, false},
        {"YU12", 3, {1, 1, 1}, 2, 2, 1, {1, 0}, {2, 0}, 0, false},
        {"YV12", 3, {1, 1, 1}, 2, 2, 1, {2, 0}, {1, 0}, 0, false},
        {"C8", 1, {1, 0, 0}, 1, 1, 0, {0, 0}, {0, 0}, 0, false},
        {"RA15", 1, {2, 0, 0}, 1, 1, 0, {0, 0}, {0, 0}, 0, false},
        {"BG24", 1, {3, 0, 0}, 1, 1, 0, {0, 0}, {0, 0}, 0, false},
        {"XB24", 1, {4, 0, 0}, 1, 1, 0, {0, 0}, {0, 0}, 0, false},
        {"BX30", 1, {4, 0, 0}, 1, 1, 0, {0, 0}, {0, 0}, 0, false},
        {"XB4H", 1, {8, 0, 0}, 1, 1, 0, {0, 0}, {0, 0}, 0, true},
    };
    for (const LayoutCase &c : cases) {
        SCOPED_TRACE(c.name);
        const FormatLayout l = format_layout(rgb_test::format_named(c.name));
        EXPECT_EQ(l.planes, c.planes);
        EXPECT_EQ(l.bytes_per_pixel, c.bytes_per_pixel);
        EXPECT_EQ((std::array{l.xsub, l.ysub, l.chroma_step}),
                  (std::array{c.xsub, c.ysub, c.chroma_step}));
        EXPECT_EQ((std::array{l.cb.plane, l.cb.byte, l.cr.plane, l.cr.byte, l.luma_byte}),
                  (std::array{c.cb.plane, c.cb.byte, c.cr.plane, c.cr.byte, c.luma_byte}));
        EXPECT_EQ(l.half_float, c.half_float);
    }
}

TEST(PixelFormatLookup, ByCode) {
    const PixelFormatInfo *xr24 = find_pixel_format(0x34325258);
    ASSERT_NE(xr24, nullptr);
    EXPECT_STREQ(xr24->name, "XR24");
    EXPECT_EQ(find_pixel_format(0), nullptr);
    // C8 is coded with two blanks, not with zero bytes.
    ASSERT_NE(find_pixel_format(0x20203843), nullptr);
    EXPECT_STREQ(find_pixel_format(0x20203843)->name, "C8");
    EXPECT_EQ(find_pixel_format(0x00003843), nullptr);
    // The last row is reached.
    ASSERT_NE(find_pixel_format(0x48344241), nullptr);
    EXPECT_STREQ(find_pixel_format(0x48344241)->name, "AB4H");
    // All 32 bits count.
    EXPECT_EQ(find_pixel_format(0x34325258 | 0x80000000u), nullptr);
}

TEST(PixelFormatLookup, ByName) {
    const struct {
        const char *name;
        uint32_t code;
    } cases[] = {
        {"C8", 0x20203843},   {"C8  ", 0},  {"XR24", 0x34325258}, {"xr24", 0}, {"XR2", 0}, {"", 0},
        {"AB4H", 0x48344241}, {"XR24 ", 0}, {"NV12", 0x3231564E},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pixel_format_from_name(c.name), c.code);
    }
}

struct PackCase {
    const char *format;
    uint8_t r, g, b, a;
    uint32_t expected;
};

TEST(PixelEncoders, PackRgba) {
    const PackCase cases[] = {
        {"XR24", 255, 0, 0, 255, 0x00FF0000}, // alpha dropped, X byte 0
        {"AR24", 1, 2, 3, 4, 0x04010203},
        {"XR30", 192, 192, 192, 255, 0x303C0F03}, // 192 widens to 771
        {"AR30", 255, 255, 255, 255, 0xFFFFFFFF},
        {"AR30", 0, 0, 0, 127, 0x40000000}, // 2-bit alpha: 127 -> 1
        {"RG16", 255, 255, 255, 0, 0xFFFF},
        {"AR15", 0, 0, 0, 127, 0x0000}, // 1-bit alpha: 127 -> 0
        {"AR15", 0, 0, 0, 128, 0x8000},
        {"RA15", 0, 0, 0, 128, 0x0001},
        {"BA12", 0xF0, 0, 0, 0x10, 0x00F1},
        {"RX24", 0x11, 0x22, 0x33, 0x44, 0x11223300},
        {"BA30", 0, 0, 255, 255, 0xFFC00003},
    };
    for (const PackCase &c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(pack_rgba(rgb_test::format_named(c.format).rgb, c.r, c.g, c.b, c.a), c.expected);
    }
}

TEST(PixelEncoders, PackRgba16KeepsTopBitsAtEachOffset) {
    const RgbLayout half = rgb_test::format_named("AB4H").rgb;
    EXPECT_EQ(pack_rgba16(half, 0x1111, 0x2222, 0x3333, 0x4444), 0x4444333322221111u);
    const RgbLayout xr4h = rgb_test::format_named("XR4H").rgb;
    EXPECT_EQ(pack_rgba16(xr4h, 0x1111, 0x2222, 0x3333, 0xFFFF), 0x0000111122223333u);
    const RgbLayout rg16 = rgb_test::format_named("RG16").rgb;
    EXPECT_EQ(pack_rgba16(rg16, 0x8421, 0x8421, 0x8421, 0xFFFF), 0x8430u);
}

TEST(PixelEncoders, FloatToHalf) {
    const struct {
        uint16_t v;
        uint16_t half;
    } cases[] = {
        {0, 0},       {1, 0},           {2, 0},           {3, 0},           {4, 0x0400},
        {64, 0x1400}, {0x8000, 0x3800}, {0xC000, 0x3A00}, {0xFF00, 0x3BF8}, {65535, 0x3BFF},
        {5, 0x0500},  {0x7FFF, 0x37FF}, {0x1300, 0x2CC0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.v);
        EXPECT_EQ(float_to_half(c.v), c.half);
    }
}

TEST(PixelEncoders, PackRgbaHalf) {
    // Per component: c / 256 as binary16.
    const struct {
        uint8_t c;
        uint16_t half;
    } levels[] = {{192, 0x3A00}, {255, 0x3BF8}, {127, 0x37F0}, {19, 0x2CC0},
                  {9, 0x2880},   {29, 0x2F40},  {33, 0x3020},  {76, 0x34C0},
                  {50, 0x3240},  {106, 0x36A0}, {0, 0x0000}};
    const RgbLayout ab4h = rgb_test::format_named("AB4H").rgb;
    for (const auto &l : levels) {
        SCOPED_TRACE(int{l.c});
        const uint64_t h = l.half;
        EXPECT_EQ(pack_rgba_half(ab4h, l.c, 0, 0, 0), h);
        EXPECT_EQ(pack_rgba_half(ab4h, 0, 0, 0, l.c), h << 48);
    }
    EXPECT_EQ(pack_rgba_half(rgb_test::format_named("XR4H").rgb, 192, 192, 192, 255),
              0x00003A003A003A00u);
    EXPECT_EQ(pack_rgba_half(rgb_test::format_named("AR4H").rgb, 192, 192, 192, 255),
              0x3BF83A003A003A00u);
}

TEST(PixelEncoders, RgbToYuv601) {
    const struct {
        uint8_t r, g, b;
        uint8_t y, cb, cr;
    } cases[] = {
        {0, 0, 0, 16, 128, 128},    {255, 255, 255, 235, 128, 128}, {255, 0, 0, 82, 90, 240},
        {0, 255, 0, 144, 54, 34},   {0, 0, 255, 41, 240, 110},      {192, 192, 192, 181, 128, 128},
        {19, 19, 19, 32, 128, 128}, {0, 33, 76, 40, 152, 111},      {50, 0, 106, 39, 167, 142},
    };
    for (const auto &c : cases) {
        const YuvColor yuv = rgb_to_yuv601(c.r, c.g, c.b);
        EXPECT_EQ(yuv.y, c.y) << int{c.r} << "," << int{c.g} << "," << int{c.b};
        EXPECT_EQ(yuv.cb, c.cb) << int{c.r} << "," << int{c.g} << "," << int{c.b};
        EXPECT_EQ(yuv.cr, c.cr) << int{c.r} << "," << int{c.g} << "," << int{c.b};
    }
}

TEST(PixelEncoders, RgbToYuv601StaysInLimitedRange) {
    for (int r = 0; r < 256; r += 15)
        for (int g = 0; g < 256; g += 15)
            for (int b = 0; b < 256; b += 15) {
                const YuvColor c = rgb_to_yuv601(r, g, b);
                ASSERT_GE(c.y, 16);
                ASSERT_LE(c.y, 235);
                ASSERT_GE(c.cb, 16);
                ASSERT_LE(c.cb, 240);
                ASSERT_GE(c.cr, 16);
                ASSERT_LE(c.cr, 240);
            }
}

} // namespace
