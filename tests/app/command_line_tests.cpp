// SPDX-License-Identifier: MIT
// crtc-relay's command line: --help, --version, the missing operand, and
// every refusal with its one-line message and status 2, before the device
// is touched or, for choices only the device can judge, with nothing set.

#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "relay_test_support.h"

namespace {

TEST(CommandLine, HelpListsEveryOptionOnStdout) {
    for (const char *flag : {"--help", "-h"}) {
        const ProgramResult result = run_program({.argv = {CRTC_RELAY_BIN, "-V", flag}});
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(
            result.out.rfind(std::string("usage: ") + CRTC_RELAY_BIN + " [OPTION...] DEVICE\n", 0),
            0u)
            << result.out;
        for (const char *option : {"-h, --help", "--version", "-l, --list", "-s, --screen",
                                   "-m, --mode", "-p, --period", "-n, --handovers", "-c, --crtcs",
                                   "--capable", "-V, --verify", "-r, --report", "--atomic",
                                   "--pattern NAME", "--format NAME", "--formats all|LIST"})
            EXPECT_NE(result.out.find(option), std::string::npos) << option;
    }
}

TEST(CommandLine, VersionComesFromTheProject) {
    const ProgramResult result = run_program({.argv = {CRTC_RELAY_BIN, "--version"}});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, std::string("crtc-relay ") + CRTC_RELAY_VERSION + "\n");
    EXPECT_EQ(result.err, "");
}

TEST(CommandLine, MissingOperandAfterOptionsKeepsTheUsageLine) {
    const ProgramResult result = run_program({.argv = {CRTC_RELAY_BIN, "-V", "-n", "3"}});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, std::string("usage: ") + CRTC_RELAY_BIN + " DEVICE\n");
    EXPECT_EQ(result.out, "");
}

TEST(CommandLine, DoubleDashEndsTheOptions) {
    const ProgramResult result = run_program({.argv = {CRTC_RELAY_BIN, "--", "-card0"}});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "open() failed: No such file or directory\n");
}

// An unknown option is answered with every option --help describes, each
// as "-s/--screen" or "--capable".
TEST(CommandLine, UnknownOptionListsTheOptionsOfTheHelp) {
    std::istringstream help(run_program({.argv = {CRTC_RELAY_BIN, "--help"}}).out);
    std::set<std::string> described;
    std::string line;
    std::smatch m;
    while (std::getline(help, line))
        if (std::regex_search(line, m, std::regex("^  (?:(-.), )? *(--[a-z][a-z-]*)")))
            described.insert((m[1].matched ? m[1].str() + "/" : "") + m[2].str());
    for (const auto &[argument, named] :
         {std::pair{"-x", "-x"}, std::pair{"--frobnicate=1", "--frobnicate"}}) {
        const ProgramResult result =
            run_program({.argv = {CRTC_RELAY_BIN, argument, "/nonexistent/card0"}});
        EXPECT_EQ(result.exit_status, 2);
        const std::string head =
            std::string("crtc-relay: unknown option '") + named + "'; valid options: ";
        ASSERT_EQ(result.err.rfind(head, 0), 0u) << result.err;
        std::set<std::string> listed;
        std::istringstream list(result.err.substr(head.size()));
        for (std::string name; std::getline(list >> std::ws, name, ',');)
            listed.insert(name.substr(0, name.find('\n')));
        EXPECT_EQ(listed, described);
    }
}

struct RefusalCase {
    const char *name;
    std::vector<std::string> args; // before the operand
    std::string err;               // after "crtc-relay: "
    bool operand = true;           // false: the args end the command line
};

void PrintTo(const RefusalCase &c, std::ostream *os) {
    *os << c.name;
}

class Refusal : public testing::TestWithParam<RefusalCase> {};

// Refused before the device is opened: the operand does not even exist.
TEST_P(Refusal, NamesTheOptionAndWhatIsValid) {
    std::vector<std::string> argv{CRTC_RELAY_BIN};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    if (GetParam().operand)
        argv.push_back("/nonexistent/card0");
    const ProgramResult result = run_program({.argv = argv});
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_EQ(result.err, "crtc-relay: " + GetParam().err);
    EXPECT_EQ(result.out, "");
}

const std::string bad_period =
    ": expected decimal seconds above 0 and at most 86400, such as 5 or 0.5\n";
const std::string bad_mode = ": expected WxH or WxH@HZ in decimal, such as 1920x1080@60 "
                             "(1920x1080i@60 interlaced, 640x480d@60 doublescan)\n";
