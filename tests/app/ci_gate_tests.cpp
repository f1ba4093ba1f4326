// SPDX-License-Identifier: MIT
// crtc-relay as a CI gate: the README's recipe as CI runs it, a report that
// cannot be written, a report path that would block or destroy, text that
// is not UTF-8, and device errors, each ending with a status that says so.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "relay_test_support.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// A scratch folder of its own per test.
fs::path scratch(const std::string &name) {
    const fs::path dir = fs::temp_directory_path() /
                         ("crtc-relay-gate-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

const std::vector<std::string> ci_recipe = {"--screen", "HDMI-A-0", "--capable", "--verify",
                                            "--period", "1",        "--handovers", "10",
                                            "--report", "REPORT"};

// The README's "In CI" recipe with standard input as CI gives it: every
// handover made and the check passes; ended by timeout's SIGTERM, it fails.
TEST(CiRecipe, PassesOnlyAfterEveryHandover) {
    for (const StdinKind stdin_kind : {StdinKind::end_of_file, StdinKind::closed}) {
        for (const bool killed : {false, true}) {
            const RelayResult result = run_relay(
                {.device = "hdmi-3crtc.json",
                 .options = ci_recipe,
                 .events = {killed ? "sigterm@5.5" : "input@1"},
                 .stdin_kind = stdin_kind});
            const std::vector<json> report = parse_json_lines(read_file(result.report_path));
            ASSERT_FALSE(report.empty()) << result.program.err;
            const json &end = report.back();
            EXPECT_EQ(end.at("status") == 0, !killed) << end;
            EXPECT_EQ(result.program.exit_status, killed ? 1 : 0) << result.program.err;
            EXPECT_EQ(end.at("requested"), 10);
            EXPECT_EQ(end.at("done"), killed ? 5 : 10);
            EXPECT_EQ(end.at("reason"), killed ? "signal" : "handovers");
            EXPECT_EQ(result.journal.size(), killed ? 6u : 11u);
            EXPECT_EQ(result.journal.back().at("t"), killed ? 5.0 : 10.0);
            EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
        }
    }
}

// The report cannot be written: the run ends with status 1 and says why.
TEST(ReportFailure, FullDeviceEndsTheRunBeforeAnythingIsSet) {
    const RelayResult result = run_relay(
        {.device = "hdmi-3crtc.json", .options = {"-n", "2", "-r", "/dev/full"}, .events = {"input@60"}});
    EXPECT_EQ(result.program.exit_status, 1);
    EXPECT_EQ(result.program.err, "crtc-relay: report /dev/full: No space left on device\n");
    EXPECT_TRUE(result.journal.empty());
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

// `--report - | true`: the reader is gone by the first handover; the write
// fails with EPIPE instead of SIGPIPE killing the run before its teardown.
TEST(ReportFailure, ReaderThatLeftIsABrokenPipe) {
    const fs::path dir = scratch("pipe");
    const std::string leaks = (dir / "leaks.json").string();
    ProgramResult result = run_program(
        {.argv = {"/bin/sh", "-c",
                  "\"$@\" | true", "sh", DRMSIM_RUN,
                  "--report", leaks, "--", CRTC_RELAY_BIN, "-p", "0.3", "-n", "5", "-r", "-",
                  device_path("hdmi-3crtc.json")}});
    // The pipeline's status is true's; the program's shows in its messages
    // and in what the device saw at its close.
    EXPECT_NE(result.err.find("crtc-relay: report (standard output): Broken pipe\n"),
              std::string::npos)
        << result.err;
    const json left = json::parse(read_file(leaks));
    EXPECT_TRUE(left.at("closed")) << left;
    EXPECT_TRUE(left.at("framebuffers").empty()) << left;
}

// A report past the file-size limit: the write fails with EFBIG instead of
// SIGXFSZ killing the run; the teardown still runs.
TEST(ReportFailure, FileSizeLimitIsAWriteError) {
    const fs::path dir = scratch("fsize");
    const std::string leaks = (dir / "leaks.json").string();
    const std::string report = (dir / "report.jsonl").string();
    // 512-byte blocks: the start line alone is longer.
    ProgramResult result = run_program(
        {.argv = {"/bin/sh", "-c", "ulimit -f 1 && exec \"$@\"", "sh", DRMSIM_RUN, "--report",
                  leaks, "--", CRTC_RELAY_BIN, "-p", "0.3", "-n", "5", "-r", report,
                  device_path("hdmi-3crtc.json")}});
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "crtc-relay: report " + report + ": File too large\n");
    const json left = json::parse(read_file(leaks));
    EXPECT_TRUE(left.at("closed")) << left;
    EXPECT_TRUE(left.at("framebuffers").empty()) << left;
}

// Paths that would hang or destroy: refused with status 2 before the device
// is touched.
TEST(ReportFailure, FifoWithoutReaderOrTheDeviceItselfIsRefused) {
    const fs::path dir = scratch("paths");
    const fs::path fifo = dir / "report.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path device = dir / "device.json";
    fs::copy_file(device_path("hdmi-3crtc.json"), device);
    const std::string description = read_file(device);

    const struct {
        std::string report, err;
    } cases[] = {
        {fifo.string(), "report file '" + fifo.string() + "' for --report is a FIFO with no reader"},
        {device.string(), "report file '" + device.string() + "' for --report is the device itself"},
    };
    for (const auto &c : cases) {
        const RelayResult result =
            run_relay({.device = device.string(), .options = {"-r", c.report}, .events = {"input@6"}});
        EXPECT_EQ(result.program.exit_status, 2);
        EXPECT_EQ(result.program.err, "crtc-relay: " + c.err + "\n");
        EXPECT_TRUE(result.journal.empty());
    }
    EXPECT_EQ(read_file(device), description) << "the device description was truncated";
}

// A byte 0xff in the device path: the report writes U+FFFD, the run goes on.
TEST(Text, PathThatIsNotUtf8IsWrittenReplaced) {
    const fs::path dir = scratch("utf8");
    const fs::path device = dir / "card\xff.json";
    fs::copy_file(device_path("hdmi-3crtc.json"), device);
    const RelayResult result = run_relay(
        {.device = device.string(), .options = {"-n", "1", "-r", "REPORT"}, .events = {"input@60"}});
    EXPECT_EQ(result.program.exit_status, 0) << result.program.err;
    const std::vector<json> report = parse_json_lines(read_file(result.report_path));
    ASSERT_EQ(report.size(), 4u);
    EXPECT_EQ(report[0].at("device"), (dir / "card\xef\xbf\xbd.json").string());
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

struct DeviceErrorCase {
    const char *name;
    RelayRun run;
    std::string err;
    bool left_nothing = true;
};

void PrintTo(const DeviceErrorCase &c, std::ostream *os) {
    *os << c.name;
}

class DeviceError : public testing::TestWithParam<DeviceErrorCase> {};

// What the device answers wrongly, with options: status 1 and the request.
TEST_P(DeviceError, IsStatusOneWithItsCause) {
    const RelayResult result = run_relay(GetParam().run);
    EXPECT_EQ(result.program.exit_status, 1);
    EXPECT_EQ(result.program.err, GetParam().err);
    EXPECT_EQ(result.left_nothing_behind(), GetParam().left_nothing) << result.report.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Options, DeviceError,
    testing::Values(
        DeviceErrorCase{"ResourcesUnreadable",
                        {.device = "hdmi-3crtc.json",
                         .options = {"-n", "1"},
                         .events = {"input@60"},
                         .failures = {"getresources:1:EACCES", "getresources:2:EACCES"}},
                        "drmModeGetResources() failed: Permission denied\n"},
        DeviceErrorCase{"EncodersUnreadableForCapable",
                        {.device = "hdmi-3crtc.json",
                         .options = {"--capable"},
                         .events = {"input@60"},
                         .failures = {"getencoder:1:EACCES"}},
                        "crtc-relay: cannot read the encoders of screen HDMI-A-0 for --capable: "
                        "-13\n"},
        DeviceErrorCase{"ModesUnreadableForMode",
                        {.device = "hdmi-3crtc.json",
                         .options = {"-m", "640x480"},
                         .events = {"input@60"},
                         .failures = {"getconnector:3:EIO"}},
                        "crtc-relay: cannot read the modes of screen HDMI-A-0: -5\n"},
        // The teardown's own failures: one line each, and the status.
        DeviceErrorCase{"TeardownRefused",
                        {.device = "hdmi-3crtc.json",
                         .options = {"-n", "1"},
                         .events = {"input@60"},
                         .failures = {"rmfb:1:EIO", "destroydumb:1:EBUSY"}},
                        "crtc-relay: teardown: RMFB failed: -5\n"
                        "crtc-relay: teardown: DESTROY_DUMB failed: -16\n"
                        "drmsim: left behind: framebuffers [43], dumb buffers [1], 0 mappings\n",
                        false},
        // A first mode set refused while another client is master (the
        // kernel's master check answers EACCES, so does drmIsMaster's probe)
        DeviceErrorCase{"AnotherMasterHoldsTheDevice",
                        {.device = "hdmi-3crtc.json",
                         .options = {"-n", "1"},
                         .events = {"input@60"},
                         .failures = {"setcrtc:1:EACCES", "authmagic:1:EACCES"}},
                        "kms_screen_set() failed: -13\n"
                        "crtc-relay: the device is not ours to drive: another DRM master (such "
                        "as a running display server) holds it\n"},
        // EACCES for another reason while master: no such line
        DeviceErrorCase{"RefusedWhileMaster",
                        {.device = "hdmi-3crtc.json",
                         .options = {"-n", "1"},
                         .events = {"input@60"},
                         .failures = {"setcrtc:1:EPERM"}},
                        "kms_screen_set() failed: -1\n"}),
    [](const testing::TestParamInfo<DeviceErrorCase> &info) { return info.param.name; });

} // namespace
