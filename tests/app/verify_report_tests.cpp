// SPDX-License-Identifier: MIT
// --verify against a device that ignores a mode set, the --report JSON
// Lines with their documented fields, and SIGTERM and SIGHUP ending the run
// like SIGINT on the virtual and on the real clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <future>

#include "relay_test_support.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

struct VerifyCase {
    const char *name;
    RelayRun run;
    int status;
    std::string err;
    std::vector<uint32_t> crtcs;
};

void PrintTo(const VerifyCase &c, std::ostream *os) {
    *os << c.name;
}

// A verified run on which the nth mode set is carried out wrongly by a
// faulty driver (DRMSIM_FAIL setcrtc:N:FAULT): the check that must catch it
// names what differs, and the run ends after the handover to the last CRTC.
VerifyCase driver_fault(const char *name, const char *failure, const std::string &mismatch,
                        std::vector<uint32_t> crtcs, RelayRun run = {.device = "hdmi-3crtc.json"}) {
    run.options.push_back("-V");
    run.events = {"input@99"};
    run.failures = {failure};
    const std::string err = "handover to CRTC " + std::to_string(crtcs.back()) +
                            " not in effect: " + mismatch + "\n";
    return {name, std::move(run), 1, err, std::move(crtcs)};
}

class Verify : public testing::TestWithParam<VerifyCase> {};

TEST_P(Verify, CatchesAModeSetThatDidNotHappen) {
    const VerifyCase &c = GetParam();
    const RelayResult result = run_relay(c.run);
    EXPECT_EQ(result.program.exit_status, c.status);
    EXPECT_EQ(result.program.err, c.err);
    EXPECT_EQ(result.crtc_indices(), c.crtcs);
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Handovers, Verify,
    testing::Values(
        VerifyCase{
            "EveryHandoverInEffect",
            {.device = "hdmi-3crtc.json", .options = {"-V", "-n", "6"}, .events = {"input@99"}},
            0,
            "",
            {0, 1, 2, 0, 1, 2, 0}},
        VerifyCase{"IgnoredHandover",
                   {.device = "hdmi-3crtc.json",
                    .options = {"--verify"},
                    .events = {"input@99"},
                    .failures = {"setcrtc:3:ignore"}},
                   1,
                   "handover to CRTC 2 not in effect: CRTC 2 (id 38) shows framebuffer 0, not 43\n",
                   {0, 1, 2}},
        VerifyCase{"IgnoredFirstPicture",
                   {.device = "hdmi-3crtc.json",
                    .options = {"-V"},
                    .events = {"input@99"},
                    .failures = {"setcrtc:1:ignore"}},
                   1,
                   "handover to CRTC 0 not in effect: CRTC 0 (id 36) shows framebuffer 0, not 43\n",
                   {0}},
        // On separate heads CRTC 1 cannot take screen 0 at all: refused, not
        // ignored, so the failure is the mode set's own.
        VerifyCase{"RefusedIsNotAVerificationFailure",
                   {.device = "virtual-2heads.json", .options = {"-V"}, .events = {"input@99"}},
                   1,
                   "kms_screen_set() failed: -22\n",
                   {0, 1}},
        driver_fault("HorizontalOffset", "setcrtc:2:x-offset",
                     "CRTC 1 (id 37) shows the framebuffer from 8,0, not 0,0", {0, 1}),
        driver_fault("VerticalOffset", "setcrtc:3:y-offset",
                     "CRTC 2 (id 38) shows the framebuffer from 0,8, not 0,0", {0, 1, 2}),
        driver_fault("NoMode", "setcrtc:2:no-mode", "CRTC 1 (id 37) has no mode", {0, 1}),
        driver_fault("PixelClock", "setcrtc:2:clock",
                     "CRTC 1 (id 37) runs 1920x1080@60 (clock 148352), not 1920x1080@60 (clock "
                     "148500)",
                     {0, 1}),
        driver_fault("OtherMode", "setcrtc:1:other-mode",
                     "CRTC 0 (id 36) runs 1920x1080@60 (clock 148500), not 1280x720@60 (clock "
                     "74250)",
                     {0}, {.device = "hdmi-3crtc.json", .options = {"-m", "1280x720"}}),
        driver_fault("NoEncoderInUse", "setcrtc:1:stale-encoder",
                     "screen HDMI-A-0 has no encoder in use", {0}),
        driver_fault("EncoderNotSwitched", "setcrtc:2:stale-encoder",
                     "encoder 39 of screen HDMI-A-0 is fed by CRTC 0 (id 36), not CRTC 1 (id 37)",
                     {0, 1}),
        driver_fault("AnotherScreensEncoder", "setcrtc:2:foreign-encoder",
                     "screen HDMI-A-0 names encoder 40, which is not one of its own", {0, 1}),
        driver_fault("OldRouteLeftInPlace", "setcrtc:2:old-route",
                     "CRTC 0 (id 35) still drives screen HDMI-A-0 through encoder 38", {0, 2},
                     {.device = "encoder-per-crtc.json", .options = {"--capable"}}),
        // The plane's own SETPLANE ignored: the screen is in effect, the plane not.
        VerifyCase{"IgnoredPlane",
                   {.device = "every-format.json",
                    .options = {"-V", "--plane", "overlay"},
                    .events = {"input@99"},
                    .failures = {"setplane:2:ignore"}},
                   1,
                   "handover to CRTC 1 not in effect: plane id 33 shows framebuffer 40 on CRTC "
                   "id 35, not 40 on 36\n",
                   {0, 1}},
        VerifyCase{"StateUnreadable",
                   {.device = "hdmi-3crtc.json",
                    .options = {"-V"},
                    .events = {"input@99"},
                    .failures = {"getcrtc:2:EIO"}},
                   1,
                   "handover to CRTC 1 not in effect: cannot read CRTC 1 (id 37): -5\n",
                   {0, 1}},
        VerifyCase{"ScreenUnreadable",
                   {.device = "hdmi-3crtc.json",
                    .options = {"-V"},
                    .events = {"input@99"},
                    .failures = {"getconnector:4:EIO"}},
                   1,
                   "handover to CRTC 0 not in effect: cannot read screen HDMI-A-0: -5\n",
                   {0}},
        VerifyCase{"IgnoredPlaneSet",
                   {.device = "hdmi-3crtc.json",
                    .options = {"--plane", "overlay", "-V"},
                    .events = {"input@99"},
                    .failures = {"setplane:2:ignore"}},
                   1,
                   "handover to CRTC 1 not in effect: plane id 34 shows framebuffer 44 on CRTC id "
                   "36, not 44 on 37\n",
                   {0, 1}},
        // Without --verify the ignored mode set goes unnoticed.
        VerifyCase{"UnnoticedWithoutVerify",
                   {.device = "hdmi-3crtc.json",
                    .options = {"-n", "3"},
                    .events = {"input@99"},
                    .failures = {"setcrtc:3:ignore"}},
                   0,
                   "",
                   {0, 1, 2, 0}}),
    [](const testing::TestParamInfo<VerifyCase> &info) { return info.param.name; });

