// SPDX-License-Identifier: MIT
// crtc-relay --plane: the pattern on an overlay or cursor plane over the
// screen's SMPTE bars, at odd places and sizes, going with the screen on
// each handover, legacy and atomic, with the pixel checks.

#include <gtest/gtest.h>

#include <algorithm>

#include "relay_test_support.h"
#include "render.h"
#include "to_rgb8.h"

namespace {

using nlohmann::json;

// The generator's RGB rendering, and with `alpha` each pixel's alpha.
std::vector<uint8_t> rendering(const char *format, pattern::TestPattern p, uint32_t width,
                               uint32_t height, std::vector<uint8_t> *alpha = nullptr) {
    TestpatternOptions options;
    options.format = pattern::find_pixel_format(pattern::pixel_format_from_name(format));
    options.pattern = p;
    options.width = width;
    options.height = height;
    options.stride = uint32_t(pattern::tightest_stride(*options.format, width));
    const RenderedPicture picture = render_test_pattern(options);
    if (alpha)
        *alpha = picture_alpha8(picture);
    return picture_to_rgb8(picture);
}

struct PlaneCase {
    const char *name;
    const char *device;
    std::vector<std::string> options; // what the row adds: the plane, the checks, --atomic
    const char *format;
    pattern::TestPattern pattern;
    int32_t x, y;              // where the plane shows it
    uint32_t width, height;    // its size
    std::vector<int> plane_ids; // the plane set at steps 0 and 1
};

void PrintTo(const PlaneCase &c, std::ostream *os) {
    *os << c.name;
}

class PlanePicture : public testing::TestWithParam<PlaneCase> {};

// After a handover CRTC 1 shows the screen's bars with the pattern over
// them at the plane's place, cut at the screen's edges; with the pixel
// checks the CRTC's CRC and capture agree at every step.
TEST_P(PlanePicture, ShowsThePatternAtItsPlaceAfterAHandover) {
    const PlaneCase &c = GetParam();
    std::vector<std::string> options = c.options;
    for (const char *option : {"--format", c.format, "--pattern", pattern::pattern_name(c.pattern),
                               "-n", "1", "--report", "REPORT"})
        options.push_back(option);
    options.insert(options.end(), {"--plane-pos", std::to_string(c.x) + "," + std::to_string(c.y)});
    const bool atomic = std::count(options.begin(), options.end(), "--atomic") ||
                        std::count(options.begin(), options.end(), "--verify=state,crc,writeback");
    const RelayResult result = run_relay(
        {.device = c.device, .options = options, .events = {"input@99"}, .snapshots = true});
    ASSERT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_EQ(result.journal.size(), atomic ? 6u : 4u)
        << "each step: the screen's mode set (a check and a commit), then the plane's";
    const std::vector<json> report = parse_json_lines(read_file(result.report_path));
    ASSERT_EQ(report.size(), 4u);
    for (const int step : {1, 2}) {
        EXPECT_EQ(report[step].at("plane"), (json{{"id", c.plane_ids[step - 1]}, {"result", 0}}));
        EXPECT_EQ(report[step].at("verified"), true);
    }
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();

    const Picture shown = read_png(result.snapshot_dir + "/crtc-1.png");
    const std::vector<uint8_t> bars =
        rendering("XR24", pattern::TestPattern::smpte, shown.width, shown.height);
    std::vector<uint8_t> alpha;
    const std::vector<uint8_t> drawn = rendering(c.format, c.pattern, c.width, c.height, &alpha);
    int mismatches = 0;
    for (uint32_t y = 0; y < shown.height && mismatches < 5; ++y)
        for (uint32_t x = 0; x < shown.width && mismatches < 5; ++x) {
            const int64_t px = int64_t{x} - c.x, py = int64_t{y} - c.y;
            const bool on_plane = px >= 0 && px < c.width && py >= 0 && py < c.height;
            const size_t at = on_plane ? size_t(py) * c.width + size_t(px) : 0;
            const uint8_t *below = &bars[(size_t{y} * shown.width + x) * 3];
            uint8_t want[3];
            for (int k = 0; k < 3; ++k) // premultiplied, the kernel's default blend
                want[k] = on_plane ? uint8_t(std::min(255, drawn[at * 3 + k] +
                                                               below[k] * (255 - alpha[at]) / 255))
                                   : below[k];
            const Rgb got = shown.at(x, y);
            if (got != Rgb{want[0], want[1], want[2]}) {
                ADD_FAILURE() << "pixel " << x << "," << y << (on_plane ? " (plane)" : "");
                ++mismatches;
            }
        }
}

// every-format.json's overlay plane (id 33) can sit on both CRTCs;
// writeback-planes.json has a cursor plane per CRTC (ids 34 and 35), of
// the driver's 64x64 unless --plane-size says otherwise.
INSTANTIATE_TEST_SUITE_P(
    Planes, PlanePicture,
    testing::Values(
        PlaneCase{"OverlayLegacy", "every-format.json",
                  {"--plane", "overlay", "--plane-size", "101x53", "-V"}, "RG16",
                  pattern::TestPattern::tiles, 37, 21, 101, 53, {33, 33}},
        PlaneCase{"OverlayAtomic", "every-format.json",
                  {"--plane", "overlay", "--plane-size", "101x53", "-V", "--atomic"}, "RG16",
                  pattern::TestPattern::tiles, 37, 21, 101, 53, {33, 33}},
        PlaneCase{"CursorLegacyWithCrc", "writeback-planes.json",
                  {"--plane", "cursor", "--plane-size", "37x23", "--verify=state,crc",
                   "--debugfs", "DEBUGFS"},
                  "AR24", pattern::TestPattern::tiles, -5, -7, 37, 23, {34, 35}},
        PlaneCase{"CursorAtomicAtTheCorner", "writeback-planes.json",
                  {"--plane", "cursor", "-V", "--atomic"}, "AR24",
                  pattern::TestPattern::gradient, 301, 167, 64, 64, {34, 35}},
        PlaneCase{"CursorAtomicWithCapture", "writeback-planes.json",
                  {"--plane", "cursor", "--verify=state,crc,writeback", "--debugfs", "DEBUGFS"},
                  "AR24", pattern::TestPattern::smpte, 303, -13, 64, 64, {34, 35}}),
    [](const testing::TestParamInfo<PlaneCase> &info) { return info.param.name; });

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

// A sweep of the overlay plane's formats keeps the screen's bars below;
// each capture is the bars with the tiles over them, AR24's translucent
// quarter blended.
TEST(Planes, SweepsTheOverlaysFormats) {
    const RelayResult result = run_relay(
        {.device = "writeback-planes.json",
         .options = {"--plane", "overlay", "--plane-size", "64x48", "--plane-pos", "99,33",
                     "--pattern", "tiles", "--formats", "all", "--verify=state,crc,writeback",
                     "--debugfs", "DEBUGFS"},
         .events = {"input@99"}});
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_EQ(result.program.out, "Using screen Virtual-0, resolution 320x180\n"
                                  "formats: 4 passed, 0 failed, 0 skipped\n");
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

} // namespace
