// SPDX-License-Identifier: MIT
// Display code includes libdrm's <drm_fourcc.h> before anything else; its
// fourcc_code macro and format names must leave the generator's headers
// compiling and agreeing with it. Kept first on purpose.
#include <drm_fourcc.h>

#include "format_layout.h"
#include "pixel_formats.h"
#include "plane_layout.h"
#include "test_pattern.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A row's libdrm name spells its components from the most significant bit
// down, with their widths ("ARGB2101010": A 2, R 10, G 10, B 10 bits).
struct DrmCode {
    const char *name; // the row's
    uint32_t drm;
    const char *drm_name; // after DRM_FORMAT_
};
#define DRM(format) DRM_FORMAT_##format, #format

constexpr DrmCode drm_codes[] = {
    {"C8", DRM(C8)},
    {"UYVY", DRM(UYVY)},
    {"VYUY", DRM(VYUY)},
    {"YUYV", DRM(YUYV)},
    {"YVYU", DRM(YVYU)},
    {"NV12", DRM(NV12)},
    {"NV21", DRM(NV21)},
    {"NV16", DRM(NV16)},
    {"NV61", DRM(NV61)},
    {"YU12", DRM(YUV420)},
    {"YV12", DRM(YVU420)},
    {"AR12", DRM(ARGB4444)},
    {"XR12", DRM(XRGB4444)},
    {"AB12", DRM(ABGR4444)},
    {"XB12", DRM(XBGR4444)},
    {"RA12", DRM(RGBA4444)},
    {"RX12", DRM(RGBX4444)},
    {"BA12", DRM(BGRA4444)},
    {"BX12", DRM(BGRX4444)},
    {"AR15", DRM(ARGB1555)},
    {"XR15", DRM(XRGB1555)},
    {"AB15", DRM(ABGR1555)},
    {"XB15", DRM(XBGR1555)},
    {"RA15", DRM(RGBA5551)},
    {"RX15", DRM(RGBX5551)},
    {"BA15", DRM(BGRA5551)},
    {"BX15", DRM(BGRX5551)},
    {"RG16", DRM(RGB565)},
    {"BG16", DRM(BGR565)},
    {"BG24", DRM(BGR888)},
    {"RG24", DRM(RGB888)},
    {"AR24", DRM(ARGB8888)},
    {"XR24", DRM(XRGB8888)},
    {"AB24", DRM(ABGR8888)},
    {"XB24", DRM(XBGR8888)},
    {"RA24", DRM(RGBA8888)},
    {"RX24", DRM(RGBX8888)},
    {"BA24", DRM(BGRA8888)},
    {"BX24", DRM(BGRX8888)},
    {"AR30", DRM(ARGB2101010)},
    {"XR30", DRM(XRGB2101010)},
    {"AB30", DRM(ABGR2101010)},
    {"XB30", DRM(XBGR2101010)},
    {"RA30", DRM(RGBA1010102)},
    {"RX30", DRM(RGBX1010102)},
    {"BA30", DRM(BGRA1010102)},
    {"BX30", DRM(BGRX1010102)},
    {"XR4H", DRM(XRGB16161616F)},
    {"XB4H", DRM(XBGR16161616F)},
    {"AR4H", DRM(ARGB16161616F)},
    {"AB4H", DRM(ABGR16161616F)},
};
#undef DRM

// Splits "2101010" into `count` widths a channel can have; nullopt if it cannot.
std::optional<std::vector<uint32_t>> channel_widths(std::string_view digits, size_t count) {
    if (count == 0)
        return digits.empty() ? std::optional(std::vector<uint32_t>{}) : std::nullopt;
    for (size_t take : {size_t{2}, size_t{1}}) {
        if (digits.size() < take)
            continue;
        const uint32_t width = uint32_t(std::stoul(std::string(digits.substr(0, take))));
        if (width != 1 && width != 2 && width != 4 && width != 5 && width != 6 && width != 8 &&
            width != 10 && width != 16)
            continue;
        if (auto rest = channel_widths(digits.substr(take), count - 1)) {
            rest->insert(rest->begin(), width);
            return rest;
        }
    }
    return std::nullopt;
}

