// SPDX-License-Identifier: MIT
// crtc-relay's scan-out and CRTC cycling loop, on the simulated device with
// its virtual clock (and, for the period and real signals, the real one).

#include <gtest/gtest.h>

#include "relay_test_support.h"

namespace {

using namespace std::chrono_literals;

std::vector<double> call_times(const RelayResult &result) {
    std::vector<double> times;
    for (const nlohmann::json &entry : result.journal)
        times.push_back(entry.at("t").get<double>());
    return times;
}

struct SequenceCase {
    const char *name;
    std::string device;
    std::vector<uint32_t> expected_crtcs; // 1 at start, then one per 5-s timeout
};

void PrintTo(const SequenceCase &c, std::ostream *os) {
    *os << c.name;
}

class HandoverSequence : public testing::TestWithParam<SequenceCase> {};

// Input at 62.5 s: the set-up call, then timeouts at 5, 10, ..., 60 s.
TEST_P(HandoverSequence, WrapsTheCursorBeforeUsingIt) {
    const RelayResult result = run_relay({.device = GetParam().device, .events = {"input@62.5"}});
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_EQ(result.program.err, "");
    EXPECT_EQ(result.crtc_indices(), GetParam().expected_crtcs);

    // Exactly one mode-setting call per step, each on the screen's connector
    // with its first mode, every one accepted.
    const std::vector<double> times = call_times(result);
    ASSERT_EQ(times.size(), 13u);
    for (size_t step = 0; step < times.size(); ++step) {
        EXPECT_DOUBLE_EQ(times[step], 5.0 * step);
        const nlohmann::json &entry = result.journal[step];
        EXPECT_EQ(entry.at("connector_indices"), nlohmann::json::array({0}));
        EXPECT_EQ(entry.at("result"), 0);
        EXPECT_EQ(entry.at("fb"), result.journal[0].at("fb"));
    }
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

INSTANTIATE_TEST_SUITE_P(
    CrtcCounts, HandoverSequence,
    testing::Values(
        SequenceCase{"OneCrtc", "one-crtc.json", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        SequenceCase{"TwoCrtcs", "two-crtcs.json", {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0}},
        SequenceCase{"ThreeCrtcs", "hdmi-3crtc.json", {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0}}),
    [](const testing::TestParamInfo<SequenceCase> &info) { return info.param.name; });

struct EndingCase {
    const char *name;
    RelayRun run;
    int expected_status;
    std::string expected_err;
    std::vector<uint32_t> expected_crtcs;
    std::string expected_out = "Using screen HDMI-A-0, resolution 1920x1080\n";
};

void PrintTo(const EndingCase &c, std::ostream *os) {
    *os << c.name;
}

class LoopEnding : public testing::TestWithParam<EndingCase> {};

TEST_P(LoopEnding, EndsThroughTheOrderlyTeardown) {
    const EndingCase &c = GetParam();
    const RelayResult result = run_relay(c.run);
    EXPECT_EQ(result.program.exit_status, c.expected_status);
    EXPECT_EQ(result.program.term_signal, 0);
    EXPECT_EQ(result.program.out, c.expected_out);
    EXPECT_EQ(result.program.err, c.expected_err);
    EXPECT_EQ(result.crtc_indices(), c.expected_crtcs);
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Endings, LoopEnding,
    testing::Values(
        // Input ends the loop within the current wait: nothing after 5 s.
        EndingCase{"InputDuringSecondWait",
                   {.device = "hdmi-3crtc.json", .events = {"input@7.5"}},
                   0,
                   "",
                   {0, 1}},
        // Standard input at end of file is readable at once.
        EndingCase{"StdinAtEndOfFile",
                   {.device = "hdmi-3crtc.json",
                    .events = {"input@60"},
                    .stdin_kind = StdinKind::end_of_file},
                   0,
                   "",
                   {0}},
        EndingCase{"SigintDuringWait",
                   {.device = "hdmi-3crtc.json", .events = {"sigint@12.5"}},
                   0,
                   "",
                   {0, 1, 2}},
        // A Ctrl-C during a mode set stays pending and ends the next wait.
        EndingCase{"SigintDuringSecondModeSet",
                   {.device = "hdmi-3crtc.json", .events = {"sigint@setcrtc:2", "input@60"}},
                   0,
                   "",
                   {0, 1}},
        EndingCase{"SigintDuringFirstModeSet",
                   {.device = "hdmi-3crtc.json", .events = {"sigint@setcrtc:1", "input@60"}},
                   0,
                   "",
                   {0}},
        // A refused handover is a failure: reported, torn down, status 1.
        EndingCase{"HandoverRefusedByDevice",
                   {.device = "crtc1-cannot-drive.json", .events = {"input@60"}},
                   1,
                   "kms_screen_set() failed: -22\n",
                   {0, 1},
                   "Using screen HDMI-A-0, resolution 640x480\n"},
        EndingCase{
            "LaterModeSetFails",
            {.device = "hdmi-3crtc.json", .events = {"input@60"}, .failures = {"setcrtc:3:EBUSY"}},
            1,
            "kms_screen_set() failed: -16\n",
            {0, 1, 2}},
        // With options the end of standard input, or none at all, is not
        // input: the run goes on to its last handover.
        EndingCase{"OptionsRunPastEndOfFile",
                   {.device = "hdmi-3crtc.json",
                    .options = {"-n", "3"},
                    .events = {"input@60"},
                    .stdin_kind = StdinKind::end_of_file},
                   0,
                   "",
                   {0, 1, 2, 0}},
        EndingCase{"OptionsRunWithStdinClosed",
                   {.device = "hdmi-3crtc.json",
                    .options = {"-n", "3"},
                    .events = {"input@60"},
                    .stdin_kind = StdinKind::closed},
                   0,
                   "",
                   {0, 1, 2, 0}},
        // With --handovers N, ending before the Nth is a failure.
        EndingCase{"SigtermBeforeTheLastHandover",
                   {.device = "hdmi-3crtc.json", .options = {"-n", "10"}, .events = {"sigterm@12"}},
                   1,
                   "crtc-relay: stopped after 2 of 10 handovers (SIGTERM)\n",
                   {0, 1, 2}},
        EndingCase{"InputBeforeTheLastHandover",
                   {.device = "hdmi-3crtc.json", .options = {"-n", "10"}, .events = {"input@7"}},
                   1,
                   "crtc-relay: stopped after 1 of 10 handovers (input)\n",
                   {0, 1}},
        // Without options, the end of standard input is input and a closed
        // one fails the wait (EBADF), as they always did.
        EndingCase{
            "StdinClosed",
            {.device = "hdmi-3crtc.json", .events = {"input@60"}, .stdin_kind = StdinKind::closed},
            1,
            "select() failed: 9\n",
            {0}}),
    [](const testing::TestParamInfo<EndingCase> &info) { return info.param.name; });

TEST(Picture, TheScreenShowsSmpteBars) {
    const RelayResult result =
        run_relay({.device = "hdmi-3crtc.json", .events = {"input@1"}, .snapshots = true});
    ASSERT_EQ(result.program.exit_status, 0) << result.program.err;
    const Picture picture = read_png(result.snapshot_dir + "/crtc-0.png");
    ASSERT_EQ(picture.width, 1920u);
    ASSERT_EQ(picture.height, 1080u);

    struct Probe {
        uint32_t x, y;
        Rgb colour;
    };
    // Band rows 0-719, 720-839, 840-1079; top bars start at 0, 275, ..., 1646;
    // bottom entries at 0, 343, 686, 1029, then steps at 1371, 1463, 1554, black from 1645.
    const Probe probes[] = {
        {0, 0, {192, 192, 192}},      {274, 0, {192, 192, 192}},    {275, 0, {192, 192, 0}},
        {1646, 719, {0, 0, 192}},     {1919, 0, {0, 0, 192}},       {0, 720, {0, 0, 192}},
        {275, 839, {19, 19, 19}},     {1919, 720, {192, 192, 192}}, {0, 840, {0, 33, 76}},
        {343, 1079, {255, 255, 255}}, {686, 900, {50, 0, 106}},     {1371, 900, {9, 9, 9}},
        {1554, 900, {29, 29, 29}},    {1645, 1079, {19, 19, 19}},
    };
    for (const Probe &probe : probes)
        EXPECT_EQ(picture.at(probe.x, probe.y), probe.colour)
            << "pixel " << probe.x << "," << probe.y;
}

TEST(RealClock, HandsTheScreenOverEveryFiveSeconds) {
    const RelayResult result = run_relay({.device = "hdmi-3crtc.json", .write_stdin_after = 7s});
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    const std::vector<double> times = call_times(result);
    ASSERT_EQ(times.size(), 2u);
    EXPECT_NEAR(times[1] - times[0], 5.0, 0.5);
    EXPECT_EQ(result.crtc_indices(), (std::vector<uint32_t>{0, 1}));
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

TEST(RealClock, CtrlCDuringASlowModeSetIsNotLost) {
    // The set-up mode set takes 1.5 s; the real SIGINT lands inside it.
    const RelayResult result =
        run_relay({.device = "hdmi-3crtc.json", .delays = {"setcrtc:1500"}, .signal_after = 700ms});
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_EQ(result.program.term_signal, 0);
    EXPECT_EQ(result.program.err, "");
    EXPECT_EQ(result.crtc_indices(), (std::vector<uint32_t>{0}));
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

} // namespace
