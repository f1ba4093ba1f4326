// SPDX-License-Identifier: MIT
// crtc-relay --atomic: each handover is one atomic commit, checked with
// TEST_ONLY first; the picture, --verify and --report work as with SETCRTC,
// refusals end the run with status 1 after teardown.

#include <gtest/gtest.h>

#include "relay_test_support.h"

namespace {

using nlohmann::json;

// The commits of a run (TEST_ONLY ones aside): the CRTC index each one
// switched on.
std::vector<int> committed_crtcs(const RelayResult &result) {
    std::vector<int> crtcs;
    for (const json &entry : result.journal) {
        EXPECT_EQ(entry.at("request"), "ATOMIC") << "an atomic run makes no legacy mode sets";
        const json &flags = entry.at("flags");
        if (std::find(flags.begin(), flags.end(), "TEST_ONLY") != flags.end())
            continue;
        for (const json &object : entry.at("objects"))
            if (object.at("type") == "crtc" && object.at("properties")[0] == json{"ACTIVE", 1})
                crtcs.push_back(object.at("index"));
    }
    return crtcs;
}

// The commits of a run: the index of the plane each one gave a framebuffer.
std::vector<int> planes_shown(const RelayResult &result) {
    std::vector<int> planes;
    for (const json &entry : result.journal)
        for (const json &object : entry.at("objects"))
            for (const json &property : object.at("properties"))
                if (entry.at("flags")[0] != "TEST_ONLY" && property[0] == "FB_ID" &&
                    property[1] != 0)
                    planes.push_back(object.at("index"));
    return planes;
}

TEST(Atomic, HandsOverRoundRobinAsCheckedCommits) {
    const RelayResult result =
        run_relay({.device = "hdmi-3crtc.json",
                   .options = {"--atomic", "-V", "-n", "4", "--report", "REPORT"},
                   .events = {"input@99"}});
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_EQ(result.program.err, "");
    EXPECT_EQ(result.program.out, "Using screen HDMI-A-0, resolution 1920x1080\n");
    ASSERT_EQ(result.journal.size(), 10u) << "a TEST_ONLY check and a commit per mode set";
    for (size_t i = 0; i < result.journal.size(); ++i) {
        EXPECT_EQ(result.journal[i].at("flags")[0], i % 2 ? "ALLOW_MODESET" : "TEST_ONLY");
        EXPECT_EQ(result.journal[i].at("result"), 0);
    }
    EXPECT_EQ(committed_crtcs(result), (std::vector<int>{0, 1, 2, 0, 1}));
    const std::vector<json> report = parse_json_lines(read_file(result.report_path));
    ASSERT_EQ(report.size(), 7u);
    for (size_t i = 1; i + 1 < report.size(); ++i) {
        EXPECT_EQ(report[i].at("api"), "atomic");
        EXPECT_EQ(report[i].at("test_only"), 0);
        EXPECT_EQ(report[i].at("result"), 0);
        EXPECT_EQ(report[i].at("verified"), true);
    }
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

// On topologies where a CRTC's primary plane is not simply the one that can
// sit nowhere else, each verified commit shows the picture on the new
// CRTC's own primary plane (the one the kernel reads the CRTC's
// framebuffer from), taking the old one off.
TEST(Atomic, ShowsThePictureOnTheNewCrtcsOwnPlane) {
    const struct {
        const char *device;
        std::vector<int> crtcs, planes; // an overlay comes first on the one
    } cases[] = {{"encoder-per-crtc.json", {0, 2, 0}, {1, 3, 1}},
                 {"32-crtcs.json", {0, 30, 31}, {0, 30, 31}},
                 // one primary plane for two CRTCs, seen only once atomic is
                 // on: it moves with the screen, and --verify reads it back
                 {"one-primary-plane.json", {0, 1, 0}, {0, 0, 0}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.device);
        const RelayResult result =
            run_relay({.device = c.device,
                       .options = {"--atomic", "-V", "--capable", "-n", "2"},
                       .events = {"input@99"}});
        EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
        EXPECT_EQ(committed_crtcs(result), c.crtcs);
        EXPECT_EQ(planes_shown(result), c.planes) << "each CRTC's own, else the screen's";
        EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
    }
}

// Every pixel the atomic run shows is the one the legacy run shows.
TEST(Atomic, ShowsTheSamePictureAsTheLegacyPath) {
    const RelayResult legacy =
        run_relay({.device = "small-3crtc.json", .events = {"input@1"}, .snapshots = true});
    const RelayResult atomic = run_relay({.device = "small-3crtc.json",
                                          .options = {"--atomic"},
                                          .events = {"input@1"},
                                          .snapshots = true});
    ASSERT_EQ(atomic.program.exit_status, 0) << atomic.program.err;
    const Picture expected = read_png(legacy.snapshot_dir + "/crtc-0.png");
    const Picture shown = read_png(atomic.snapshot_dir + "/crtc-0.png");
    ASSERT_EQ(shown.width, 640u);
    ASSERT_EQ(shown.height, 480u);
    EXPECT_TRUE(shown.pixels == expected.pixels);
}

TEST(Atomic, LegacyRunsSayWhichApiTheyUsed) {
    const RelayResult result = run_relay({.device = "hdmi-3crtc.json",
                                          .options = {"-n", "1", "--report", "REPORT"},
                                          .events = {"input@99"}});
    const std::vector<json> report = parse_json_lines(read_file(result.report_path));
    ASSERT_EQ(report.size(), 4u);
    EXPECT_EQ(report[1].at("api"), "legacy");
    EXPECT_TRUE(report[1].at("test_only").is_null());
}

struct AtomicEnding {
    const char *name;
    std::string device;
    std::vector<std::string> options;
    std::vector<std::string> failures;
    std::string err; // all of standard error (standard output has the "Using screen" line)
    json last_set; // the report's last set event's api, test_only, result (and atomic_step)
};

// Named in test listings by its name, not by a dump of its bytes.
void PrintTo(const AtomicEnding &c, std::ostream *os) {
    *os << c.name;
}

class AtomicEndings : public ::testing::TestWithParam<AtomicEnding> {};

// Each ends with status 1 after the orderly teardown.
TEST_P(AtomicEndings, EndWithStatusOneAndNothingLeft) {
    const AtomicEnding &c = GetParam();
    std::vector<std::string> options{"--atomic", "--report", "REPORT"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    const RelayResult result = run_relay(
        {.device = c.device, .options = options, .events = {"input@99"}, .failures = c.failures});
    EXPECT_EQ(result.program.exit_status, 1);
    EXPECT_EQ(result.program.err, c.err);
    EXPECT_EQ(result.program.out.rfind("Using screen ", 0), 0u) << result.program.out;
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
    const std::vector<json> report = parse_json_lines(read_file(result.report_path));
    json last_set = nullptr;
    for (const json &event : report)
        if (event.at("event") == "set") {
            last_set = {event.at("api"), event.at("test_only"), event.at("result")};
            if (event.contains("atomic_step"))
                last_set.push_back(event.at("atomic_step"));
        }
    EXPECT_EQ(last_set, c.last_set);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, AtomicEndings,
    ::testing::Values(
        // radeon's answer to DRM_CLIENT_CAP_ATOMIC
        AtomicEnding{"LegacyOnlyDriver",
                     "legacy-only.json",
                     {},
                     {},
                     "atomic mode setting not supported by this device\n",
                     nullptr},
        // CRTC 1 cannot feed the screen's encoder: the check refuses it
        AtomicEnding{"RefusedByTheTestOnlyCheck",
                     "crtc1-cannot-drive.json",
                     {"-c", "0,1"},
                     {},
                     "kms_atomic_screen_set() TEST_ONLY failed: -22\n",
                     json{"atomic", -22, -22}},
        // the check passes, the commit itself fails
        AtomicEnding{"CommitFailsAfterTheCheck",
                     "hdmi-3crtc.json",
                     {},
                     {"atomic:4:EIO"},
                     "kms_atomic_screen_set() failed: -5\n",
                     json{"atomic", 0, -5}},
        // a driver that answers 0 and does nothing is caught by --verify
        AtomicEnding{
            "IgnoredCommitCaughtByVerify",
            "hdmi-3crtc.json",
            {"-V"},
            {"atomic:4:ignore"},
            "handover to CRTC 1 not in effect: plane 32 shows framebuffer 0 on no CRTC, not 43 "
            "on CRTC 1 (id 37)\n",
            json{"atomic", 0, 0}},
        // failures before any commit name their step, not a TEST_ONLY answer
        AtomicEnding{"NoPrimaryPlaneForTheCrtc",
                     "one-primary-plane.json",
                     {"-c", "0,2"},
                     {},
                     "kms_atomic_screen_set() failed: -22 (no primary plane can show a picture "
                     "on CRTC 2; no ATOMIC request was sent)\n",
                     json{"atomic", nullptr, -22, "plane"}},
        AtomicEnding{"ModeBlobRefused",
                     "hdmi-3crtc.json",
                     {},
                     {"createpropblob:3:ENOSPC"},
                     "kms_atomic_screen_set() failed: -28 (the mode's property blob was refused; "
                     "no ATOMIC request was sent)\n",
                     json{"atomic", nullptr, -28, "mode_blob"}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
