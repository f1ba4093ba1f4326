// SPDX-License-Identifier: MIT
// Gradient: the 10-bit and 8-bit ramps in the 32-bit and half-float
// formats, the band split, odd and tiny sizes, and the formats it skips.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../param_names.h"
#include "test_support.h"

using namespace pattern;

namespace {

constexpr TestPattern gradient = TestPattern::gradient;

struct PairCase {
    std::string format;
    bool upper; // upper band (row 0) or lower band (last row)
    uint32_t pair;
    uint64_t expected;
};

void PrintTo(const PairCase &c, std::ostream *os) {
    *os << c.format << (c.upper ? " upper" : " lower") << " pair " << c.pair;
}

class GradientPairs : public testing::TestWithParam<PairCase> {};

TEST_P(GradientPairs, HoldTheRampLevel) {
    const PairCase &c = GetParam();
    const unsigned size = c.format.back() == 'H' ? 8 : 4;
    const uint32_t width = 2052, height = 4; // 1026 pairs: the ramp starts again
    const Drawing d(c.format, gradient, width, height, width * size);
    const uint32_t y = c.upper ? 0 : height - 1;
    EXPECT_EQ(d.pixel(2 * c.pair, y, size), c.expected);
    EXPECT_EQ(d.pixel(2 * c.pair + 1, y, size), c.expected) << "second pixel of the pair";
}

INSTANTIATE_TEST_SUITE_P(Xr24, GradientPairs,
                         testing::Values(PairCase{"XR24", true, 0, 0}, PairCase{"XR24", true, 3, 0},
                                         PairCase{"XR24", true, 4, 0x00010101},
                                         PairCase{"XR24", true, 7, 0x00010101},
                                         PairCase{"XR24", true, 512, 0x00808080},
                                         PairCase{"XR24", true, 1023, 0x00FFFFFF},
                                         PairCase{"XR24", true, 1024, 0},
                                         PairCase{"XR24", false, 4, 0x00010101},
                                         PairCase{"XR24", false, 512, 0x00808080},
                                         PairCase{"XR24", false, 1023, 0x00FFFFFF},
                                         // Alpha formats get alpha 0.
                                         PairCase{"AR24", true, 512, 0x00808080},
                                         PairCase{"AR24", false, 1023, 0x00FFFFFF},
                                         PairCase{"RA24", true, 1023, 0xFFFFFF00}),
                         param_names::Described{});

INSTANTIATE_TEST_SUITE_P(Xr30, GradientPairs,
                         testing::Values(PairCase{"XR30", true, 1, 0x00100401},
                                         PairCase{"XR30", true, 5, 0x00501405},
                                         PairCase{"XR30", true, 1023, 0x3FFFFFFF},
                                         PairCase{"XR30", false, 1, 0},
                                         PairCase{"XR30", false, 5, 0x00401004},
                                         PairCase{"XR30", false, 1023, 0x3FCFF3FC},
                                         PairCase{"AR30", true, 1023, 0x3FFFFFFF}),
                         param_names::Described{});

INSTANTIATE_TEST_SUITE_P(HalfFloat, GradientPairs,
                         testing::Values(PairCase{"AB4H", true, 0, 0},
                                         PairCase{"AB4H", true, 1, 0x0000140014001400},
                                         PairCase{"AB4H", true, 5, 0x00001D001D001D00},
                                         PairCase{"AB4H", true, 512, 0x0000380038003800},
                                         PairCase{"AB4H", true, 1023, 0x00003BFE3BFE3BFE},
                                         PairCase{"AB4H", false, 3, 0},
                                         PairCase{"AB4H", false, 4, 0x00001C001C001C00},
                                         PairCase{"AB4H", false, 5, 0x00001C001C001C00},
                                         PairCase{"AB4H", false, 1023, 0x00003BF83BF83BF8},
                                         PairCase{"XR4H", true, 1023, 0x00003BFE3BFE3BFE}),
                         param_names::Described{});

TEST(GradientBands, Height1IsALowerBandRow) {
    const Drawing d("XR30", gradient, 12, 1, 48);
    EXPECT_EQ(d.pixel(2, 0, 4), 0u);           // pair 1 in the lower band
    EXPECT_EQ(d.pixel(10, 0, 4), 0x00401004u); // pair 5
}

TEST(GradientBands, OddHeightGivesTheLowerBandTheExtraRow) {
    const Drawing d("XR30", gradient, 12, 5, 48);
    for (uint32_t y = 0; y < 5; ++y)
        EXPECT_EQ(d.pixel(10, y, 4), y < 2 ? 0x00501405u : 0x00401004u) << "row " << y;
}

struct SizeCase {
    uint32_t width, height;
    uint32_t written_pixels; // per row
};

void PrintTo(const SizeCase &c, std::ostream *os) {
    *os << c.width << "x" << c.height;
}

class GradientSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(GradientSizes, WriteWholePairsOnly) {
    const SizeCase &c = GetParam();
    const uint32_t stride = c.width * 4 + 8;
    const Drawing d("XR24", gradient, c.width, c.height, stride);
    for (uint32_t y = 0; y < c.height; ++y)
        for (uint32_t i = 0; i < stride && uint64_t{y} * stride + i < d.plane(0).size(); ++i)
            EXPECT_EQ(d.byte(0, uint64_t{y} * stride + i) == 0xA5, i >= 4 * c.written_pixels)
                << "row " << y << " byte " << i;
    const auto stray = d.planes.stray_write();
    EXPECT_FALSE(stray.has_value()) << *stray;
}

INSTANTIATE_TEST_SUITE_P(Edges, GradientSizes,
                         testing::Values(SizeCase{0, 3, 0}, SizeCase{1, 3, 0}, SizeCase{5, 3, 4},
                                         SizeCase{6, 2, 6}, SizeCase{7, 0, 0}),
                         param_names::Described{});

class GradientSkips : public testing::TestWithParam<std::string> {};

TEST_P(GradientSkips, LeavesTheBufferUntouched) {
    const Drawing d(GetParam(), gradient, 40, 6, 200);
    for (size_t p = 0; p < 3; ++p)
        for (uint8_t b : d.plane(p))
            ASSERT_EQ(b, 0xA5) << "plane " << p;
}

INSTANTIATE_TEST_SUITE_P(NonRgb32Formats, GradientSkips,
                         testing::Values("RG16", "AR12", "BG24", "RG24", "C8", "YUYV", "NV12",
                                         "YU12"),
                         param_names::Described{});

} // namespace
