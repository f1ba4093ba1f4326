// SPDX-License-Identifier: MIT
// The generator's entry point: dispatch, pattern names, unknown values and
// formats, and the plain fill.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format_layout.h"
#include "plain_fill.h"
#include "rgb_test_support.h"
#include "smpte_reference.h"
#include "test_pattern.h"

using namespace pattern;

namespace {

using rgb_test::format_named;
using rgb_test::GuardedPlane;
using rgb_test::sentinel;

bool all_bytes(const std::vector<uint8_t> &bytes, uint8_t value) {
    for (uint8_t b : bytes)
        if (b != value)
            return false;
    return true;
}

// Three planes preset to the sentinel.
struct Planes {
    explicit Planes(size_t size) : p0(size, sentinel), p1(size, sentinel), p2(size, sentinel) {}
    PlanePointers pointers() { return {p0.data(), p1.data(), p2.data()}; }
    std::vector<uint8_t> p0, p1, p2;
};

TEST(FillTestPattern, UnknownFormatWritesAndPrintsNothing) {
    for (uint32_t pattern : {0u, 1u, 2u, 3u, 7u}) {
        SCOPED_TRACE(pattern);
        Planes planes(4096);
        testing::internal::CaptureStdout();
        fill_test_pattern(0x00003843, static_cast<TestPattern>(pattern), planes.pointers(), 16, 16,
                          64);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_TRUE(all_bytes(planes.p0, sentinel));
        EXPECT_TRUE(all_bytes(planes.p1, sentinel));
        EXPECT_TRUE(all_bytes(planes.p2, sentinel));
    }
}

TEST(FillTestPattern, UnknownPatternValueIsReportedAndDrawsNothing) {
    for (uint32_t value : {4u, 7u, 4294967295u}) {
        SCOPED_TRACE(value);
        Planes planes(4096);
        testing::internal::CaptureStdout();
        fill_test_pattern(fourcc_code('X', 'R', '2', '4'), static_cast<TestPattern>(value),
                          planes.pointers(), 16, 16, 64);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Error: unsupported test pattern " + std::to_string(value) + ".\n");
        EXPECT_TRUE(all_bytes(planes.p0, sentinel));
    }
}

TEST(FillTestPattern, SmpteReachesTheRgbAndC8RoutinesUnchanged) {
    for (const PixelFormatInfo *format : rgb_test::rgb_and_indexed_formats()) {
        SCOPED_TRACE(format->name);
        const uint32_t width = 23, height = 11;
        const uint32_t stride = width * format_layout(*format).bytes_per_pixel[0] + 7;
        Planes planes(size_t{height} * stride);
        std::vector<uint8_t> expected = planes.p0;
        smpte_reference::draw(*format, expected.data(), width, height, stride);
        testing::internal::CaptureStdout();
        fill_test_pattern(format->fourcc, TestPattern::smpte, planes.pointers(), width, height,
                          stride);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(planes.p0, expected);
        EXPECT_TRUE(all_bytes(planes.p1, sentinel));
        EXPECT_TRUE(all_bytes(planes.p2, sentinel));
    }
}

TEST(FillTestPattern, SmpteOfRgbFormatsNeedsNoChromaPlanes) {
    // Only plane 0 may be read for a single-plane format.
    std::vector<uint8_t> mem(14 * 4 * 9, sentinel);
    fill_test_pattern(fourcc_code('X', 'R', '2', '4'), TestPattern::smpte,
                      {mem.data(), nullptr, nullptr}, 14, 9, 14 * 4);
    EXPECT_EQ(rgb_test::read_le(mem.data(), 4), 0x00C0C0C0u);
}

TEST(PlainFill, FillsHeightTimesStrideOfPlaneZeroOnly) {
    const struct {
        const char *format;
        uint32_t width, height, stride;
        uint8_t value;
    } cases[] = {
        {"XR24", 16, 2, 4096, 0x77}, // 4 x width is far below the stride
        {"XR24", 0, 3, 100, 0x77},   // width is not used
        {"NV12", 64, 4, 64, 0x77},   // the chroma plane keeps its bytes
        {"YU12", 64, 4, 64, 0x77},   {"C8", 5, 5, 5, 0x77},    {"XR30", 4, 4, 16, 0x77},
        {"YUYV", 4, 4, 8, 0x77},     {"AB4H", 4, 3, 32, 0x38}, {"XR4H", 4, 3, 40, 0x38},
        {"AR4H", 1, 1, 8, 0x38},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        const size_t bytes = size_t{c.height} * c.stride;
        Planes planes(bytes + 64);
        testing::internal::CaptureStdout();
        fill_test_pattern(pixel_format_from_name(c.format), TestPattern::plain, planes.pointers(),
                          c.width, c.height, c.stride);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        const std::vector<uint8_t> filled(planes.p0.begin(), planes.p0.begin() + bytes);
        const std::vector<uint8_t> after(planes.p0.begin() + bytes, planes.p0.end());
        EXPECT_TRUE(all_bytes(filled, c.value));
        EXPECT_TRUE(all_bytes(after, sentinel));
        EXPECT_TRUE(all_bytes(planes.p1, sentinel));
        EXPECT_TRUE(all_bytes(planes.p2, sentinel));
    }
}

// The fill goes through the run stores, whose paths split at 2, 4, 8, 16,
// 32, 64 and 96 bytes and at the first 32-byte boundary: every length up
// to past those, from every start within 32 bytes, fills exactly the plane.
TEST(PlainFill, EveryShortLengthFromEveryAlignment) {
    constexpr size_t guard = 32;
    for (uint32_t bytes = 1; bytes <= 300; ++bytes) {
        for (size_t start = 0; start < 32; ++start) {
            std::vector<uint8_t> memory(guard + 32 + bytes + guard, sentinel);
            uint8_t *plane = memory.data() + guard + start;
            fill_test_pattern(pixel_format_from_name("C8"), TestPattern::plain,
                              {plane, nullptr, nullptr}, 1, 1, bytes);
            for (size_t i = 0; i < memory.size(); ++i) {
                const bool inside = memory.data() + i >= plane && memory.data() + i < plane + bytes;
                ASSERT_EQ(memory[i], inside ? 0x77 : sentinel)
                    << bytes << " bytes from offset " << start << ", byte " << i;
            }
        }
    }
}

TEST(PlainFill, ValueByFamily) {
    for (const PixelFormatInfo &row : pixel_format_table) {
        SCOPED_TRACE(row.name);
        const bool half = std::string(row.name).ends_with("4H");
        EXPECT_EQ(plain_fill_value(row), half ? 0x38 : 0x77);
    }
}

TEST(PlainFill, ZeroHeightOrStrideWritesNothing) {
    for (const auto &[height, stride] : {std::pair{0u, 64u}, {4u, 0u}}) {
        Planes planes(256);
        fill_test_pattern(pixel_format_from_name("XR24"), TestPattern::plain, planes.pointers(), 16,
                          height, stride);
        EXPECT_TRUE(all_bytes(planes.p0, sentinel)) << height << " x " << stride;
    }
}

TEST(PlainFill, ByteCountDoesNotWrapAt32Bits) {
    // A real buffer this large is not worth allocating; the count is what
    // fill_plain hands to the run stores.
    EXPECT_EQ(plain_fill_bytes(65536, 65536), uint64_t{1} << 32);
    EXPECT_EQ(plain_fill_bytes(2160, 4000000), uint64_t{8640000000});
    EXPECT_EQ(plain_fill_bytes(4294967295u, 4294967295u), 0xFFFFFFFE00000001u);
    EXPECT_EQ(plain_fill_bytes(0, 4294967295u), 0u);
}

TEST(PatternNames, KnownNames) {
    const struct {
        const char *name;
        TestPattern pattern;
    } cases[] = {{"tiles", TestPattern::tiles},
                 {"plain", TestPattern::plain},
                 {"smpte", TestPattern::smpte},
                 {"gradient", TestPattern::gradient}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStdout();
        EXPECT_EQ(pattern_from_name(c.name), c.pattern);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_STREQ(pattern_name(c.pattern), c.name);
        EXPECT_EQ(static_cast<uint32_t>(c.pattern), static_cast<uint32_t>(&c - cases));
    }
    EXPECT_EQ(pattern_name(static_cast<TestPattern>(4)), nullptr);
}

TEST(PatternNames, UnknownNameIsReportedAndFallsBackToSmpte) {
    for (const char *name : {"SMPTE", "tile", "", "gradient ", "plainx"}) {
        SCOPED_TRACE(name);
        testing::internal::CaptureStdout();
        EXPECT_EQ(pattern_from_name(name), TestPattern::smpte);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("Error: unsupported test pattern ") + name + ".\n");
    }
}

} // namespace
