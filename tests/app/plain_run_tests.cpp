// SPDX-License-Identifier: MIT
// The plain run, `crtc-relay DEVICE` with no options, pinned byte for byte
// on the default device: what it prints, its exit status and every mode set
// the device saw. Options may add behaviour; none of it may leak in here.

#include <gtest/gtest.h>

#include "relay_test_support.h"

namespace {

// One SETCRTC of screen 0 (connector 41) at 1920x1080 with framebuffer 43,
// as the device journals it.
std::string set_line(double t, int crtc_index, int result = 0) {
    const int crtc_ids[] = {36, 37, 38};
    return R"({"connector_indices":[0],"connectors":[41],"crtc":)" +
           std::to_string(crtc_ids[crtc_index]) + R"(,"crtc_index":)" + std::to_string(crtc_index) +
           R"(,"fb":43,"mode":{"hdisplay":1920,"name":"1920x1080","vdisplay":1080},)"
           R"("request":"SETCRTC","result":)" +
           std::to_string(result) + R"(,"t":)" + nlohmann::json(t).dump() + "}";
}

struct PinnedCase {
    const char *name;
    RelayRun run;
    int status;
    std::string err;
    std::vector<std::string> journal;
};

void PrintTo(const PinnedCase &c, std::ostream *os) {
    *os << c.name;
}

class PlainRun : public testing::TestWithParam<PinnedCase> {};

TEST_P(PlainRun, IsPinned) {
    const PinnedCase &c = GetParam();
    const RelayResult result = run_relay(c.run);
    EXPECT_EQ(result.program.exit_status, c.status);
    EXPECT_EQ(result.program.term_signal, 0);
    EXPECT_EQ(result.program.out, "Using screen HDMI-A-0, resolution 1920x1080\n");
    EXPECT_EQ(result.program.err, c.err);
    std::vector<std::string> journal;
    for (const nlohmann::json &entry : result.journal)
        journal.push_back(entry.dump());
    EXPECT_EQ(journal, c.journal);
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

INSTANTIATE_TEST_SUITE_P(
    DefaultDevice, PlainRun,
    testing::Values(PinnedCase{"EndedByInput",
                               {.device = "hdmi-3crtc.json", .events = {"input@22.5"}},
                               0,
                               "",
                               {set_line(0, 0), set_line(5, 1), set_line(10, 2), set_line(15, 0),
                                set_line(20, 1)}},
                    PinnedCase{"EndedBySigint",
                               {.device = "hdmi-3crtc.json", .events = {"sigint@7"}},
                               0,
                               "",
                               {set_line(0, 0), set_line(5, 1)}},
                    PinnedCase{"EndedByARefusedHandover",
                               {.device = "hdmi-3crtc.json",
                                .events = {"input@60"},
                                .failures = {"setcrtc:3:EBUSY"}},
                               1,
                               "kms_screen_set() failed: -16\n",
                               {set_line(0, 0), set_line(5, 1), set_line(10, 2, -16)}}),
    [](const testing::TestParamInfo<PinnedCase> &info) { return info.param.name; });

} // namespace
