// SPDX-License-Identifier: MIT
// Tiles: the colour rule, its values in every family, the alpha quarter,
// the chroma of the YUV formats and the bytes that must stay as they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../param_names.h"
#include "test_support.h"
#include "tiles.h"

using namespace pattern;

namespace {

constexpr TestPattern tiles = TestPattern::tiles;

struct ColorCase {
    uint32_t x, y, width;
    int r, g, b;
};

void PrintTo(const ColorCase &c, std::ostream *os) {
    *os << "x " << c.x << " y " << c.y << " width " << c.width;
}

class TileColor : public testing::TestWithParam<ColorCase> {};

TEST_P(TileColor, FollowsTheBandsAndTheQuotientTerm) {
    const ColorCase &c = GetParam();
    const TileRgb rgb = tile_color(c.x, c.y, c.width);
    EXPECT_EQ((std::vector<int>{rgb.r, rgb.g, rgb.b}), (std::vector<int>{c.r, c.g, c.b}))
        << "(" << c.x << ", " << c.y << ") width " << c.width;
}

INSTANTIATE_TEST_SUITE_P(
    Bands, TileColor,
    testing::Values(ColorCase{0, 0, 640, 0, 0, 0}, ColorCase{64, 0, 640, 10, 17, 32},
                    ColorCase{100, 27, 640, 10, 17, 32}, ColorCase{0, 191, 640, 20, 34, 64},
                    ColorCase{192, 0, 640, 30, 51, 96}, ColorCase{256, 0, 640, 40, 68, 128},
                    ColorCase{320, 0, 640, 50, 85, 160}, ColorCase{384, 0, 640, 60, 102, 192},
                    ColorCase{448, 0, 640, 70, 119, 224},
                    // Band 8: blue 256 carries into green.
                    ColorCase{512, 0, 640, 80, 137, 0}, ColorCase{639, 0, 640, 90, 154, 32},
                    // x + y = 640 starts again at band 0.
                    ColorCase{639, 1, 640, 0, 0, 0}, ColorCase{100, 604, 640, 10, 17, 32},
                    // x + y = 258 over width 4: quotient 64, remainder 2.
                    ColorCase{3, 255, 4, 19, 5, 2}, ColorCase{0, 255, 4, 0, 0, 0},
                    ColorCase{1, 319, 5, 19, 5, 2}, ColorCase{0, 320, 5, 19, 5, 2},
                    // Quotient 128 adds the step twice.
                    ColorCase{0, 512, 4, 38, 10, 4}, ColorCase{0, 640, 5, 38, 10, 4}),
    param_names::Described{});

struct PixelCase {
    std::string format;
    uint32_t width, height, x, y;
    unsigned size; // bytes per pixel
    uint64_t expected;
};

void PrintTo(const PixelCase &c, std::ostream *os) {
    *os << c.format << " " << c.width << "x" << c.height << " x " << c.x << " y " << c.y;
}

class TilePixels : public testing::TestWithParam<PixelCase> {};

TEST_P(TilePixels, HoldTheWorkedValues) {
    const PixelCase &c = GetParam();
    const Drawing d(c.format, tiles, c.width, c.height, c.width * c.size + 4);
    EXPECT_EQ(d.pixel(c.x, c.y, c.size), c.expected);
    const auto stray = d.planes.stray_write();
    EXPECT_FALSE(stray.has_value()) << *stray;
}

INSTANTIATE_TEST_SUITE_P(
    Rgb32AndHalf, TilePixels,
    testing::Values(PixelCase{"XR24", 640, 480, 0, 0, 4, 0x00000000},
                    PixelCase{"XR24", 640, 480, 64, 0, 4, 0x000A1120},
                    PixelCase{"XR24", 640, 480, 639, 0, 4, 0x005A9A20},
                    PixelCase{"XR24", 640, 480, 639, 1, 4, 0x00000000},
                    // Alpha 127 only left of width / 2 in rows above height / 2.
                    PixelCase{"AR24", 640, 480, 0, 0, 4, 0x7F000000},
                    PixelCase{"AR24", 640, 480, 319, 239, 4, 0x7F508900},
                    PixelCase{"AR24", 640, 480, 320, 0, 4, 0xFF3255A0},
                    PixelCase{"AR24", 640, 480, 64, 240, 4, 0xFF284480},
                    PixelCase{"AR4H", 640, 480, 0, 0, 8, 0x37F0000000000000},
                    PixelCase{"AR4H", 640, 480, 639, 1, 8, 0x3BF8000000000000},
                    PixelCase{"XR24", 4, 300, 3, 255, 4, 0x00130502},
                    PixelCase{"XR24", 4, 300, 0, 255, 4, 0x00000000}),
    param_names::Described{});

// Band 1, (10, 17, 32): (64, 0) lies in the top-left quarter of a 640 x 2
// buffer, (63, 1) outside it.
INSTANTIATE_TEST_SUITE_P(BandOneInEveryLayout, TilePixels,
                         testing::Values(PixelCase{"RG16", 640, 2, 63, 1, 2, 0x0884},
                                         PixelCase{"AR12", 640, 2, 64, 0, 2,
                                                   0xF012}, // 16-bit: alpha always full
                                         PixelCase{"AR15", 640, 2, 64, 0, 2, 0x8444},
                                         PixelCase{"AR30", 640, 2, 63, 1, 4, 0xC2811080},
                                         PixelCase{"AR30", 640, 2, 64, 0, 4, 0x42811080},
                                         PixelCase{"BG24", 640, 2, 63, 1, 3, 0x20110A},
                                         PixelCase{"RG24", 640, 2, 63, 1, 3, 0x0A1120},
                                         PixelCase{"XR4H", 640, 2, 64, 0, 8, 0x000029002C403000}),
                         param_names::Described{});

struct YuvBandCase {
    uint32_t band;
    int y, cb, cr;
};

TEST(TileYuv, EachBandHasItsBt601Bytes) {
    const std::vector<YuvBandCase> bands{{0, 16, 128, 128},  {1, 30, 136, 124}, {2, 45, 143, 120},
                                         {3, 59, 151, 116},  {4, 73, 158, 112}, {5, 87, 166, 107},
                                         {6, 102, 174, 103}, {7, 116, 181, 99}, {8, 106, 77, 113},
                                         {9, 120, 84, 109}};
    // NV16, one row: the luma of column 64k, the Cb-Cr pair of columns
    // 64k and 64k + 1 at byte 64k of plane 1.
    const Drawing d("NV16", tiles, 640, 1, 640);
    for (const YuvBandCase &b : bands) {
        const uint32_t x = 64 * b.band;
        EXPECT_EQ((std::vector<int>{d.byte(0, x), d.byte(1, x), d.byte(1, x + 1)}),
                  (std::vector<int>{b.y, b.cb, b.cr}))
            << "band " << b.band;
    }
}

TEST(TileYuv, Nv12ChromaTakesTheLastPixelOfItsBlock) {
    const Drawing d("NV12", tiles, 640, 480, 640);
    // Pixels (62, 0), (63, 0), (62, 1) are band 0; only (63, 1) is band 1,
    // and its colour is the one the block's chroma keeps.
    EXPECT_EQ(d.bytes(0, 62, 2), (std::vector<int>{16, 16}));
    EXPECT_EQ(d.bytes(0, 640 + 62, 2), (std::vector<int>{16, 30}));
    EXPECT_EQ(d.bytes(1, 62, 2), (std::vector<int>{136, 124}));
}

TEST(TileYuv, ChromaBlocksCutByTheBufferEdgeTakeItsLastPixel) {
    // Width 131, height 3: the last block of a row is column 130 alone, the
    // last chroma row covers luma row 2 alone.
    const Drawing d("YU12", tiles, 131, 3, 132);
    const uint32_t chroma_step = 66;
    // Chroma row 0, sample 31: pixel (63, 1), x + y = 64, band 1 (Cb 136).
    EXPECT_EQ(d.byte(1, 31), 136);
    // Sample 65: pixel (130, 1), x + y = 131 = width, band 0 again; pixel
    // (130, 0) would give band 2 (Cb 143).
    EXPECT_EQ(d.byte(1, 65), 128);
    // Chroma row 1, sample 30: pixel (61, 2), x + y = 63, band 0.
    EXPECT_EQ(d.byte(1, chroma_step + 30), 128);
    // Sample 31: pixel (63, 2), x + y = 65, band 1 (Cr 124).
    EXPECT_EQ(d.byte(2, chroma_step + 31), 124);
    const auto stray = d.planes.stray_write();
    EXPECT_FALSE(stray.has_value()) << *stray;
}

struct PackedCase {
    std::string format;
    uint32_t width;
    uint32_t y;
    uint64_t offset; // within the row
    std::vector<int> expected;
};

void PrintTo(const PackedCase &c, std::ostream *os) {
    *os << c.format << " width " << c.width << " row " << c.y << " at " << c.offset;
}

class TilePacked : public testing::TestWithParam<PackedCase> {};

TEST_P(TilePacked, PairsTakeTheLeftPixelsColour) {
    const PackedCase &c = GetParam();
    const uint32_t stride = 2 * c.width + 6;
    const Drawing d(c.format, tiles, c.width, 2, stride);
    EXPECT_EQ(d.bytes(0, uint64_t{c.y} * stride + c.offset, c.expected.size()), c.expected);
    const auto stray = d.planes.stray_write();
    EXPECT_FALSE(stray.has_value()) << *stray;
}

INSTANTIATE_TEST_SUITE_P(Layouts, TilePacked,
                         testing::Values(
                             // (63, 1) lies in band 1 but shows the colour of (62, 1), band 0.
                             PackedCase{"YUYV", 640, 1, 124, {16, 128, 16, 128, 30, 136, 30, 124}},
                             PackedCase{"UYVY", 640, 1, 124, {128, 16, 128, 16, 136, 30, 124, 30}},
                             PackedCase{"VYUY", 640, 1, 124, {128, 16, 128, 16, 124, 30, 136, 30}},
                             PackedCase{"YVYU", 640, 1, 124, {16, 128, 16, 128, 30, 124, 30, 136}},
                             // Odd width 65: the unpaired pixel 64 (band 1) keeps its luma and the
                             // first chroma byte of its pair; the row's 130 bytes end there.
                             PackedCase{"YUYV", 65, 0, 128, {30, 136}},
                             PackedCase{"YVYU", 65, 0, 128, {30, 124}},
                             PackedCase{"UYVY", 65, 0, 128, {136, 30}},
                             PackedCase{"VYUY", 65, 0, 128, {124, 30}},
                             PackedCase{"YUYV", 65, 0, 130, {0xA5, 0xA5}}),
                         param_names::Described{});

class TileUntouched : public testing::TestWithParam<std::string> {};

TEST_P(TileUntouched, EmptySizesWriteNothing) {
    for (auto [w, h] : {std::pair{0u, 5u}, std::pair{9u, 0u}}) {
        const Drawing d(GetParam(), tiles, w, h, 80);
        for (size_t p = 0; p < 3; ++p)
            for (uint8_t b : d.plane(p))
                ASSERT_EQ(b, 0xA5) << w << "x" << h << " plane " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(SomeOfEachFamily, TileUntouched,
                         testing::Values("C8", "YUYV", "NV12", "YV12", "RG16", "BG24", "XR24",
                                         "AB4H"),
                         param_names::Described{});

TEST(TileUntouched, C8IsNeverDrawn) {
    const Drawing d("C8", tiles, 64, 8, 64);
    for (uint8_t b : d.plane(0))
        ASSERT_EQ(b, 0xA5);
}

TEST(TilePlanar, SeparateChromaBuffersGetTheSameSamples) {
    // YU12 keeps Cb and Cr in planes of their own, NV12 interleaves them;
    // both subsample alike, so the samples must agree one for one.
    const uint32_t width = 131, height = 7, stride = 132;
    std::vector<uint8_t> luma(stride * height), interleaved(stride * 4 + 1, 0xA5);
    std::vector<uint8_t> cb(stride / 2 * 4 + 1, 0xA5), cr(stride / 2 * 4 + 1, 0xA5);
    draw_tiles(format_named("NV12"), {luma.data(), interleaved.data(), nullptr}, width, height,
               stride);
    draw_tiles(format_named("YU12"), {luma.data(), cb.data(), cr.data()}, width, height, stride);
    for (size_t row = 0; row < 4; ++row) {
        for (size_t k = 0; k < (width + 1) / 2; ++k) {
            EXPECT_EQ(cb[row * stride / 2 + k], interleaved[row * stride + 2 * k])
                << row << " " << k;
            EXPECT_EQ(cr[row * stride / 2 + k], interleaved[row * stride + 2 * k + 1])
                << row << " " << k;
        }
    }
}

} // namespace
