// SPDX-License-Identifier: MIT
// Runs that the options shape, on simulated devices with the virtual clock:
// which screen, mode and CRTCs are used, how often and how many times, and
// --list, which sets nothing.

#include <algorithm>
#include <gtest/gtest.h>

#include "relay_test_support.h"

namespace {

struct ShapedRunCase {
    const char *name;
    RelayRun run;
    std::vector<uint32_t> crtcs; // of the journal's mode sets
    std::vector<double> times;   // of the mode sets; empty: every 5 s from 0
    std::string out;
    std::string mode = "1920x1080"; // of every mode set
    int status = 0;
    std::vector<uint32_t> connectors{0};
    std::string err;
};

void PrintTo(const ShapedRunCase &c, std::ostream *os) {
    *os << c.name;
}

class ShapedRun : public testing::TestWithParam<ShapedRunCase> {};

TEST_P(ShapedRun, SetsWhatTheOptionsAskFor) {
    const ShapedRunCase &c = GetParam();
    const RelayResult result = run_relay(c.run);
    EXPECT_EQ(result.program.exit_status, c.status) << result.program.err;
    EXPECT_EQ(result.program.err, c.err);
    EXPECT_EQ(result.program.out, c.out);
    EXPECT_EQ(result.crtc_indices(), c.crtcs);
    for (size_t i = 0; i < result.journal.size(); ++i) {
        const nlohmann::json &entry = result.journal[i];
        EXPECT_EQ(entry.at("mode").at("name"), c.mode);
        EXPECT_EQ(entry.at("connector_indices"), nlohmann::json(c.connectors));
        EXPECT_EQ(entry.at("result"), 0);
        const double expected_t = c.times.empty() ? 5.0 * double(i) : c.times.at(i);
        EXPECT_DOUBLE_EQ(entry.at("t").get<double>(), expected_t) << "set " << i;
    }
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

const std::string hdmi_1080 = "Using screen HDMI-A-0, resolution 1920x1080\n";

INSTANTIATE_TEST_SUITE_P(
    Options, ShapedRun,
    testing::Values(
        ShapedRunCase{"ScreenByName",
                      {.device = "three-screens.json",
                       .options = {"--screen", "DisplayPort-0"},
                       .events = {"input@12"}},
                      {0, 1, 0},
                      {},
                      "Using screen DisplayPort-0, resolution 800x600\n",
                      "800x600",
                      0,
                      {2}},
        ShapedRunCase{
            "ScreenByIndex",
            {.device = "three-screens.json", .options = {"-s", "2"}, .events = {"input@7"}},
            {0, 1},
            {},
            "Using screen DisplayPort-0, resolution 800x600\n",
            "800x600",
            0,
            {2}},
        ShapedRunCase{
            "ModeBySize",
            {.device = "hdmi-3crtc.json", .options = {"-m", "1280x720"}, .events = {"input@7"}},
            {0, 1},
            {},
            "Using screen HDMI-A-0, resolution 1280x720\n",
            "1280x720"},
        ShapedRunCase{"ModeWithRefresh",
                      {.device = "hdmi-3crtc.json",
                       .options = {"--mode", "640x480@60"},
                       .events = {"input@2"}},
                      {0},
                      {},
                      "Using screen HDMI-A-0, resolution 640x480\n",
                      "640x480"},
        ShapedRunCase{
            "FractionalPeriod",
            {.device = "hdmi-3crtc.json", .options = {"-p", "2.5"}, .events = {"input@6"}},
            {0, 1, 2},
            {0, 2.5, 5},
            hdmi_1080},
        ShapedRunCase{
            "PeriodWithoutLeadingZero",
            {.device = "hdmi-3crtc.json", .options = {"-p", ".5", "-n", "2"}, .events = {"input@6"}},
            {0, 1, 2},
            {0, 0.5, 1},
            hdmi_1080},
        ShapedRunCase{"LongestPeriod",
                      {.device = "hdmi-3crtc.json",
                       .options = {"-p", "86400", "-n", "1"},
                       .events = {"input@100000"}},
                      {0, 1},
                      {0, 86400},
                      hdmi_1080},
        ShapedRunCase{"MostHandovers",
                      {.device = "hdmi-3crtc.json",
                       .options = {"-n", "4294967295"},
                       .events = {"input@7"}},
                      {0, 1},
                      {},
                      hdmi_1080,
                      "1920x1080",
                      1,
                      {0},
                      "crtc-relay: stopped after 1 of 4294967295 handovers (input)\n"},
        ShapedRunCase{
            "HandoversEndTheRun",
            {.device = "hdmi-3crtc.json", .options = {"-n", "4"}, .events = {"input@1000"}},
            {0, 1, 2, 0, 1},
            {},
            hdmi_1080},
        ShapedRunCase{"NoHandoversShowsTheFirstPictureOnly",
                      {.device = "hdmi-3crtc.json",
                       .options = {"--handovers", "0"},
                       .events = {"input@1000"}},
                      {0},
                      {},
                      hdmi_1080},
        ShapedRunCase{"CrtcListInItsOrder",
                      {.device = "hdmi-3crtc.json",
                       .options = {"--crtcs", "2,0", "-n", "3"},
                       .events = {"input@1000"}},
                      {2, 0, 2, 0},
                      {},
                      hdmi_1080},
        ShapedRunCase{"CapableSkipsTheCrtcTheEncoderRefuses",
                      {.device = "crtc1-cannot-drive.json",
                       .options = {"--capable", "-n", "3"},
                       .events = {"input@1000"}},
                      {0, 2, 0, 2},
                      {},
                      "Using screen HDMI-A-0, resolution 640x480\n",
                      "640x480"},
        // Each of the screen's encoders counts, not only the first.
        ShapedRunCase{"CapableWithAnEncoderPerCrtc",
                      {.device = "encoder-per-crtc.json",
                       .options = {"--capable", "-n", "3"},
                       .events = {"input@1000"}},
                      {0, 2, 0, 2},
                      {},
                      hdmi_1080},
        // Bit 31 of every mask: the last CRTC a device may have.
        ShapedRunCase{"CapableUpToTheThirtySecondCrtc",
                      {.device = "32-crtcs.json",
                       .options = {"--capable", "-n", "3"},
                       .events = {"input@1000"}},
                      {0, 30, 31, 0},
                      {},
                      "Using screen HDMI-A-0, resolution 640x480\n",
                      "640x480"},
        // A head of its own per CRTC, as virtio-gpu and qxl have.
        ShapedRunCase{"CapableOnSeparateHeads",
                      {.device = "virtual-2heads.json",
                       .options = {"--capable", "-s", "1", "-n", "2"},
                       .events = {"input@1000"}},
                      {1, 1, 1},
                      {},
                      "Using screen Virtual-1, resolution 1024x768\n",
                      "1024x768",
                      0,
                      {1},
                      "crtc-relay: the cycle has one distinct CRTC (1): each handover sets it "
                      "again\n"}),
    [](const testing::TestParamInfo<ShapedRunCase> &info) { return info.param.name; });

TEST(List, PrintsTheDeviceAndSetsNothing) {
    const RelayResult result = run_relay({.device = "hdmi-3crtc.json", .options = {"--list"}});
    EXPECT_EQ(result.program.exit_status, 0);
    EXPECT_EQ(result.program.err, "");
    EXPECT_EQ(result.program.out,
              "screens:\n"
              "  0 HDMI-A-0 (HDMI-A-1): id 41, connected, modes 1920x1080@60 1280x720@60 "
              "640x480@60\n"
              "  1 DisplayPort-0 (DP-1): id 42, disconnected, modes none\n"
              "crtcs:\n"
              "  0: id 36, inactive\n"
              "  1: id 37, inactive\n"
              "  2: id 38, inactive\n"
              "encoders:\n"
              "  id 39: crtc none, possible crtcs 0, 1, 2, screens HDMI-A-0\n"
              "  id 40: crtc none, possible crtcs 0, 1, 2, screens DisplayPort-0\n"
              "planes:\n"
              "  0: id 31, primary, crtc none, possible crtcs 0, formats XR24 AR24 XB24 AB24 RA24 "
              "RX24 RG16\n"
              "  1: id 32, primary, crtc none, possible crtcs 1, formats XR24 AR24 XB24 AB24 RA24 "
              "RX24 RG16\n"
              "  2: id 33, primary, crtc none, possible crtcs 2, formats XR24 AR24 XB24 AB24 RA24 "
              "RX24 RG16\n"
              "  3: id 34, overlay, crtc none, possible crtcs 0, 1, 2, formats XR24 AR24 XB24 RA24 "
              "NV12 YUYV\n"
              "  4: id 35, cursor, crtc none, possible crtcs 0, 1, 2, formats AR24\n");
    EXPECT_TRUE(result.journal.empty());
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

// The same facts as JSON, one screen when --screen names it (by the
// kernel's name here); a device without connectors lists the rest.
TEST(List, AsJsonForAScreenOrADeviceWithoutConnectors) {
    RelayResult result = run_relay(
        {.device = "hdmi-3crtc.json", .options = {"--list", "--json", "--screen", "DP-1"}});
    ASSERT_EQ(result.program.exit_status, 0) << result.program.err;
    nlohmann::json listing = nlohmann::json::parse(result.program.out);
    EXPECT_EQ(listing.at("driver").at("name"), "drmsim");
    ASSERT_EQ(listing.at("screens").size(), 1u);
    EXPECT_EQ(listing.at("screens")[0], nlohmann::json::parse(R"({"index":1,"name":"DisplayPort-0",
        "kernel_name":"DP-1","id":42,"connection":"disconnected","modes":[],"encoder":null,
        "error":null})"));
    EXPECT_EQ(listing.at("encoders"), nlohmann::json::parse(
        R"([{"id":40,"crtc":null,"possible_crtcs":[0,1,2],"screens":[1]}])"));
    EXPECT_EQ(listing.at("crtcs").size(), 3u);
    EXPECT_EQ(listing.at("planes")[3].at("formats"),
              nlohmann::json::parse(R"(["XR24","AR24","XB24","RA24","NV12","YUYV"])"));
    EXPECT_TRUE(result.journal.empty());

    result = run_relay({.device = "no-connectors.json", .options = {"--list", "--json"}});
    ASSERT_EQ(result.program.exit_status, 0) << result.program.err;
    listing = nlohmann::json::parse(result.program.out);
    EXPECT_TRUE(listing.at("screens").empty());
    EXPECT_FALSE(listing.at("crtcs").empty());

    // Short format codes without the blanks that pad them: "C8", as --format takes it.
    result = run_relay({.device = "every-format.json", .options = {"--list", "--json"}});
    ASSERT_EQ(result.program.exit_status, 0) << result.program.err;
    const nlohmann::json formats = nlohmann::json::parse(result.program.out)["planes"][0]["formats"];
    EXPECT_NE(std::find(formats.begin(), formats.end(), "C8"), formats.end()) << formats;
}

TEST(List, ShowsEachHeadsOwnEncoder) {
    const RelayResult result = run_relay({.device = "virtual-2heads.json", .options = {"-l"}});
    EXPECT_EQ(result.program.exit_status, 0);
    EXPECT_NE(result.program.out.find("  id 35: crtc none, possible crtcs 0, screens Virtual-0\n"
                                      "  id 36: crtc none, possible crtcs 1, screens Virtual-1\n"),
              std::string::npos)
        << result.program.out;
    EXPECT_TRUE(result.journal.empty());
}

} // namespace