TEST(DrmFourccFirst, EveryRowIsTheLibdrmFormatOfItsCode) {
    ASSERT_EQ(std::size(drm_codes), pattern::pixel_format_table.size());
    for (const DrmCode &c : drm_codes) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pattern::pixel_format_from_name(c.name), c.drm);
        const pattern::PixelFormatInfo *row = pattern::find_pixel_format(c.drm);
        ASSERT_NE(row, nullptr);
        const std::string_view name = c.drm_name;
        const size_t letters = name.find_first_not_of("ARGBX");
        if (letters < 3 || name.find_first_of("0123456789") != letters)
            continue; // not an RGB name: C8 and YUV
        const size_t end = name.back() == 'F' ? name.size() - 1 : name.size();
        const auto split = channel_widths(name.substr(letters, end - letters), letters);
        ASSERT_TRUE(split) << name;
        const std::vector<uint32_t> &widths = *split;
        uint32_t offset = 0;
        for (size_t i = 0; i < letters; ++i)
            offset += widths[i];
        EXPECT_EQ(offset, 8 * pattern::format_layout(*row).bytes_per_pixel[0]);
        pattern::RgbLayout want{};
        for (size_t i = 0; i < letters; ++i) {
            offset -= widths[i];
            const pattern::ColorComponent component{widths[i], offset};
            switch (name[i]) {
            case 'R':
                want.red = component;
                break;
            case 'G':
                want.green = component;
                break;
            case 'B':
                want.blue = component;
                break;
            case 'A':
                want.alpha = component;
                break;
            }
        }
        for (auto [got, expected] : {std::pair{row->rgb.red, want.red},
                                     {row->rgb.green, want.green},
                                     {row->rgb.blue, want.blue},
                                     {row->rgb.alpha, want.alpha}}) {
            EXPECT_EQ(got.length, expected.length);
            EXPECT_EQ(got.offset, expected.offset);
        }
        EXPECT_EQ(pattern::format_layout(*row).half_float, name.back() == 'F');
    }
}

// The generator's function, called past the macro, gives the macro's value.
TEST(DrmFourccFirst, FourccCodeIsTheMacros) {
    EXPECT_EQ((pattern::fourcc_code)('X', 'R', '2', '4'), fourcc_code('X', 'R', '2', '4'));
}

TEST(DrmFourccFirst, DescriptorsPlaceChromaAsLibdrmDescribesIt) {
    // drm_fourcc.h: YUV420 has Cb in plane 1 and Cr in plane 2, YVU420 the
    // reverse; NV12 stores Cb before Cr, NV21 Cr before Cb.
    const auto layout_of = [](uint32_t code) {
        return pattern::format_layout(*pattern::find_pixel_format(code));
    };
    EXPECT_EQ(layout_of(DRM_FORMAT_YUV420).cb.plane, 1u);
    EXPECT_EQ(layout_of(DRM_FORMAT_YVU420).cb.plane, 2u);
    EXPECT_EQ(layout_of(DRM_FORMAT_NV12).cb.byte, 0u);
    EXPECT_EQ(layout_of(DRM_FORMAT_NV21).cb.byte, 1u);
    EXPECT_EQ(layout_of(DRM_FORMAT_RGB888).bytes_per_pixel[0], 3u);
    EXPECT_EQ(layout_of(DRM_FORMAT_XRGB8888).bytes_per_pixel[0], 4u);
}

TEST(DrmFourccFirst, DrawsIntoABufferSizedByPlaneLayout) {
    const pattern::PixelFormatInfo &format = *pattern::find_pixel_format(DRM_FORMAT_NV12);
    const pattern::PlaneLayout layout = pattern::plane_layout(format, 6, 4, 8);
    std::vector<uint8_t> luma(layout.bytes[0], 0), chroma(layout.bytes[1], 0);
    pattern::fill_test_pattern(DRM_FORMAT_NV12, pattern::TestPattern::smpte,
                               {luma.data(), chroma.data(), nullptr}, 6, 4, 8);
    EXPECT_EQ(luma[0], 181);   // 75 % grey
    EXPECT_EQ(chroma[0], 128); // its Cb
}

} // namespace
