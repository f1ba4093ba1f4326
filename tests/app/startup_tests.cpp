// SPDX-License-Identifier: MIT
// crtc-relay's start-up: the operand, opening the device, enumeration, and
// every failure before scan-out, each with its message and exit status.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "relay_test_support.h"

namespace {

TEST(Startup, NoOperandPrintsUsageNamingTheProgramAsInvoked) {
    const ProgramResult result = run_program({.argv = {CRTC_RELAY_BIN}});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, std::string("usage: ") + CRTC_RELAY_BIN + " DEVICE\n");
    EXPECT_EQ(result.out, "");
}

struct BadPathCase {
    const char *name;
    std::string path;
    std::string expected_err;
};

void PrintTo(const BadPathCase &c, std::ostream *os) {
    *os << c.name;
}

class BadPath : public testing::TestWithParam<BadPathCase> {};

TEST_P(BadPath, IsReportedWithExitStatus1) {
    const ProgramResult result = run_program({.argv = {CRTC_RELAY_BIN, GetParam().path}});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.err, GetParam().expected_err);
    EXPECT_EQ(result.out, "");
}

std::string regular_file() {
    const std::string path = std::filesystem::temp_directory_path() / "crtc-relay-not-a-device";
    std::ofstream(path) << "just text\n";
    return path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, BadPath,
    testing::Values(
        BadPathCase{"Missing", "/nonexistent/card0", "open() failed: No such file or directory\n"},
        BadPathCase{"Directory", "/tmp", "open() failed: Is a directory\n"},
        // Descriptors that answer no DRM request enumerate to nothing.
        BadPathCase{"DevNull", "/dev/null", "no screens found\n"},
        BadPathCase{"RegularFile", regular_file(), "no screens found\n"},
        // A node without write access: sysfs refuses O_RDWR even to root.
        BadPathCase{"NotWritable", "/sys/kernel/notes", "open() failed: Permission denied\n"}),
    [](const testing::TestParamInfo<BadPathCase> &info) { return info.param.name; });

struct StartupFailureCase {
    const char *name;
    std::string device;
    std::vector<std::string> failures;
    std::string expected_out;
    std::string expected_err;
};

void PrintTo(const StartupFailureCase &c, std::ostream *os) {
    *os << c.name;
}

class StartupFailure : public testing::TestWithParam<StartupFailureCase> {};

TEST_P(StartupFailure, PrintsItsMessageExitsWith1AndLeavesNothingBehind) {
    const StartupFailureCase &c = GetParam();
    const RelayResult result =
        run_relay({.device = c.device, .events = {"input@60"}, .failures = c.failures});
    EXPECT_EQ(result.program.exit_status, 1);
    EXPECT_EQ(result.program.out, c.expected_out);
    EXPECT_EQ(result.program.err, c.expected_err);
    EXPECT_TRUE(result.journal.empty() || c.expected_err.starts_with("kms_screen_set"));
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

const std::string using_hdmi = "Using screen HDMI-A-0, resolution 1920x1080\n";

INSTANTIATE_TEST_SUITE_P(
    Devices, StartupFailure,
    testing::Values(
        StartupFailureCase{"NoConnectors", "no-connectors.json", {}, "", "no screens found\n"},
        StartupFailureCase{"ResourcesUnreadable",
                           "hdmi-3crtc.json",
                           {"getresources:1:EIO", "getresources:2:EIO"},
                           "",
                           "no screens found\n"},
        // Screen 0 is used even when it is disconnected; a 0x0 buffer is refused.
        StartupFailureCase{"DisconnectedFirstScreen",
                           "disconnected-first.json",
                           {},
                           "Using screen HDMI-A-0, resolution 0x0\n",
                           "kms_framebuffer_create() failed\n"},
        StartupFailureCase{"NoCrtcs",
                           "no-crtcs.json",
                           {},
                           "Using screen HDMI-A-0, resolution 640x480\n",
                           "no CRTCs found\n"},
        StartupFailureCase{"DumbBufferRefused",
                           "hdmi-3crtc.json",
                           {"createdumb:1:ENOMEM"},
                           using_hdmi,
                           "kms_framebuffer_create() failed\n"},
        StartupFailureCase{"FramebufferRefused",
                           "hdmi-3crtc.json",
                           {"addfb2:1:EINVAL"},
                           using_hdmi,
                           "kms_framebuffer_create() failed\n"},
        StartupFailureCase{"MapRequestRefused",
                           "hdmi-3crtc.json",
                           {"mapdumb:1:ENOMEM"},
                           using_hdmi,
                           "kms_framebuffer_map() failed: -12\n"},
        StartupFailureCase{"MmapRefused",
                           "hdmi-3crtc.json",
                           {"mmap:1:EACCES"},
                           using_hdmi,
                           "kms_framebuffer_map() failed: -13\n"},
        StartupFailureCase{"FirstModeSetRefused",
                           "hdmi-3crtc.json",
                           {"setcrtc:1:EACCES"},
                           using_hdmi,
                           "kms_screen_set() failed: -13\n"}),
    [](const testing::TestParamInfo<StartupFailureCase> &info) { return info.param.name; });

TEST(Startup, NamesTheFirstScreenAfterItsConnectorType) {
    const RelayResult result =
        run_relay({.device = "hdmi-3crtc.json", .stdin_kind = StdinKind::end_of_file});
    EXPECT_EQ(result.program.exit_status, 0);
    EXPECT_EQ(result.program.out, using_hdmi);
}

} // namespace