const std::string bad_list = ": expected decimal CRTC indices separated by commas, such as 2,0,1\n";
const std::string bad_count = ": expected a decimal number of handovers, 0 to 4294967295\n";

INSTANTIATE_TEST_SUITE_P(
    Options, Refusal,
    testing::Values(
        RefusalCase{"MissingLongValue",
                    {"--period"},
                    "option --period needs a value (see --help)\n",
                    false},
        RefusalCase{
            "MissingShortValue", {"-V", "-n"}, "option -n needs a value (see --help)\n", false},
        RefusalCase{
            "ModeWithoutX", {"--mode", "1920*1080"}, "bad mode '1920*1080' for --mode" + bad_mode},
        RefusalCase{"ModeOfZeroWidth", {"-m", "0x480"}, "bad mode '0x480' for -m" + bad_mode},
        RefusalCase{"ModeAtZeroHz", {"-m", "640x480@0"}, "bad mode '640x480@0' for -m" + bad_mode},
        RefusalCase{"ModeOfZeroHeight", {"-m", "640x0"}, "bad mode '640x0' for -m" + bad_mode},
        RefusalCase{"ModeTooWide", {"-m", "65536x480"}, "bad mode '65536x480' for -m" + bad_mode},
        RefusalCase{"ModeTooTall", {"-m", "640x65536"}, "bad mode '640x65536' for -m" + bad_mode},
        RefusalCase{
            "ModeAbove1000Hz", {"-m", "640x480@1001"}, "bad mode '640x480@1001' for -m" + bad_mode},
        RefusalCase{"CrtcIndexAbove31",
                    {"-c", "0,32"},
                    "CRTC index 32 for -c is out of range: indices run from 0 to 31\n"},
        RefusalCase{"PeriodOneNanosecondOverADay",
                    {"-p", "86400.000000001"},
                    "bad period '86400.000000001' for -p" + bad_period},
        RefusalCase{"PeriodZero", {"-p", "0"}, "bad period '0' for -p" + bad_period},
        RefusalCase{"AmbiguousAbbreviation",
                    {"--ver"},
                    "option '--ver' is ambiguous; it could be --version, --verify, --verify-timeout\n"},
        RefusalCase{"ValueForAFlag", {"--atomic=1"}, "option --atomic takes no value ('--atomic=1')\n"},
        RefusalCase{"ListWithARunOption",
                    {"--list", "--verify"},
                    "--list takes only --screen and --json, not --verify\n"},
        RefusalCase{"JsonWithoutList", {"--json"}, "--json is a form of --list; give --list --json\n"},
        RefusalCase{"PeriodNegative", {"--period=-1"}, "bad period '-1' for --period" + bad_period},
        RefusalCase{"PeriodExponent", {"-p", "1e3"}, "bad period '1e3' for -p" + bad_period},
        RefusalCase{"PeriodBareDot", {"-p", "5."}, "bad period '5.' for -p" + bad_period},
        RefusalCase{"PeriodTooFine",
                    {"-p", "0.0000000001"},
                    "bad period '0.0000000001' for -p" + bad_period},
        RefusalCase{
            "PeriodOverADay", {"-p", "86400.5"}, "bad period '86400.5' for -p" + bad_period},
        RefusalCase{"HandoversNegative", {"-n", "-1"}, "bad count '-1' for -n" + bad_count},
        RefusalCase{"HandoversTooMany",
                    {"--handovers", "4294967296"},
                    "bad count '4294967296' for --handovers" + bad_count},
        RefusalCase{"CrtcListEmptyEntry", {"-c", "1,,2"}, "bad CRTC list '1,,2' for -c" + bad_list},
        RefusalCase{
            "CrtcListWord", {"--crtcs", "first"}, "bad CRTC list 'first' for --crtcs" + bad_list},
        RefusalCase{"EmptyScreen",
                    {"-s", ""},
                    "empty screen for -s; give a name or an index (--list shows them)\n"},
        RefusalCase{"EmptyReportName",
                    {"-r", ""},
                    "empty file name for -r; give a file, or - for standard output\n"},
        RefusalCase{"UnwritableReport",
                    {"-r", "/nonexistent/report.jsonl"},
                    "cannot open report file '/nonexistent/report.jsonl' for --report: No such "
                    "file or directory\n"},
        RefusalCase{"UnknownPattern",
                    {"--pattern", "bars"},
                    "unknown pattern 'bars' for --pattern; valid patterns: tiles, plain, smpte, "
                    "gradient\n"},
        RefusalCase{"EmptyFormat",
                    {"--format="},
                    "empty format for --format; give a name such as XR24 (--list shows each "
                    "plane's)\n"},
        RefusalCase{"FormatListEmptyEntry",
                    {"--formats", "XR24,,NV12"},
                    "bad format list 'XR24,,NV12' for --formats: expected all, or format names "
                    "separated by commas, such as XR24,RG16,NV12\n"},
        RefusalCase{"FormatAndFormats",
                    {"--format", "XR24", "--formats", "all"},
                    "--format and --formats exclude each other; --formats shows each format in "
                    "turn\n"},
        RefusalCase{"FormatsWithHandovers",
                    {"--formats", "all", "-n", "2"},
                    "--formats shows each format on the first CRTC and hands nothing over; it "
                    "takes no --handovers\n"},
        RefusalCase{"UnknownPlane",
                    {"--plane", "overlay:x"},
                    "bad plane 'overlay:x' for --plane: expected primary, overlay, overlay:K, "
                    "cursor or a plane index (--list shows them)\n"},
        RefusalCase{"PlanePositionWithoutY",
                    {"--plane", "cursor", "--plane-pos", "10"},
                    "bad position '10' for --plane-pos: expected X,Y in decimal pixels, -65535 "
                    "to 65535, such as 100,50\n"},
        RefusalCase{"PlaneSizeWithRate",
                    {"--plane", "1", "--plane-size", "64x64@60"},
                    "bad size '64x64@60' for --plane-size: expected WxH in decimal pixels, such "
                    "as 256x128\n"},
        RefusalCase{"PlacingThePrimaryPlane",
                    {"--plane-pos", "5,5"},
                    "--plane-pos and --plane-size place an overlay or cursor plane; give "
                    "--plane as well\n"},
        RefusalCase{"OptionAfterTheDevice",
                    {"/dev/dri/card0", "-V"},
                    "unexpected operand '-V' after the device '/dev/dri/card0'; "
                    "options come before the device\n"}),
    [](const testing::TestParamInfo<RefusalCase> &info) { return info.param.name; });

