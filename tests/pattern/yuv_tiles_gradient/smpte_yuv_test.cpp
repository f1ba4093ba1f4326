// SPDX-License-Identifier: MIT
// SMPTE bars in the YUV formats: byte layouts, band geometry of the luma and
// chroma rows, and the bytes that must stay as they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smpte.h"
#include "../param_names.h"
#include "test_support.h"

using namespace pattern;

namespace {

constexpr TestPattern smpte = TestPattern::smpte;

struct RowCase {
    std::string format;
    uint32_t width, height, stride;
    size_t plane;
    uint64_t offset;
    std::vector<int> expected;
};

void PrintTo(const RowCase &c, std::ostream *os) {
    *os << c.format << " " << c.width << "x" << c.height << " stride " << c.stride << " plane "
        << c.plane << " at " << c.offset;
}

class SmpteYuvBytes : public testing::TestWithParam<RowCase> {};

TEST_P(SmpteYuvBytes, HoldTheWorkedValues) {
    const RowCase &c = GetParam();
    const Drawing d(c.format, smpte, c.width, c.height, c.stride);
    EXPECT_EQ(d.bytes(c.plane, c.offset, c.expected.size()), c.expected);
    const auto stray = d.planes.stray_write();
    EXPECT_FALSE(stray.has_value()) << *stray;
}

// One bottom-band row, 8 wide, in the four packed orders.
INSTANTIATE_TEST_SUITE_P(
    PackedLayouts, SmpteYuvBytes,
    testing::Values(
        RowCase{"YUYV",
                8,
                1,
                16,
                0,
                0,
                {40, 152, 40, 111, 235, 128, 39, 128, 32, 128, 24, 128, 32, 128, 32, 128}},
        RowCase{"UYVY",
                8,
                1,
                16,
                0,
                0,
                {152, 40, 111, 40, 128, 235, 128, 39, 128, 32, 128, 24, 128, 32, 128, 32}},
        RowCase{"VYUY",
                8,
                1,
                16,
                0,
                0,
                {111, 40, 152, 40, 128, 235, 128, 39, 128, 32, 128, 24, 128, 32, 128, 32}},
        RowCase{"YVYU",
                8,
                1,
                16,
                0,
                0,
                {40, 111, 40, 152, 235, 128, 39, 128, 32, 128, 24, 128, 32, 128, 32, 128}},
        // A top-band row 10 wide: luma of bars 0 0 1 2 2 3 4 4 5 6, the five
        // pairs with the chroma of bars 0 1 2 4 5.
        RowCase{"YUYV", 10, 3, 20, 0, 0, {181, 128, 181, 128, 162, 44,  132, 142, 132, 157,
                                          113, 44,  84,  184, 84,  199, 66,  100, 35,  212}}),
    param_names::Described{});

INSTANTIATE_TEST_SUITE_P(
    PlanarLayouts, SmpteYuvBytes,
    testing::Values(RowCase{"NV12", 8, 2, 8, 0, 0, {181, 181, 162, 132, 113, 84, 66, 35}},
                    RowCase{"NV12", 8, 2, 8, 0, 8, {40, 40, 235, 39, 32, 24, 32, 32}},
                    RowCase{"NV12", 8, 2, 8, 1, 0, {152, 111, 128, 128, 128, 128, 128, 128}},
                    RowCase{"NV21", 8, 2, 8, 1, 0, {111, 152, 128, 128, 128, 128, 128, 128}},
                    RowCase{"YV12", 8, 2, 8, 0, 8, {40, 40, 235, 39, 32, 24, 32, 32}},
                    RowCase{"YV12", 8, 2, 8, 1, 0, {111, 128, 128, 128}},
                    RowCase{"YV12", 8, 2, 8, 2, 0, {152, 128, 128, 128}},
                    RowCase{"YU12", 8, 2, 8, 1, 0, {152, 128, 128, 128}},
                    RowCase{"YU12", 8, 2, 8, 2, 0, {111, 128, 128, 128}},
                    // Odd width 7, stride 8: the chroma rows of NV12 are 8 bytes apart.
                    RowCase{"NV12", 7, 4, 8, 1, 0, {128, 128, 157, 44, 184, 199, 212, 115}},
                    RowCase{"NV12", 7, 4, 8, 1, 8, {152, 111, 128, 128, 128, 128, 128, 128}},
                    // ... and those of YU12 4 bytes apart.
                    RowCase{"YU12", 7, 4, 8, 1, 0, {128, 157, 184, 212, 152, 128, 128, 128}},
                    RowCase{"YU12", 7, 4, 8, 2, 0, {128, 44, 199, 115, 111, 128, 128, 128}},
                    // NV16 has a chroma row for every luma row, each with its own band.
                    RowCase{"NV16", 8, 2, 8, 1, 0, {128, 128, 44, 142, 73, 58, 100, 212}},
                    RowCase{"NV16", 8, 2, 8, 1, 8, {152, 111, 128, 128, 128, 128, 128, 128}}),
    param_names::Described{});

// Widths 4 to 6 leave the narrow steps one column with width / 7 = 0: that
// column is black (Y 32), like the last column of the steps elsewhere.
INSTANTIATE_TEST_SUITE_P(
    NarrowBottomBand, SmpteYuvBytes,
    testing::Values(RowCase{"NV12", 4, 1, 4, 0, 0, {40, 39, 32, 32}},
                    RowCase{"NV12", 5, 1, 5, 0, 0, {40, 235, 39, 32, 32}},
                    RowCase{"NV12", 6, 1, 6, 0, 0, {40, 235, 39, 32, 32, 32}},
                    RowCase{"YUYV", 4, 1, 8, 0, 0, {40, 152, 39, 111, 32, 128, 32, 128}},
                    // The one chroma row of height 2 is a bottom-band row.
                    RowCase{"YU12", 6, 2, 6, 1, 0, {152, 167, 128}}),
    param_names::Described{});

// An odd width in the packed formats: the unpaired last pixel (top-band
// blue: Y 35, Cb 212, Cr 115) keeps its luma and the first chroma byte of
// its pair; nothing is written from byte 2 x width on.
INSTANTIATE_TEST_SUITE_P(PackedOddWidth, SmpteYuvBytes,
                         testing::Values(RowCase{"YUYV", 7, 3, 16, 0, 12, {35, 212}},
                                         RowCase{"YVYU", 7, 3, 16, 0, 12, {35, 115}},
                                         RowCase{"UYVY", 7, 3, 16, 0, 12, {212, 35}},
                                         RowCase{"VYUY", 7, 3, 16, 0, 12, {115, 35}},
                                         RowCase{"YUYV", 7, 3, 16, 0, 14, {0xA5, 0xA5}},
                                         RowCase{"UYVY", 7, 3, 14, 0, 14 + 12, {212, 35}}),
                         param_names::Described{});

struct BandCase {
    uint32_t row;
    uint8_t luma; // Y of column 0 in the luma row
    uint8_t cb;   // Cb of column 0 in the chroma row of the same number
};

TEST(SmpteYuvBands, ChromaRowsHaveTheirOwnBandsAtHeight900) {
    // Luma bands 0-599, 600-699, 700-899; chroma bands 0-299, 300-349,
    // 350-449; column 0 shows grey (181/128), blue (35/212), in-phase (40/152).
    const uint32_t stride = 16;
    const Drawing d("NV12", smpte, 14, 900, stride);
    const std::vector<BandCase> luma_rows{{0, 181, 0},  {599, 181, 0}, {600, 35, 0},
                                          {699, 35, 0}, {700, 40, 0},  {899, 40, 0}};
    for (const BandCase &c : luma_rows)
        EXPECT_EQ(d.byte(0, uint64_t{c.row} * stride), c.luma) << "luma row " << c.row;
    const std::vector<BandCase> chroma_rows{{0, 0, 128},   {299, 0, 128}, {300, 0, 212},
                                            {349, 0, 212}, {350, 0, 152}, {449, 0, 152}};
    // The chroma row step is the stride.
    for (const BandCase &c : chroma_rows)
        EXPECT_EQ(d.byte(1, uint64_t{c.row} * stride), c.cb) << "chroma row " << c.row;
}

TEST(SmpteYuvBands, OddHeightPutsTopLumaUnderBottomChroma) {
    const Drawing d("NV12", smpte, 8, 5, 8);
    // Luma rows 0-2 top band, 3-4 bottom band.
    EXPECT_EQ(d.bytes(0, 2 * 8, 8), (std::vector<int>{181, 181, 162, 132, 113, 84, 66, 35}));
    EXPECT_EQ(d.bytes(0, 3 * 8, 8), (std::vector<int>{40, 40, 235, 39, 32, 24, 32, 32}));
    // Chroma row 0 top band, row 1 (under luma rows 2 and 3) bottom band.
    EXPECT_EQ(d.bytes(1, 0, 8), (std::vector<int>{128, 128, 44, 142, 73, 58, 100, 212}));
    EXPECT_EQ(d.bytes(1, 8, 8), (std::vector<int>{152, 111, 128, 128, 128, 128, 128, 128}));
    // The third chroma row the buffer holds for luma row 4 is not drawn.
    EXPECT_EQ(d.bytes(1, 16, 8), repeat({0xA5}, 8));
    const auto stray = d.planes.stray_write();
    EXPECT_FALSE(stray.has_value()) << *stray;
}

TEST(SmpteYuvBands, Yu12OddHeightLeavesTheThirdChromaRow) {
    const Drawing d("YU12", smpte, 8, 5, 8);
    EXPECT_EQ(d.bytes(1, 0, 4), (std::vector<int>{128, 44, 73, 100}));
    EXPECT_EQ(d.bytes(2, 4, 4), (std::vector<int>{111, 128, 128, 128}));
    EXPECT_EQ(d.bytes(1, 8, 4), repeat({0xA5}, 4));
    EXPECT_EQ(d.bytes(2, 8, 4), repeat({0xA5}, 4));
}

class SmpteYuvUntouched : public testing::TestWithParam<std::string> {};

TEST_P(SmpteYuvUntouched, EmptySizesWriteNothing) {
    for (auto [w, h] : {std::pair{0u, 5u}, std::pair{9u, 0u}, std::pair{0u, 0u}}) {
        const Drawing d(GetParam(), smpte, w, h, 32);
        for (size_t p = 0; p < 3; ++p)
            for (uint8_t b : d.plane(p))
                ASSERT_EQ(b, 0xA5) << w << "x" << h << " plane " << p;
    }
}

TEST_P(SmpteYuvUntouched, RowPaddingAndUnusedPlanesKeepTheirBytes) {
    // Stride well past the row: the padding is checked by stray_write, as
    // are the planes the format does not use.
    const Drawing d(GetParam(), smpte, 13, 9, 40);
    const auto stray = d.planes.stray_write();
    EXPECT_FALSE(stray.has_value()) << *stray;
    EXPECT_NE(d.byte(0, 0), 0xA5);
}

INSTANTIATE_TEST_SUITE_P(YuvFormats, SmpteYuvUntouched,
                         testing::Values("UYVY", "VYUY", "YUYV", "YVYU", "NV12", "NV21", "NV16",
                                         "NV61", "YU12", "YV12"),
                         param_names::Described{});

TEST(SmpteYuvPlanar, SeparateChromaBuffersGetTheSameSamples) {
    // YU12 keeps Cb and Cr in planes of their own, NV12 interleaves them;
    // both subsample alike, so the samples must agree one for one.
    const uint32_t width = 11, height = 9, stride = 12;
    std::vector<uint8_t> luma(stride * height), interleaved(stride * 5, 0xA5);
    std::vector<uint8_t> cb(stride / 2 * 5, 0xA5), cr(stride / 2 * 5, 0xA5);
    draw_smpte(format_named("NV12"), {luma.data(), interleaved.data(), nullptr}, width, height,
               stride);
    draw_smpte(format_named("YU12"), {luma.data(), cb.data(), cr.data()}, width, height, stride);
    for (size_t row = 0; row < height / 2; ++row) {
        for (size_t k = 0; k < (width + 1) / 2; ++k) {
            EXPECT_EQ(cb[row * stride / 2 + k], interleaved[row * stride + 2 * k])
                << row << " " << k;
            EXPECT_EQ(cr[row * stride / 2 + k], interleaved[row * stride + 2 * k + 1])
                << row << " " << k;
        }
    }
    EXPECT_EQ(cb[height / 2 * stride / 2], 0xA5); // SMPTE draws height / ysub chroma rows
}

} // namespace