std::vector<json> report_of(const RelayResult &result) {
    return parse_json_lines(read_file(result.report_path));
}

// The start line, then one set line per journaled mode set with its CRTC
// and result, then the end line whose counts match.
void expect_well_formed(const std::vector<json> &report, const RelayResult &result) {
    ASSERT_GE(report.size(), 2u);
    const json &start = report.front();
    EXPECT_EQ(start.at("event"), "start");
    EXPECT_EQ(start.at("device"), device_path("hdmi-3crtc.json"));
    EXPECT_EQ(start.at("screen"), (json{{"index", 0}, {"name", "HDMI-A-0"}, {"id", 41}}));
    // The whole mode as the device describes 1920x1080@60, flags +hsync +vsync.
    EXPECT_EQ(start.at("mode"), json::parse(R"({"name":"1920x1080","width":1920,"height":1080,
        "refresh":60,"clock":148500,"hsync_start":2008,"hsync_end":2052,"htotal":2200,"hskew":0,
        "vsync_start":1084,"vsync_end":1089,"vtotal":1125,"vscan":0,"flags":5,"type":72})"));
    EXPECT_EQ(start.at("version"), CRTC_RELAY_VERSION);
    EXPECT_EQ(start.at("driver").at("name"), "drmsim");
    const std::string started = start.at("started");
    EXPECT_TRUE(started.size() == 20 && started[10] == 'T' && started.back() == 'Z') << started;
    EXPECT_EQ(start.at("distinct_crtcs"), 3);
    EXPECT_EQ(start.at("options").at("period"), 5);
    EXPECT_EQ(start.at("crtcs"), json::parse(R"([{"index":0,"id":36},{"index":1,"id":37},
                                                 {"index":2,"id":38}])"));
    ASSERT_EQ(report.size(), result.journal.size() + 2);
    double last_t = start.at("t").get<double>();
    for (size_t i = 0; i < result.journal.size(); ++i) {
        const json &set = report[i + 1];
        EXPECT_EQ(set.at("event"), "set");
        EXPECT_EQ(set.at("step"), i);
        EXPECT_EQ(set.at("crtc").at("index"), result.journal[i].at("crtc_index"));
        EXPECT_EQ(set.at("crtc").at("id"), result.journal[i].at("crtc"));
        EXPECT_EQ(set.at("result"), result.journal[i].at("result"));
        EXPECT_TRUE(set.at("duration_us").is_number_unsigned());
        EXPECT_GE(set.at("t").get<double>(), last_t);
        last_t = set.at("t").get<double>();
    }
    const json &end = report.back();
    EXPECT_EQ(end.at("event"), "end");
    EXPECT_EQ(end.at("status"), result.program.exit_status);
    EXPECT_EQ(end.at("sets"), result.journal.size());
    // Handovers made: the mode sets after the first that succeeded.
    EXPECT_EQ(end.at("done"), end.at("reason") == "failure" || result.journal.empty()
                                  ? std::max<size_t>(result.journal.size(), 2) - 2
                                  : result.journal.size() - 1);
    // The statistics of the set lines' durations; the median of an even
    // count is the lower middle one.
    std::vector<uint64_t> durations;
    for (size_t i = 1; i + 1 < report.size(); ++i)
        if (!report[i].at("duration_us").is_null()) // a refused check made no call
            durations.push_back(report[i].at("duration_us"));
    std::sort(durations.begin(), durations.end());
    EXPECT_EQ(end.at("duration_us"), (json{{"min", durations.front()},
                                           {"median", durations[(durations.size() - 1) / 2]},
                                           {"max", durations.back()}}));
}

