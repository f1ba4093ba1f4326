// SPDX-License-Identifier: MIT
// Every format of the generator's table in every pattern, through the
// object layer's format framebuffers onto the simulated device's scan-out:
// what the CRTC shows must be the generator's own RGB rendering, exactly
// for RGB and indexed formats and within kYuvTolerance for YUV (the
// device converts BT.601 on its own, in floating point). This checks the
// creator's plane offsets and pitches and the device's decoders together.
#include <cstdlib>
#include <string>
#include <vector>

#include "format_planes.h"
#include "param_names.h"
#include "render.h"
#include "sim_fixture.h"
#include "smpte.h"
#include "to_rgb8.h"

namespace {

using kms_test::FramebufferPtr;
using kms_test::KmsSimTest;

// An even width (packed YUV pairs) and an odd height (a half chroma row).
constexpr uint32_t kWidth = 150, kHeight = 75;
constexpr int kYuvTolerance = 2;

constexpr pattern::TestPattern kPatterns[] = {
    pattern::TestPattern::tiles, pattern::TestPattern::plain, pattern::TestPattern::smpte,
    pattern::TestPattern::gradient};

struct Case {
    const pattern::PixelFormatInfo *format;
    pattern::TestPattern pattern;
};

void PrintTo(const Case &c, std::ostream *out) {
    *out << c.format->name << "_" << pattern::pattern_name(c.pattern);
}

std::vector<Case> every_case() {
    std::vector<Case> cases;
    for (const pattern::PixelFormatInfo &format : pattern::pixel_format_table)
        for (const pattern::TestPattern p : kPatterns)
            cases.push_back({&format, p});
    return cases;
}

std::string every_format_device() {
    std::string formats;
    for (const pattern::PixelFormatInfo &format : pattern::pixel_format_table) {
        std::string code(reinterpret_cast<const char *>(&format.fourcc), 4);
        formats += (formats.empty() ? "\"" : ", \"") + code + "\"";
    }
    return R"({"crtcs": 1, "gamma_size": 256,
               "connectors": [{"type": "HDMI-A", "connected": true, "modes": [")" +
           std::to_string(kWidth) + "x" + std::to_string(kHeight) + R"("]}],
               "planes": [{"type": "primary", "formats": [)" +
           formats + "]}]}";
}

class FormatScanout : public KmsSimTest, public testing::WithParamInterface<Case> {};

TEST_P(FormatScanout, ShowsTheGeneratorsRendering) {
    const pattern::PixelFormatInfo &format = *GetParam().format;
    kms_device *device = open_device(every_format_device());
    ASSERT_NE(device, nullptr);
    const kms_format_planes planes = format_planes(format);
    FramebufferPtr fb(
        kms_framebuffer_create_format(device, kWidth, kHeight, format.fourcc, &planes));
    ASSERT_NE(fb, nullptr);
    void *map = nullptr;
    ASSERT_EQ(kms_framebuffer_map(fb.get(), &map), 0);
    pattern::fill_test_pattern(format.fourcc, GetParam().pattern, plane_pointers(*fb, map), kWidth,
                               kHeight, fb->pitch);
    kms_framebuffer_unmap(fb.get());
    if (pattern::format_layout(format).family == pattern::PixelFamily::indexed) {
        std::vector<pattern::ColorLutEntry> lut(256);
        pattern::build_smpte_c8_palette(uint32_t(lut.size()), lut.data());
        kms_gamma gamma;
        for (const auto &entry : lut) {
            gamma.red.push_back(entry.red);
            gamma.green.push_back(entry.green);
            gamma.blue.push_back(entry.blue);
        }
        ASSERT_EQ(kms_crtc_set_gamma(device->crtcs[0].get(), &gamma), 0);
    }
    ASSERT_EQ(kms_screen_set(device->screens[0].get(), device->crtcs[0].get(), fb.get()), 0);

    TestpatternOptions options;
    options.pattern = GetParam().pattern;
    options.format = &format;
    options.width = kWidth;
    options.height = kHeight;
    options.stride = fb->pitch;
    const std::vector<uint8_t> expected = picture_to_rgb8(render_test_pattern(options));
    const drmsim::Picture shown = drmsim::scanout(device->fd, 0);
    ASSERT_EQ(shown.width, kWidth);
    ASSERT_EQ(shown.height, kHeight);
    const int tolerance = pattern::is_yuv(pattern::format_layout(format)) ? kYuvTolerance : 0;
    int mismatches = 0;
    for (uint32_t y = 0; y < kHeight && mismatches < 5; ++y)
        for (uint32_t x = 0; x < kWidth && mismatches < 5; ++x) {
            const uint8_t *want = &expected[(size_t{y} * kWidth + x) * 3];
            const uint32_t got = shown.at(x, y);
            for (int c = 0; c < 3; ++c) {
                const int channel = int(got >> (16 - 8 * c) & 0xff);
                if (std::abs(channel - int(want[c])) > tolerance) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": shown "
                                  << channel << ", drawn " << int(want[c]);
                    ++mismatches;
                    break;
                }
            }
        }
}

INSTANTIATE_TEST_SUITE_P(EveryFormatAndPattern, FormatScanout, testing::ValuesIn(every_case()),
                         param_names::Described{});

} // namespace
