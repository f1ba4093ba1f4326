// SPDX-License-Identifier: MIT
// --verify=crc and --verify=writeback on a simulated device with a CRC
// source per CRTC and a writeback connector: faithful runs pass with the
// report's crc and frames, each injected fault is caught with its message
// and status 1, and a check the device cannot run is refused with status 2
// before any mode set.

#include <gtest/gtest.h>

#include <filesystem>

#include "relay_test_support.h"

namespace {

using nlohmann::json;

// The CRTC of each set line of the run's report (the commits are atomic,
// which the journal does not list by CRTC).
std::vector<uint32_t> reported_crtcs(const RelayResult &result) {
    std::vector<uint32_t> crtcs;
    for (const json &line : parse_json_lines(read_file(result.report_path)))
        if (line["event"] == "set")
            crtcs.push_back(line["crtc"]["index"].get<uint32_t>());
    return crtcs;
}

const std::vector<std::string> kAllChecks = {
    "--verify=state,crc,writeback", "--debugfs", "DEBUGFS", "-n", "3", "--report", "REPORT"};

TEST(PixelChecks, FaithfulRunPassesWithCrcsInTheReport) {
    const RelayResult result = run_relay(
        {.device = "writeback-2crtc.json", .options = kAllChecks, .events = {"input@99"}});
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_EQ(result.program.err, "");
    EXPECT_EQ(reported_crtcs(result), (std::vector<uint32_t>{0, 1, 0, 1}));
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
    std::vector<json> sets;
    for (const json &line : parse_json_lines(read_file(result.report_path)))
        if (line["event"] == "set")
            sets.push_back(line);
    ASSERT_EQ(sets.size(), 4u);
    for (const json &set : sets) {
        EXPECT_EQ(set["verified"], true);
        EXPECT_EQ(set["api"], "atomic"); // implied by writeback
        ASSERT_EQ(set["crc"].size(), 3u);
        EXPECT_EQ(set["crc"][0], set["crc"][2]);
        EXPECT_LT(set["frames"][0], set["frames"][1]);
        EXPECT_LT(set["frames"][1], set["frames"][2]);
        // One picture, composed alike on both CRTCs.
        EXPECT_EQ(set["crc"][0], sets[0]["crc"][0]);
    }
}

struct FaultCase {
    const char *name;
    std::vector<std::string> faults;
    std::string err;
    std::vector<uint32_t> crtcs; // the mode sets made
};

void PrintTo(const FaultCase &c, std::ostream *os) {
    *os << c.name;
}

class PixelFault : public testing::TestWithParam<FaultCase> {};

TEST_P(PixelFault, IsCaughtWithStatus1) {
    const FaultCase &c = GetParam();
    const RelayResult result = run_relay({.device = "writeback-2crtc.json",
                                          .options = kAllChecks,
                                          .events = {"input@99"},
                                          .pixel_faults = c.faults});
    EXPECT_EQ(result.program.exit_status, 1);
    // The frame numbers depend on how far the virtual clock went before.
    EXPECT_TRUE(result.program.err.starts_with(c.err)) << result.program.err;
    EXPECT_EQ(reported_crtcs(result), c.crtcs);
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
    const json last = parse_json_lines(read_file(result.report_path)).back();
    EXPECT_EQ(last["event"], "end");
    EXPECT_EQ(last["reason"], "failure");
}

INSTANTIATE_TEST_SUITE_P(
    Sim, PixelFault,
    testing::Values(
        FaultCase{"StoppedCrtc",
                  {"crc-stop:1:1"},
                  "handover to CRTC 1 failed its CRC check: CRTC 1 sent 1 CRC entry in 1 s, not "
                  "3 (is it scanning out?)\n",
                  {0, 1}},
        FaultCase{"StaleFrame",
                  {"crc-stale:1:2"},
                  "handover to CRTC 1 failed its CRC check: the frame counter of CRTC 1 does "
                  "not advance: entries of frames 0x",
                  {0, 1}},
        FaultCase{"CrcChangesWithinAShowing",
                  {"crc-change:0:1"},
                  "handover to CRTC 0 failed its CRC check: the CRC of CRTC 0 is not stable: "
                  "0x82115704 at frame 0x00000001, 0x82ee57fb at frame 0x00000002\n",
                  {0}},
        FaultCase{"WrongFrameOnReturn",
                  {"crc-change:0:3"},
                  "handover to CRTC 0 failed its CRC check: the CRC of CRTC 0 is 0x82ee57fb, "
                  "not 0x82115704 as at the picture's first showing there (step 0)\n",
                  {0, 1, 0}},
        FaultCase{"FenceNeverSignals",
                  {"wb-unsignalled:2"},
                  "handover to CRTC 1 failed its writeback check: the writeback fence of CRTC 1 "
                  "did not signal within 1000 ms\n",
                  {0, 1}},
        FaultCase{"CorruptCapture",
                  {"wb-corrupt:3"},
                  "handover to CRTC 0 failed its writeback check: the writeback capture of "
                  "CRTC 0 differs in 1 of 786432 pixels, first at 341,384: 0xff3f3f, expected "
                  "0x00c0c0\n",
                  {0, 1, 0}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PixelFault, CorruptCaptureSavedAsTwoPictures) {
    const RelayResult result =
        run_relay({.device = "writeback-2crtc.json",
                   .options = {"--verify=writeback", "--save", "SAVE", "-n", "1"},
                   .events = {"input@99"},
                   .pixel_faults = {"wb-corrupt:1"}});
    EXPECT_EQ(result.program.exit_status, 1);
    const std::string base = result.snapshot_dir + "/writeback-step0";
    EXPECT_NE(result.program.err.find("(saved as " + base + "-expected.png and -captured.png)"),
              std::string::npos)
        << result.program.err;
    const Picture expected = read_png(base + "-expected.png");
    const Picture captured = read_png(base + "-captured.png");
    EXPECT_EQ(expected.at(341, 384), (Rgb{0x00, 0xc0, 0xc0}));
    EXPECT_EQ(captured.at(341, 384), (Rgb{0xff, 0x3f, 0x3f}));
    EXPECT_EQ(captured.at(340, 384), expected.at(340, 384));
}

// A sweep of writeback-planes.json's primary plane, each format checked
// by CRC and capture: XB24 shows the same picture as XR24 (only the byte
// order differs), so its CRC must be XR24's.
const std::vector<std::string> kSweep = {
    "--formats", "XR24,NV12,XB24", "--verify=crc,writeback", "--debugfs", "DEBUGFS", "--report",
    "REPORT"};

std::vector<json> format_lines(const RelayResult &result) {
    std::vector<json> lines;
    for (const json &line : parse_json_lines(read_file(result.report_path)))
        if (line["event"] == "format")
            lines.push_back(line);
    return lines;
}

TEST(PixelChecks, FaithfulSweepSaysWhatEachFormatWasComparedWith) {
    const RelayResult result = run_relay(
        {.device = "writeback-planes.json", .options = kSweep, .events = {"input@99"}});
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    EXPECT_EQ(result.program.out, "Using screen Virtual-0, resolution 320x180\n"
                                  "formats: 3 passed, 0 failed, 0 skipped\n");
    const std::vector<json> formats = format_lines(result);
    ASSERT_EQ(formats.size(), 3u);
    for (const json &line : formats)
        EXPECT_EQ(line["verified"], true) << line.dump();
    // The YUV picture is compared within the stated tolerance, the others exactly.
    EXPECT_EQ(formats[0]["writeback"], (json{{"format", "XR24"}, {"tolerance", 0}}));
    EXPECT_EQ(formats[1]["writeback"], (json{{"format", "XR24"}, {"tolerance", 2}}));
    EXPECT_EQ(formats[1]["crc_reference"], (json{{"format", "NV12"}, {"step", 1}}));
    EXPECT_EQ(formats[2]["crc_reference"], (json{{"format", "XR24"}, {"step", 0}}));
    EXPECT_EQ(formats[2]["crc"], formats[0]["crc"]);
    EXPECT_NE(formats[1]["crc"], formats[0]["crc"]);
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

struct SweepFaultCase {
    const char *name;
    std::string fault;
    std::string err;     // in the failed step's line
    const char *failed;  // the format it failed
};

void PrintTo(const SweepFaultCase &c, std::ostream *os) {
    *os << c.name;
}

class SweepPixelFault : public testing::TestWithParam<SweepFaultCase> {};

// CRC entries count per CRTC (3 per format) and captures per job (1 per
// format): each fault hits one step, which fails; the sweep goes on.
TEST_P(SweepPixelFault, FailsThatFormatAndGoesOn) {
    const SweepFaultCase &c = GetParam();
    const RelayResult result = run_relay({.device = "writeback-planes.json",
                                          .options = kSweep,
                                          .events = {"input@99"},
                                          .pixel_faults = {c.fault}});
    EXPECT_EQ(result.program.exit_status, 1);
    EXPECT_NE(result.program.err.find(c.err), std::string::npos) << result.program.err;
    EXPECT_EQ(result.program.out, "Using screen Virtual-0, resolution 320x180\n"
                                  "formats: 2 passed, 1 failed (" +
                                      std::string(c.failed) + "), 0 skipped\n");
    for (const json &line : format_lines(result)) {
        const bool hit = line["format"] == c.failed;
        EXPECT_EQ(line["result"], hit ? "fail" : "pass") << line.dump();
        EXPECT_EQ(line["verified"], !hit);
    }
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SweepPixelFault,
    testing::Values(
        SweepFaultCase{"StaleFrame", "crc-stale:0:8",
                       "handover to CRTC 0 failed its CRC check: the frame counter of CRTC 0 "
                       "does not advance",
                       "XB24"},
        SweepFaultCase{"StoppedCrtc", "crc-stop:0:7",
                       "handover to CRTC 0 failed its CRC check: CRTC 0 sent 1 CRC entry in 1 s, "
                       "not 3 (is it scanning out?)\n",
                       "XB24"},
        SweepFaultCase{"WrongPictureForTheSameColours", "crc-change:0:6",
                       ", not 0x0fac9061 as XR24 showed the same picture there (step 0)\n",
                       "XB24"},
        SweepFaultCase{"CorruptCaptureOfAYuvPicture", "wb-corrupt:2",
                       "handover to CRTC 0 failed its writeback check: the writeback capture of "
                       "CRTC 0 differs by more than 2 levels in 1 of 57600 pixels, first at "
                       "106,90: ",
                       "NV12"},
        SweepFaultCase{"FenceNeverSignals", "wb-unsignalled:1",
                       "handover to CRTC 0 failed its writeback check: the writeback fence of "
                       "CRTC 0 did not signal within 1000 ms\n",
                       "XR24"}),
    [](const auto &info) { return std::string(info.param.name); });

struct RefusalCase {
    const char *name;
    RelayRun run;
    std::string err; // after the "crtc-relay: " prefix
};

void PrintTo(const RefusalCase &c, std::ostream *os) {
    *os << c.name;
}

class PixelRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(PixelRefusal, BeforeAnyModeSetWithStatus2) {
    RefusalCase c = GetParam();
    c.run.events = {"input@99"};
    const RelayResult result = run_relay(c.run);
    EXPECT_EQ(result.program.exit_status, 2);
    std::string err = result.program.err;
    // The folder of the run differs from run to run.
    if (const size_t at = err.find("/debugfs/"); at != std::string::npos)
        err.replace(err.rfind(' ', at) + 1, at - err.rfind(' ', at) - 1, "");
    EXPECT_EQ(err, "crtc-relay: " + c.err + "\n");
    EXPECT_TRUE(result.journal.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sim, PixelRefusal,
    testing::Values(
        RefusalCase{"CrtcWithoutCrcSource",
                    {.device = "writeback-2crtc.json",
                     .options = {"--verify=crc", "--debugfs", "DEBUGFS"},
                     .pixel_faults = {"crc-none:1"}},
                    "--verify=crc: CRTC 1 has no CRC source (no /debugfs/crtc-1/crc/control): "
                    "the driver offers none"},
        RefusalCase{"NoDebugfsFolderKnown",
                    {.device = "writeback-2crtc.json", .options = {"--verify=crc"}},
                    "--verify=crc: the device is not a DRM device node, so its debugfs folder is "
                    "not known; give it with --debugfs DIR"},
        RefusalCase{"NoDebugfsFolder",
                    {.device = "writeback-2crtc.json",
                     .options = {"--verify=crc", "--debugfs", "/nonexistent/dri/0"}},
                    "--verify=crc: no debugfs folder /nonexistent/dri/0 (debugfs mounted at "
                    "/sys/kernel/debug? run as root, or give --debugfs DIR)"},
        RefusalCase{"NoWritebackConnector",
                    {.device = "hdmi-3crtc.json", .options = {"--verify=writeback"}},
                    "--verify=writeback: the device has no writeback connector"},
        RefusalCase{"WritebackInNoFormatReadBack",
                    {.device = "writeback-alpha-only.json", .options = {"--verify=writeback"}},
                    "--verify=writeback: writeback connector 36 writes only AR24 AB24, none of "
                    "XR24 XB24 RA24 that crtc-relay reads"},
        RefusalCase{"WritebackOnALegacyOnlyDevice",
                    {.device = "legacy-only.json", .options = {"--verify=writeback"}},
                    "--verify=writeback needs atomic mode setting, which this device refuses: "
                    "Operation not supported"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
