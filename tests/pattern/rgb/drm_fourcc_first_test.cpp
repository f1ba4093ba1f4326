// Display code includes libdrm's <drm_fourcc.h> before anything else; its
// fourcc_code macro and format names must leave the generator's headers
// compiling and agreeing with it. Kept first on purpose.
#include <drm_fourcc.h>

#include "format_layout.h"
#include "pixel_formats.h"
#include "plane_layout.h"
#include "test_pattern.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct DrmCode {
    const char *name;
    uint32_t drm;
};

TEST(DrmFourccFirst, TableCodesAreLibdrmCodes) {
    const DrmCode cases[] = {
        {"C8", DRM_FORMAT_C8},
        {"UYVY", DRM_FORMAT_UYVY},
        {"VYUY", DRM_FORMAT_VYUY},
        {"YUYV", DRM_FORMAT_YUYV},
        {"YVYU", DRM_FORMAT_YVYU},
        {"NV12", DRM_FORMAT_NV12},
        {"NV21", DRM_FORMAT_NV21},
        {"NV16", DRM_FORMAT_NV16},
        {"NV61", DRM_FORMAT_NV61},
        {"YU12", DRM_FORMAT_YUV420},
        {"YV12", DRM_FORMAT_YVU420},
        {"AR12", DRM_FORMAT_ARGB4444},
        {"RX12", DRM_FORMAT_RGBX4444},
        {"BA15", DRM_FORMAT_BGRA5551},
        {"RG16", DRM_FORMAT_RGB565},
        {"BG16", DRM_FORMAT_BGR565},
        {"RG24", DRM_FORMAT_RGB888},
        {"BG24", DRM_FORMAT_BGR888},
        {"XR24", DRM_FORMAT_XRGB8888},
        {"AB24", DRM_FORMAT_ABGR8888},
        {"XR30", DRM_FORMAT_XRGB2101010},
        {"BA30", DRM_FORMAT_BGRA1010102},
        {"XR4H", DRM_FORMAT_XRGB16161616F},
        {"AB4H", DRM_FORMAT_ABGR16161616F},
    };
    for (const DrmCode &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pattern::pixel_format_from_name(c.name), c.drm);
        ASSERT_NE(pattern::find_pixel_format(c.drm), nullptr);
    }
    // The generator's function, called past the macro, gives the macro's value.
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
