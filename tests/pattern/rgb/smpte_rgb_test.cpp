// SPDX-License-Identifier: MIT
// SMPTE colour bars in the RGB, half-float and C8 formats: worked pictures,
// pixel values per format, byte order, untouched bytes and the C8 palette.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format_layout.h"
#include "rgb_test_support.h"
#include "smpte.h"

using namespace pattern;

namespace {

using rgb_test::draw_smpte_direct;
using rgb_test::format_named;
using rgb_test::GuardedPlane;
using rgb_test::read_le;
using rgb_test::sentinel;

TEST(SmpteRgb, Xr24FourteenByNine) {
    constexpr uint32_t width = 14, height = 9, stride = 64;
    GuardedPlane plane(height, stride);
    draw_smpte_direct(format_named("XR24"), plane.data(), width, height, stride);

    const std::vector<uint32_t> top{0x00C0C0C0, 0x00C0C0C0, 0x00C0C000, 0x00C0C000, 0x0000C0C0,
                                    0x0000C0C0, 0x0000C000, 0x0000C000, 0x00C000C0, 0x00C000C0,
                                    0x00C00000, 0x00C00000, 0x000000C0, 0x000000C0};
    const std::vector<uint32_t> middle{0x000000C0, 0x000000C0, 0x00131313, 0x00131313, 0x00C000C0,
                                       0x00C000C0, 0x00131313, 0x00131313, 0x0000C0C0, 0x0000C0C0,
                                       0x00131313, 0x00131313, 0x00C0C0C0, 0x00C0C0C0};
    const std::vector<uint32_t> bottom{0x0000214C, 0x0000214C, 0x0000214C, 0x00FFFFFF, 0x00FFFFFF,
                                       0x0032006A, 0x0032006A, 0x0032006A, 0x00131313, 0x00131313,
                                       0x00090909, 0x00131313, 0x00131313, 0x00131313};
    for (uint32_t y = 0; y < height; ++y) {
        SCOPED_TRACE(y);
        const uint8_t *row = plane.data() + y * stride;
        const std::vector<uint32_t> &want = y < 6 ? top : y == 6 ? middle : bottom;
        for (uint32_t x = 0; x < width; ++x)
            EXPECT_EQ(read_le(row + 4 * x, 4), want[x]) << "x " << x;
        for (uint32_t i = 56; i < stride; ++i)
            EXPECT_EQ(row[i], sentinel) << "padding byte " << i;
    }
    EXPECT_TRUE(plane.guard_intact());
}

TEST(SmpteRgb, C8FourteenByNine) {
    constexpr uint32_t width = 14, height = 9, stride = 16;
    GuardedPlane plane(height, stride);
    draw_smpte_direct(format_named("C8"), plane.data(), width, height, stride);
    const std::vector<uint8_t> top{0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, sentinel, sentinel};
    const std::vector<uint8_t> middle{7,  7,  8,  8,  9,  9,  10,       10,
                                      11, 11, 12, 12, 13, 13, sentinel, sentinel};
    const std::vector<uint8_t> bottom{14, 14, 14, 15, 15, 16, 16,       16,
                                      17, 17, 18, 19, 21, 21, sentinel, sentinel};
    for (uint32_t y = 0; y < height; ++y) {
        const std::vector<uint8_t> row(plane.bytes.begin() + y * stride,
                                       plane.bytes.begin() + (y + 1) * stride);
        EXPECT_EQ(row, y < 6 ? top : y == 6 ? middle : bottom) << "row " << y;
    }
    EXPECT_TRUE(plane.guard_intact());
}

struct PixelCase {
    const char *format;
    uint32_t width, height, x, y;
    uint64_t expected;
    const char *what;
};

// Pixels of a 14 x 9 picture unless said otherwise: row 0 top band, row 6
// middle band, row 7 bottom band.
const PixelCase pixel_cases[] = {
    {"AR24", 14, 9, 0, 0, 0xFFC0C0C0, "top grey"},
    {"AR24", 14, 9, 0, 6, 0x7F0000C0, "middle blue"},
    {"AR24", 14, 9, 0, 7, 0xFF00214C, "in-phase"},
    {"AB24", 14, 9, 0, 7, 0xFF4C2100, "in-phase"},
    {"RA24", 14, 9, 0, 6, 0x0000C07F, "middle blue"},
    {"BX24", 14, 9, 5, 7, 0x6A003200, "quadrature"},
    {"AR15", 14, 9, 12, 0, 0x8018, "top blue"},
    {"AR15", 14, 9, 0, 6, 0x0018, "middle blue, alpha bit clear"},
    {"RA15", 14, 9, 12, 0, 0x0031, "top blue"},
    {"XR15", 14, 9, 3, 7, 0x7FFF, "white, X bit 0"},
    {"AR30", 14, 9, 0, 0, 0xF03C0F03, "top grey"},
    {"AR30", 14, 9, 12, 6, 0x703C0F03, "middle grey"},
    {"AR30", 14, 9, 3, 7, 0xFFFFFFFF, "white"},
    {"XR30", 14, 9, 0, 0, 0x303C0F03, "top grey"},
    {"RG16", 14, 9, 0, 0, 0xC618, "grey"},
    {"RG16", 14, 9, 2, 6, 0x1082, "black"},
    {"RG16", 14, 9, 3, 7, 0xFFFF, "white"},
    {"BG16", 14, 9, 0, 0, 0xC618, "grey"},
    {"BG16", 14, 9, 2, 6, 0x1082, "black"},
    {"BG16", 14, 9, 3, 7, 0xFFFF, "white"},
    {"AR12", 21, 1, 15, 0, 0xF000, "darker than black"},
    {"AR12", 21, 1, 16, 0, 0xF111, "black"},
    {"AR12", 21, 1, 17, 0, 0xF111, "lighter than black"},
    {"AR12", 14, 9, 0, 6, 0x700C, "middle blue, alpha 7"},
    {"XR4H", 14, 9, 0, 0, 0x00003A003A003A00, "top grey"},
    {"AR4H", 14, 9, 0, 0, 0x3BF83A003A003A00, "top grey"},
    {"AR4H", 14, 9, 0, 6, 0x37F0000000003A00, "middle blue"},
    {"AB4H", 14, 9, 3, 7, 0x3BF83BF83BF83BF8, "white"},
    {"XB4H", 14, 9, 10, 7, 0x0000288028802880, "darker than black"},
    {"XR24", 7, 1, 6, 0, 0x00131313, "closing black"},
    {"C8", 21, 1, 17, 0, 20, "lighter than black"},
};

TEST(SmpteRgb, PixelValuesPerFormat) {
    for (const PixelCase &c : pixel_cases) {
        SCOPED_TRACE(std::string(c.format) + " " + c.what);
        const PixelFormatInfo &format = format_named(c.format);
        const uint32_t bpp = format_layout(format).bytes_per_pixel[0];
        const uint32_t stride = c.width * bpp;
        GuardedPlane plane(c.height, stride);
        rgb_test::draw_smpte_direct(format, plane.data(), c.width, c.height, stride);
        EXPECT_EQ(read_le(plane.data() + c.y * stride + c.x * bpp, bpp), c.expected);
    }
}

// Bytes spelled out in memory order: a store in host order would fail here on
// a big-endian host.
TEST(SmpteRgb, BytesInMemoryAreLeastSignificantFirst) {
    const struct {
        const char *format;
        uint32_t width, height;
        std::vector<uint8_t> first_row;
    } cases[] = {
        {"XR24", 1, 9, {0xC0, 0xC0, 0xC0, 0x00}},
        {"AR24", 1, 9, {0xC0, 0xC0, 0xC0, 0xFF}},
        {"AR30", 1, 9, {0x03, 0x0F, 0x3C, 0xF0}},
        {"RG16", 1, 9, {0x18, 0xC6}},
        {"AR15",
         7,
         9,
         {0x18, 0xE3, 0x00, 0xE3, 0x18, 0x83, 0x00, 0x83, 0x18, 0xE0, 0x00, 0xE0, 0x18, 0x80}},
        {"AR4H", 1, 9, {0x00, 0x3A, 0x00, 0x3A, 0x00, 0x3A, 0xF8, 0x3B}},
        {"RG24", 7, 1, {0x4C, 0x21, 0x00, 0x4C, 0x21, 0x00, 0xFF, 0xFF, 0xFF, 0x6A, 0x00,
                        0x32, 0x13, 0x13, 0x13, 0x09, 0x09, 0x09, 0x13, 0x13, 0x13}},
        {"BG24", 7, 1, {0x00, 0x21, 0x4C, 0x00, 0x21, 0x4C, 0xFF, 0xFF, 0xFF, 0x32, 0x00,
                        0x6A, 0x13, 0x13, 0x13, 0x09, 0x09, 0x09, 0x13, 0x13, 0x13}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        const PixelFormatInfo &format = format_named(c.format);
        const uint32_t stride = static_cast<uint32_t>(c.first_row.size()) + 3;
        GuardedPlane plane(c.height, stride);
        rgb_test::draw_smpte_direct(format, plane.data(), c.width, c.height, stride);
        const std::vector<uint8_t> row(plane.bytes.begin(),
                                       plane.bytes.begin() + c.first_row.size());
        EXPECT_EQ(row, c.first_row);
        for (uint32_t i = static_cast<uint32_t>(c.first_row.size()); i < stride; ++i)
            EXPECT_EQ(plane.bytes[i], sentinel);
    }
}

// The C8 index of each row's first pixel shows its band: 0 top, 7 middle, 14
// bottom.
TEST(SmpteRgb, BandOfEachRowAtSmallHeights) {
    const struct {
        uint32_t height;
        std::vector<uint8_t> first_column;
    } cases[] = {
        {1, {14}},
        {2, {0, 14}},
        {3, {0, 0, 14}},
        {4, {0, 0, 7, 14}},
        {5, {0, 0, 0, 14, 14}},
        {9, {0, 0, 0, 0, 0, 0, 7, 14, 14}},
        {12, {0, 0, 0, 0, 0, 0, 0, 0, 7, 14, 14, 14}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.height);
        GuardedPlane plane(c.height, 7);
        draw_smpte_direct(format_named("C8"), plane.data(), 7, c.height, 7);
        std::vector<uint8_t> column;
        for (uint32_t y = 0; y < c.height; ++y)
            column.push_back(plane.bytes[y * 7]);
        EXPECT_EQ(column, c.first_column);
    }
}

TEST(SmpteRgb, EmptyPictureWritesNothing) {
    for (const PixelFormatInfo *format : rgb_test::rgb_and_indexed_formats()) {
        SCOPED_TRACE(format->name);
        for (const auto &[width, height] : {std::pair{0u, 9u}, {14u, 0u}, {0u, 0u}}) {
            GuardedPlane plane(9, 128, sentinel, 0);
            rgb_test::draw_smpte_direct(*format, plane.data(), width, height, 128);
            for (uint8_t b : plane.bytes)
                ASSERT_EQ(b, sentinel) << width << " x " << height;
        }
    }
}

std::vector<ColorLutEntry> lut_of(uint32_t size) {
    return std::vector<ColorLutEntry>(size, ColorLutEntry{0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD});
}

bool untouched(const std::vector<ColorLutEntry> &lut) {
    for (const ColorLutEntry &e : lut)
        if (e.red != 0xAAAA || e.green != 0xBBBB || e.blue != 0xCCCC || e.reserved != 0xDDDD)
            return false;
    return true;
}

TEST(SmptePalette, TooSmallTableIsReportedAndLeftAlone) {
    for (uint32_t size : {0u, 1u, 21u}) {
        SCOPED_TRACE(size);
        std::vector<ColorLutEntry> lut = lut_of(size + 1); // one spare entry past the end
        testing::internal::CaptureStdout();
        build_smpte_c8_palette(size, lut.data());
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Error: gamma too small: " + std::to_string(size) + " < 22\n");
        EXPECT_TRUE(untouched(lut));
    }
}

TEST(SmptePalette, TwentyTwoEntries) {
    const uint16_t expected[22][3] = {
        {0xC000, 0xC000, 0xC000}, {0xC000, 0xC000, 0},      {0, 0xC000, 0xC000},
        {0, 0xC000, 0},           {0xC000, 0, 0xC000},      {0xC000, 0, 0},
        {0, 0, 0xC000},           {0, 0, 0xC000},           {0x1300, 0x1300, 0x1300},
        {0xC000, 0, 0xC000},      {0x1300, 0x1300, 0x1300}, {0, 0xC000, 0xC000},
        {0x1300, 0x1300, 0x1300}, {0xC000, 0xC000, 0xC000}, {0, 0x2100, 0x4C00},
        {0xFF00, 0xFF00, 0xFF00}, {0x3200, 0, 0x6A00},      {0x1300, 0x1300, 0x1300},
        {0x0900, 0x0900, 0x0900}, {0x1300, 0x1300, 0x1300}, {0x1D00, 0x1D00, 0x1D00},
        {0x1300, 0x1300, 0x1300},
    };
    std::vector<ColorLutEntry> lut = lut_of(23);
    testing::internal::CaptureStdout();
    build_smpte_c8_palette(22, lut.data());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    for (int i = 0; i < 22; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lut[i].red, expected[i][0]);
        EXPECT_EQ(lut[i].green, expected[i][1]);
        EXPECT_EQ(lut[i].blue, expected[i][2]);
        EXPECT_EQ(lut[i].reserved, 0);
    }
    // The entry past the table is not the palette's to write.
    EXPECT_EQ(lut[22].red, 0xAAAA);
    EXPECT_EQ(lut[22].reserved, 0xDDDD);
}

TEST(SmptePalette, EntriesPastTheColoursBecomeBlack) {
    std::vector<ColorLutEntry> lut = lut_of(256);
    build_smpte_c8_palette(256, lut.data());
    EXPECT_EQ(lut[15].red, 0xFF00);
    for (int i = 22; i < 256; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lut[i].red, 0);
        EXPECT_EQ(lut[i].green, 0);
        EXPECT_EQ(lut[i].blue, 0);
        EXPECT_EQ(lut[i].reserved, 0);
    }
}

} // namespace
