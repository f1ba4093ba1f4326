// SPDX-License-Identifier: MIT
// crtc-relay --plane: the pattern on an overlay or cursor plane over the
// screen's SMPTE bars, at odd places and sizes, going with the screen on
// each handover, legacy and atomic.

#include <gtest/gtest.h>

#include "relay_test_support.h"
#include "render.h"
#include "to_rgb8.h"

namespace {

using nlohmann::json;

std::vector<uint8_t> rendering(const char *format, pattern::TestPattern p, uint32_t width,
                               uint32_t height) {
    TestpatternOptions options;
    options.format = pattern::find_pixel_format(pattern::pixel_format_from_name(format));
    options.pattern = p;
    options.width = width;
    options.height = height;
    options.stride = uint32_t(pattern::tightest_stride(*options.format, width));
    return picture_to_rgb8(render_test_pattern(options));
}

class OverlayPlane : public testing::TestWithParam<bool> {};

// every-format.json's overlay plane (id 33) can sit on both CRTCs.
TEST_P(OverlayPlane, ShowsThePatternAtItsPlaceAfterAHandover) {
    std::vector<std::string> options{"--plane",  "overlay",     "--plane-pos", "37,21",
                                     "--plane-size", "101x53",  "--format",    "RG16",
                                     "--pattern", "tiles",      "-V",          "-n",
                                     "1",        "--report",    "REPORT"};
    if (GetParam())
        options.push_back("--atomic");
    const RelayResult result = run_relay({.device = "every-format.json",
                                          .options = options,
                                          .events = {"input@99"},
                                          .snapshots = true});
    ASSERT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_EQ(result.journal.size(), GetParam() ? 6u : 4u)
        << "each step: the screen's mode set (a check and a commit), then the plane's";
    const std::vector<json> report = parse_json_lines(read_file(result.report_path));
    ASSERT_EQ(report.size(), 4u);
    for (const int step : {1, 2}) {
        EXPECT_EQ(report[step].at("plane"), (json{{"id", 33}, {"result", 0}}));
        EXPECT_EQ(report[step].at("verified"), true);
    }
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();

    const Picture shown = read_png(result.snapshot_dir + "/crtc-1.png");
    const std::vector<uint8_t> bars = rendering("XR24", pattern::TestPattern::smpte, 320, 180);
    const std::vector<uint8_t> tiles = rendering("RG16", pattern::TestPattern::tiles, 101, 53);
    int mismatches = 0;
    for (uint32_t y = 0; y < shown.height && mismatches < 5; ++y)
        for (uint32_t x = 0; x < shown.width && mismatches < 5; ++x) {
            const bool on_plane = x >= 37 && x < 138 && y >= 21 && y < 74;
            const uint8_t *want = on_plane ? &tiles[(size_t{y - 21} * 101 + (x - 37)) * 3]
                                           : &bars[(size_t{y} * 320 + x) * 3];
            const Rgb got = shown.at(x, y);
            if (got != Rgb{want[0], want[1], want[2]}) {
                ADD_FAILURE() << "pixel " << x << "," << y << (on_plane ? " (plane)" : "");
                ++mismatches;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Apis, OverlayPlane, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "Atomic" : "Legacy";
                         });

// The cursor plane sits on CRTC 0 only: --capable keeps that one, and the
// picture takes the largest size the driver reports.
TEST(Planes, CursorTakesTheDriversCursorSize) {
    const RelayResult result = run_relay(
        {.device = "every-format.json",
         .options = {"--plane", "cursor", "--capable", "--plane-pos", "300,170", "-V", "-n", "1",
                     "--report", "REPORT"},
         .events = {"input@99"}});
    ASSERT_EQ(result.program.exit_status, 0) << result.program.err;
    ASSERT_EQ(result.journal.size(), 4u);
    EXPECT_EQ(result.journal[1].at("request"), "SETPLANE");
    EXPECT_EQ(result.journal[1].at("plane_index"), 3);
    EXPECT_EQ(result.journal[1].at("dst"), (json{300, 170, 128, 128}));
    EXPECT_EQ(result.journal[3].at("crtc_index"), 0);
    const std::vector<json> report = parse_json_lines(read_file(result.report_path));
    EXPECT_EQ(report[0].at("crtcs"), (json{{{"id", 35}, {"index", 0}}}));
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

// A sweep of the overlay plane's formats keeps the screen's bars below.
TEST(Planes, SweepsTheOverlaysFormats) {
    const RelayResult result =
        run_relay({.device = "every-format.json",
                   .options = {"--plane", "overlay", "--plane-size", "64x48", "--formats",
                               "XR24,C8,NV12", "-V", "--atomic"},
                   .events = {"input@99"}});
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_EQ(result.program.out, "Using screen HDMI-A-0, resolution 320x180\n"
                                  "formats: 3 passed, 0 failed, 0 skipped\n");
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

} // namespace