struct DeviceRefusalCase {
    const char *name;
    RelayRun run;
    std::string err; // after "crtc-relay: "
};

void PrintTo(const DeviceRefusalCase &c, std::ostream *os) {
    *os << c.name;
}

class DeviceRefusal : public testing::TestWithParam<DeviceRefusalCase> {};

// Refused once the device is open and enumerated: nothing is set and
// nothing is left behind.
TEST_P(DeviceRefusal, ListsWhatTheDeviceHas) {
    const RelayResult result = run_relay(GetParam().run);
    EXPECT_EQ(result.program.exit_status, 2);
    EXPECT_EQ(result.program.err, "crtc-relay: " + GetParam().err);
    EXPECT_EQ(result.program.out, "");
    EXPECT_TRUE(result.journal.empty());
    EXPECT_TRUE(result.left_nothing_behind()) << result.report.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Choices, DeviceRefusal,
    testing::Values(
        DeviceRefusalCase{"UnknownScreenName",
                          {.device = "three-screens.json", .options = {"-s", "HDMI-A-3"}},
                          "unknown screen 'HDMI-A-3' for --screen; screens: 0 HDMI-A-0 "
                          "(HDMI-A-1, id 39, connected, 640x480@60); 1 HDMI-A-1 (HDMI-A-2, id "
                          "40, disconnected, no modes); 2 DisplayPort-0 (DP-1, id 41, "
                          "connected, 800x600@60); 3 Unknown-0 (Unknown-1, id 42, "
                          "disconnected, no modes)\n"},
        // Our names count from 0, the kernel's from 1.
        DeviceRefusalCase{"ScreenNameMeaningTwoScreens",
                          {.device = "three-screens.json", .options = {"-s", "HDMI-A-1"}},
                          "screen 'HDMI-A-1' for --screen is ambiguous: HDMI-A-1 (connector id "
                          "40), or HDMI-A-0 (connector id 39) as the kernel names it; give the "
                          "connector id\n"},
        DeviceRefusalCase{"ScreenIndexPastTheEnd",
                          {.device = "hdmi-3crtc.json", .options = {"--screen", "2"}},
                          "unknown screen '2' for --screen; screens: 0 HDMI-A-0 (HDMI-A-1, id "
                          "41, connected, 1920x1080@60); 1 DisplayPort-0 (DP-1, id 42, "
                          "disconnected, no modes)\n"},
        DeviceRefusalCase{"UnknownMode",
                          {.device = "hdmi-3crtc.json", .options = {"-m", "800x600"}},
                          "unknown mode '800x600' for --mode on screen HDMI-A-0; its modes: "
                          "1920x1080@60, 1280x720@60, 640x480@60\n"},
        DeviceRefusalCase{"UnknownRefreshRate",
                          {.device = "hdmi-3crtc.json", .options = {"-m", "1280x720@50"}},
                          "unknown mode '1280x720@50' for --mode on screen HDMI-A-0; its modes: "
                          "1920x1080@60, 1280x720@60, 640x480@60\n"},
        DeviceRefusalCase{
            "ScreenWithoutModes",
            {.device = "hdmi-3crtc.json", .options = {"-s", "DisplayPort-0", "-m", "640x480"}},
            "screen DisplayPort-0 has no modes; screens with modes: 0 HDMI-A-0 (--screen "
            "chooses)\n"},
        // The largest values the options take reach the device.
        DeviceRefusalCase{"LargestModeAsked",
                          {.device = "hdmi-3crtc.json", .options = {"-m", "65535x65535@1000"}},
                          "unknown mode '65535x65535@1000' for --mode on screen HDMI-A-0; its "
                          "modes: 1920x1080@60, 1280x720@60, 640x480@60\n"},
        DeviceRefusalCase{"ModeLargerThanTheDevicesFramebuffers",
                          {.device = "one-primary-plane.json", .options = {"-m", "1920x1080"}},
                          "mode 1920x1080@60 of screen HDMI-A-0 is larger than the device's "
                          "largest framebuffer, 1280x720 (--mode chooses another)\n"},
        DeviceRefusalCase{"LargestCrtcIndex",
                          {.device = "hdmi-3crtc.json", .options = {"-c", "31"}},
                          "no CRTC 31 for --crtcs; the device has 3 (indices 0 to 2)\n"},
        DeviceRefusalCase{"CrtcIndexPastTheEnd",
                          {.device = "hdmi-3crtc.json", .options = {"-c", "0,3"}},
                          "no CRTC 3 for --crtcs; the device has 3 (indices 0 to 2)\n"},
        DeviceRefusalCase{
            "CapableLeavesNone",
            {.device = "crtc1-cannot-drive.json", .options = {"--crtcs", "1", "--capable"}},
            "--capable: CRTC 1 in --crtcs cannot drive screen HDMI-A-0; the encoders of "
            "screen HDMI-A-0 can be fed by CRTCs 0, 2\n"},
        DeviceRefusalCase{"FormatThePlaneLacks",
                          {.device = "hdmi-3crtc.json", .options = {"--format", "NV12"}},
                          "CRTC 0: format 'NV12' is not one the plane (id 31) lists and the "
                          "generator draws; valid formats: XR24, AR24, XB24, AB24, RA24, RX24, "
                          "RG16\n"},
        DeviceRefusalCase{"FormatNoGeneratorName",
                          {.device = "hdmi-3crtc.json", .options = {"--format", "xr24"}},
                          "CRTC 0: format 'xr24' is not one the plane (id 31) lists and the "
                          "generator draws; valid formats: XR24, AR24, XB24, AB24, RA24, RX24, "
                          "RG16\n"},
        DeviceRefusalCase{"SecondOverlayMissing",
                          {.device = "every-format.json", .options = {"--plane", "overlay:1"}},
                          "no overlay plane 1 for --plane; the device has 1\n"},
        DeviceRefusalCase{"CursorCannotFollowTheScreen",
                          {.device = "every-format.json", .options = {"--plane", "cursor"}},
                          "CRTC 1 has no cursor plane for --plane (plane id 34 cannot sit on "
                          "it); --capable leaves such CRTCs out\n"},
        DeviceRefusalCase{"PlaneIndexOfAPrimary",
                          {.device = "every-format.json", .options = {"--plane", "1"}},
                          "plane 1 is a primary plane; --plane primary shows the pattern on the "
                          "primary planes\n"},
        DeviceRefusalCase{"SweptFormatThePlaneLacks",
                          {.device = "rg16-only.json", .options = {"--formats", "RG16,XR24"}},
                          "format 'XR24' is not one the plane (id 31) lists and the generator "
                          "draws; valid formats: RG16, XB24\n"}),
    [](const testing::TestParamInfo<DeviceRefusalCase> &info) { return info.param.name; });

} // namespace