TEST(Report, VerifiedHandoversToTheLastOne) {
    const RelayResult result = run_relay({.device = "hdmi-3crtc.json",
                                          .options = {"-V", "-n", "4", "--report", "REPORT"},
                                          .events = {"input@99"}});
    EXPECT_EQ(result.program.exit_status, 0);
    const std::vector<json> report = report_of(result);
    expect_well_formed(report, result);
    for (size_t i = 1; i + 1 < report.size(); ++i)
        EXPECT_EQ(report[i].at("verified"), true);
    EXPECT_EQ(report.back().at("reason"), "handovers");
    EXPECT_EQ(report.back().at("sets"), 5);
}

TEST(Report, FailedVerificationSaysWhatDiffered) {
    const RelayResult result = run_relay({.device = "hdmi-3crtc.json",
                                          .options = {"-V", "-r", "REPORT"},
                                          .events = {"input@99"},
                                          .failures = {"setcrtc:2:ignore"}});
    const std::vector<json> report = report_of(result);
    expect_well_formed(report, result);
    EXPECT_EQ(report[2].at("verified"), false);
    EXPECT_EQ(report[2].at("mismatch"), "CRTC 1 (id 37) shows framebuffer 0, not 43");
    EXPECT_EQ(report.back().at("reason"), "failure");
    EXPECT_EQ(report.back().at("status"), 1);
}

TEST(Report, RefusedSetCarriesTheErrnoAndNoVerdict) {
    const RelayResult result = run_relay({.device = "hdmi-3crtc.json",
                                          .options = {"-V", "-r", "REPORT"},
                                          .events = {"input@99"},
                                          .failures = {"setcrtc:2:EBUSY"}});
    const std::vector<json> report = report_of(result);
    expect_well_formed(report, result);
    EXPECT_EQ(report[2].at("result"), -16);
    EXPECT_TRUE(report[2].at("verified").is_null());
    EXPECT_EQ(report.back().at("reason"), "failure");
}

