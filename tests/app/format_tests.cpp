// SPDX-License-Identifier: MIT
// crtc-relay --pattern, --format and --formats: the picture the simulated
// device shows against the generator's own RGB rendering, the sweep's
// report and summary, C8's palette put back, and a device without XR24.

#include <gtest/gtest.h>

#include <cstdlib>

#include "relay_test_support.h"
#include "render.h"
#include "to_rgb8.h"

namespace {

using nlohmann::json;

struct PictureCase {
    const char *name;
    const char *device;
    const char *format;
    const char *pattern;
    int tolerance; // per channel: 0 for formats shown exactly, 2 for YUV
};

void PrintTo(const PictureCase &c, std::ostream *os) {
    *os << c.name;
}

class ShownPicture : public testing::TestWithParam<PictureCase> {};

TEST_P(ShownPicture, IsTheGeneratorsRendering) {
    const PictureCase &c = GetParam();
    const RelayResult result = run_relay(
        {.device = c.device,
         .options = {"--format", c.format, "--pattern", c.pattern, "-V", "-n", "0"},
         .events = {"input@99"},
         .snapshots = true});
    ASSERT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
    const Picture shown = read_png(result.snapshot_dir + "/crtc-0.png");

    TestpatternOptions options;
    options.format = pattern::find_pixel_format(pattern::pixel_format_from_name(c.format));
    options.pattern = pattern::pattern_from_name(c.pattern);
    options.width = shown.width;
    options.height = shown.height;
    options.stride = uint32_t(pattern::tightest_stride(*options.format, shown.width));
    const std::vector<uint8_t> drawn = picture_to_rgb8(render_test_pattern(options));
    int mismatches = 0;
    for (uint32_t y = 0; y < shown.height && mismatches < 5; ++y)
        for (uint32_t x = 0; x < shown.width && mismatches < 5; ++x) {
            const Rgb got = shown.at(x, y);
            const uint8_t *want = &drawn[(size_t{y} * shown.width + x) * 3];
            if (std::abs(got.r - want[0]) > c.tolerance ||
                std::abs(got.g - want[1]) > c.tolerance ||
                std::abs(got.b - want[2]) > c.tolerance) {
                ADD_FAILURE() << "pixel " << x << "," << y << " shows " << int(got.r) << ","
                              << int(got.g) << "," << int(got.b) << ", drawn " << int(want[0])
                              << "," << int(want[1]) << "," << int(want[2]);
                ++mismatches;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ShownPicture,
    testing::Values(PictureCase{"C8Bars", "every-format.json", "C8", "smpte", 0},
                    PictureCase{"NV12Tiles", "every-format.json", "NV12", "tiles", 2},
                    PictureCase{"YV12Bars", "every-format.json", "YV12", "smpte", 2},
                    PictureCase{"AR30Gradient", "every-format.json", "AR30", "gradient", 0},
                    PictureCase{"RG16WithoutXR24", "rg16-only.json", "RG16", "smpte", 0}),
    [](const testing::TestParamInfo<PictureCase> &info) { return info.param.name; });

TEST(Formats, ADeviceWithoutXR24RefusesThePlainRun) {
    const RelayResult result = run_relay({.device = "rg16-only.json", .events = {"input@99"}});
    EXPECT_EQ(result.program.exit_status, 1);
    EXPECT_EQ(result.program.err, "kms_framebuffer_create() failed\n");
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

// The colour table C8 needs is put back when the run ends, whichever way.
TEST(Formats, C8PutsTheOldColourTableBack) {
    for (const char *ending : {"input@7", "sigterm@7"}) {
        SCOPED_TRACE(ending);
        const RelayResult result = run_relay({.device = "every-format.json",
                                              .options = {"--format", "C8", "-c", "1,0"},
                                              .events = {ending}});
        EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
        EXPECT_EQ(result.journal.size(), 2u) << "the first picture and one handover";
        EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
    }
}

TEST(Formats, C8NeedsAColourTable) {
    const RelayResult result = run_relay(
        {.device = "every-format.json", .options = {"--format", "C8"}, .events = {"input@9"},
         .failures = {"getgamma:1:EIO"}});
    EXPECT_EQ(result.program.exit_status, 1);
    EXPECT_EQ(result.program.err, "kms_crtc_read_gamma() failed: -5\n");
    EXPECT_TRUE(result.journal.empty());
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

class Sweep : public testing::TestWithParam<bool> {};

// Every format the primary plane lists, in its order, each verified; the
// one the generator cannot draw is skipped and named.
TEST_P(Sweep, ShowsEveryFormatThePlaneLists) {
    std::vector<std::string> options{"--formats", "all", "-V", "--report", "REPORT"};
    if (GetParam())
        options.push_back("--atomic");
    const RelayResult result =
        run_relay({.device = "every-format.json", .options = options, .events = {"input@999"}});
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_EQ(result.program.err, "");
    EXPECT_EQ(result.program.out, "Using screen HDMI-A-0, resolution 320x180\n"
                                  "formats: 51 passed, 0 failed, 1 skipped (not drawn by the "
                                  "generator: XR48)\n");
    EXPECT_EQ(result.journal.size(), GetParam() ? 102u : 51u);
    const std::vector<json> report = parse_json_lines(read_file(result.report_path));
    std::vector<std::string> passed;
    for (const json &line : report) {
        if (line.at("event") != "format")
            continue;
        if (line.at("result") == "skip") {
            EXPECT_EQ(line.at("format"), "XR48");
            continue;
        }
        EXPECT_EQ(line.at("result"), "pass") << line.dump();
        EXPECT_EQ(line.at("verified"), true);
        EXPECT_EQ(line.at("plane"), 31);
        passed.push_back(line.at("format"));
    }
    ASSERT_EQ(passed.size(), 51u);
    EXPECT_EQ(passed.front(), "XR24");
    EXPECT_EQ(passed[1], "C8");
    EXPECT_EQ(report.back().at("reason"), "formats");
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

INSTANTIATE_TEST_SUITE_P(Apis, Sweep, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "Atomic" : "Legacy";
                         });

TEST(Formats, ASweepGoesOnAfterAFailureAndEndsWithStatus1) {
    const RelayResult result = run_relay({.device = "every-format.json",
                                          .options = {"--formats", "XR24,NV12,RG16", "--report",
                                                      "REPORT"},
                                          .events = {"input@99"},
                                          .failures = {"setcrtc:2:EINVAL"}});
    EXPECT_EQ(result.program.exit_status, 1);
    EXPECT_EQ(result.program.err, "kms_screen_set() failed: -22\n");
    EXPECT_EQ(result.program.out, "Using screen HDMI-A-0, resolution 320x180\n"
                                  "formats: 2 passed, 1 failed (NV12), 0 skipped\n");
    EXPECT_EQ(result.journal.size(), 3u);
    const std::vector<json> report = parse_json_lines(read_file(result.report_path));
    ASSERT_EQ(report.size(), 8u) << "start, then a set and a format line each, end";
    EXPECT_EQ(report[4].at("format"), "NV12");
    EXPECT_EQ(report[4].at("result"), "fail");
    EXPECT_EQ(report[4].at("reason"), "kms_screen_set() failed: -22");
    EXPECT_EQ(report[7].at("status"), 1);
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

} // namespace