// Each line is in the file as soon as it happened, not only at exit: a CI
// job that follows the report sees the first picture while the program waits.
TEST(Report, LinesCanBeReadWhileTheProgramRuns) {
    const std::string path = testing::TempDir() + "report-while-running.jsonl";
    std::remove(path.c_str());
    auto run = std::async(std::launch::async, [&] {
        return run_relay({.device = "hdmi-3crtc.json", .options = {"-r", path, "-p", "3", "-n", "1"}});
    });
    std::string seen;
    while (run.wait_for(20ms) == std::future_status::timeout &&
           (seen.find("\"event\":\"set\"") == std::string::npos || seen.back() != '\n'))
        seen = read_file(path);
    const RelayResult result = run.get();
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    const std::vector<json> lines = parse_json_lines(seen);
    ASSERT_EQ(lines.size(), 2u) << "start and the first set, read during the run:\n" << seen;
    EXPECT_EQ(lines[1].at("step"), 0);
    EXPECT_EQ(parse_json_lines(read_file(path)).back().at("reason"), "handovers");
}

TEST(Report, OnStandardOutputItIsTheOnlyOutput) {
    const RelayResult result = run_relay(
        {.device = "hdmi-3crtc.json", .options = {"--report", "-"}, .events = {"input@7"}});
    EXPECT_EQ(result.program.exit_status, 0);
    EXPECT_EQ(result.program.err, "Using screen HDMI-A-0, resolution 1920x1080\n");
    const std::vector<json> report = parse_json_lines(result.program.out);
    expect_well_formed(report, result);
    EXPECT_TRUE(report[1].at("verified").is_null()) << "not asked for";
    EXPECT_EQ(report.back().at("reason"), "input");
}

struct SignalCase {
    const char *name;
    RelayRun run;
    std::string signal; // in the report
    std::vector<uint32_t> crtcs;
};

void PrintTo(const SignalCase &c, std::ostream *os) {
    *os << c.name;
}

class EndingSignal : public testing::TestWithParam<SignalCase> {};

TEST_P(EndingSignal, TearsDownWithStatus0) {
    RelayRun run = GetParam().run;
    run.options.insert(run.options.end(), {"-r", "REPORT"});
    const RelayResult result = run_relay(run);
    EXPECT_EQ(result.program.exit_status, 0);
    EXPECT_EQ(result.program.term_signal, 0);
    EXPECT_EQ(result.program.err, "");
    EXPECT_EQ(result.crtc_indices(), GetParam().crtcs);
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
    const std::vector<json> report = report_of(result);
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.back().at("reason"), "signal");
    EXPECT_EQ(report.back().at("signal"), GetParam().signal);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, EndingSignal,
    testing::Values(
        SignalCase{"SigtermInAWait",
                   {.device = "hdmi-3crtc.json", .events = {"sigterm@7"}},
                   "SIGTERM",
                   {0, 1}},
        SignalCase{"SighupInAWait",
                   {.device = "hdmi-3crtc.json", .events = {"sighup@12"}},
                   "SIGHUP",
                   {0, 1, 2}},
        // Blocked during the mode set, delivered by the next wait.
        SignalCase{"SigtermDuringAModeSet",
                   {.device = "hdmi-3crtc.json", .events = {"sigterm@setcrtc:2", "input@60"}},
                   "SIGTERM",
                   {0, 1}},
        SignalCase{"SigtermOnTheRealClock",
                   {.device = "hdmi-3crtc.json", .signal_after = 700ms, .signal = SIGTERM},
                   "SIGTERM",
                   {0}},
        SignalCase{"SighupOnTheRealClock",
                   {.device = "hdmi-3crtc.json", .signal_after = 700ms, .signal = SIGHUP},
                   "SIGHUP",
                   {0}},
        // timeout(1) kills a slow first mode set: the signal waits for it.
        SignalCase{"SigtermDuringASlowModeSet",
                   {.device = "hdmi-3crtc.json",
                    .delays = {"setcrtc:1500"},
                    .signal_after = 700ms,
                    .signal = SIGTERM},
                   "SIGTERM",
                   {0}}),
    [](const testing::TestParamInfo<SignalCase> &info) { return info.param.name; });

// The plain run ends the same way: no report, no option, status 0.
TEST(PlainRunSignal, SigtermTearsDown) {
    const RelayResult result =
        run_relay({.device = "hdmi-3crtc.json", .signal_after = 700ms, .signal = SIGTERM});
    EXPECT_EQ(result.program.exit_status, 0);
    EXPECT_EQ(result.program.out, "Using screen HDMI-A-0, resolution 1920x1080\n");
    EXPECT_EQ(result.program.err, "");
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

} // namespace
