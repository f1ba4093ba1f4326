// SPDX-License-Identifier: MIT
// Device descriptions: parsing, defaults and refusals, and which opens
// become simulated devices.
#include <fcntl.h>
#include <unistd.h>

#include <xf86drm.h>
#include <xf86drmMode.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "description.h"
#include "sim_test_support.h"

namespace {

namespace fs = std::filesystem;
using drmsim::DescriptionError;
using drmsim::parse_description;
using drmsim_test::SimTest;

TEST(Description, DefaultsFillEverythingIn) {
    drmsim::Description d = parse_description(R"({"crtcs": 2, "connectors": [{}]})");
    EXPECT_EQ(d.crtcs, 2u);
    ASSERT_EQ(d.connectors.size(), 1u);
    EXPECT_EQ(d.connectors[0].type, 0u);
    EXPECT_EQ(d.connectors[0].connection, 2u) << "disconnected unless said";
    EXPECT_EQ(d.connectors[0].possible_crtcs, 0b11u);
    ASSERT_EQ(d.connectors[0].encoders.size(), 1u) << "one encoder per connector";
    EXPECT_EQ(d.connectors[0].encoders[0].possible_crtcs, 0b11u);
    ASSERT_EQ(d.planes.size(), 2u) << "a primary plane per CRTC";
    EXPECT_EQ(d.planes[1].type, drmsim::PlaneType::primary);
    EXPECT_EQ(d.planes[1].possible_crtcs, 0b10u);
    EXPECT_EQ(d.planes[1].type_properties, std::vector<uint64_t>{1});
    EXPECT_EQ(d.dumb_pitch_align, 256u);
    EXPECT_TRUE(d.universal_planes_cap);
}

TEST(Description, EncodersTakeTheConnectorsMaskUnlessGiven) {
    drmsim::Description d = parse_description(R"({"crtcs": 3, "connectors": [
        {"possible_crtcs": 5, "encoders": [{"possible_crtcs": 1}, {}]}]})");
    const auto &e = d.connectors[0].encoders;
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].possible_crtcs, 0b001u);
    EXPECT_EQ(e[1].possible_crtcs, 0b101u);
}

TEST(Description, ModesFromStringsAndObjects) {
    drmsim::Description d = parse_description(R"({"crtcs": 1, "connectors": [{"modes": [
        "1280x720", "1000x700@50",
        {"hdisplay": 800, "vdisplay": 600, "clock": 0, "name": "broken"}]}]})");
    const auto &m = d.connectors[0].modes;
    ASSERT_EQ(m.size(), 3u);
    EXPECT_STREQ(m[0].name, "1280x720");
    EXPECT_EQ(m[0].clock, 74250u);
    EXPECT_EQ(m[0].htotal, 1650);
    EXPECT_EQ(m[0].vrefresh, 60u);
    EXPECT_TRUE(m[0].type & DRM_MODE_TYPE_PREFERRED);
    // Generated timings stay ordered and give the asked refresh rate.
    EXPECT_EQ(m[1].hdisplay, 1000);
    EXPECT_LT(m[1].hdisplay, m[1].hsync_start);
    EXPECT_LT(m[1].hsync_end, m[1].htotal);
    EXPECT_LT(m[1].vsync_end, m[1].vtotal);
    EXPECT_EQ(m[1].vrefresh, 50u);
    EXPECT_NEAR(double(m[1].clock) * 1000 / (double(m[1].htotal) * m[1].vtotal), 50.0, 0.1);
    EXPECT_STREQ(m[2].name, "broken");
    EXPECT_EQ(m[2].clock, 0u) << "invalid timings are kept for SETCRTC to refuse";
}

TEST(Description, ConnectorTypesByNameOrNumber) {
    drmsim::Description d = parse_description(R"({"connectors": [
        {"type": "DisplayPort"}, {"type": "DP"}, {"type": "eDP"}, {"type": 42}, {"type": "9PinDIN"}]})");
    EXPECT_EQ(d.connectors[0].type, uint32_t(DRM_MODE_CONNECTOR_DisplayPort));
    EXPECT_EQ(d.connectors[1].type, uint32_t(DRM_MODE_CONNECTOR_DisplayPort));
    EXPECT_EQ(d.connectors[2].type, uint32_t(DRM_MODE_CONNECTOR_eDP));
    EXPECT_EQ(d.connectors[3].type, 42u);
    EXPECT_EQ(d.connectors[4].type, uint32_t(DRM_MODE_CONNECTOR_9PinDIN));
    EXPECT_EQ(drmsim::connector_type_name(11), "HDMI-A");
    EXPECT_EQ(drmsim::connector_type_name(42), "Unknown42");
}

struct BadCase {
    const char *name;
    const char *json;
    const char *reason; // part of the message
};

// Shown by gtest (and in the test names CTest lists) instead of raw bytes.
void PrintTo(const BadCase &c, std::ostream *os) {
    *os << c.name;
}

class BadDescriptionTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadDescriptionTest, IsRefusedWithAReason) {
    try {
        parse_description(GetParam().json);
        ADD_FAILURE() << "accepted";
    } catch (const DescriptionError &e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().reason), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, BadDescriptionTest,
    ::testing::Values(
        BadCase{"not_json", "{crtcs: 1", "line 1: not valid JSON: syntax error"},
        BadCase{"not_json_on_line_3", "{\n  \"crtcs\": 1,\n  \"connectors\": [}\n}",
                "line 3: not valid JSON: syntax error"},
        BadCase{"cut_short", "// two CRTCs\n{\"crtcs\": 2,\n", "line 3: not valid JSON"},
        BadCase{"not_an_object", "[1]", "JSON object"},
        BadCase{"unknown_key", R"({"crtc": 1})", "unknown key \"crtc\""},
        BadCase{"negative_crtcs", R"({"crtcs": -1})", "non-negative"},
        BadCase{"too_many_crtcs", R"({"crtcs": 33})", "too large"},
        BadCase{"number_beyond_a_double", R"({"crtcs": 1e309})", "too large for a description: 1e309"},
        BadCase{"negative_beyond_a_double", R"({"connectors": [{"modes": [{"clock": -1e400}]}]})",
                "too large for a description: -1e400"},
        BadCase{"bad_connector_type", R"({"connectors": [{"type": "HDMI"}]})",
                "unknown connector type"},
        BadCase{"bad_mode", R"({"connectors": [{"modes": ["1920*1080"]}]})", "WIDTHxHEIGHT"},
        BadCase{"bad_plane_type", R"({"crtcs": 1, "planes": [{"type": "sprite"}]})", "primary"},
        BadCase{"plane_on_missing_crtc", R"({"crtcs": 1, "planes": [{"crtc": 1}]})", "no CRTC"},
        BadCase{"bad_format", R"({"crtcs": 1, "planes": [{"formats": ["XR2"]}]})",
                "four-character"},
        BadCase{"zero_pitch_align", R"({"dumb_pitch_align": 0})", "at least 1"},
        BadCase{"no_encoders", R"({"connectors": [{"encoders": []}]})", "non-empty array"},
        BadCase{"no_writeback_formats",
                R"({"connectors": [{"type": "Writeback", "writeback_formats": []}]})",
                "connectors[0].writeback_formats: expected a non-empty array"},
        BadCase{"encoder_not_an_object", R"({"connectors": [{"encoders": [5]}]})",
                "connectors[0].encoders[0]: expected an object"},
        BadCase{"unknown_encoder_key", R"({"connectors": [{"encoders": [{"crtcs": 1}]}]})",
                "unknown key \"crtcs\""}),
    [](const auto &info) { return std::string(info.param.name); });

class OpenTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/drmsim-open-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        fs::remove_all(dir_);
        SimTest::TearDown();
    }
    std::string write(const std::string &name, const std::string &text) {
        std::ofstream(dir_ / name) << text;
        return dir_ / name;
    }
    fs::path dir_;
};

// An open() of a description is answered by the model; other files, and
// descriptions opened for anything but read-write, stay ordinary files.
TEST_F(OpenTest, OnlyReadWriteOpensOfDescriptionsBecomeDevices) {
    const std::string device = write("dev.json", R"({"crtcs": 1})");
    const std::string other = write("settings.json", R"({"name": "not a device"})");

    int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    drmModeRes *res = drmModeGetResources(fd);
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(res->count_crtcs, 1);
    drmModeFreeResources(res);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    int fd2 = openat(AT_FDCWD, device.c_str(), O_RDWR);
    ASSERT_GE(fd2, 0);
    EXPECT_NE(fd2, fd) << "each open is a distinct descriptor";
    EXPECT_TRUE(drmsim::leaks(fd2).clean());
    close(fd2);
    close(fd);

    for (auto [path, flags] : {std::pair{other, O_RDWR}, std::pair{device, O_RDONLY}}) {
        int plain = open(path.c_str(), flags);
        ASSERT_GE(plain, 0);
        EXPECT_EQ(drmModeGetResources(plain), nullptr);
        EXPECT_EQ(errno, ENOTTY) << "a regular file answers no DRM ioctl";
        char c = 0;
        EXPECT_EQ(read(plain, &c, 1), 1) << "and reads as the file it is";
        EXPECT_EQ(c, '{');
        close(plain);
    }
}

TEST_F(OpenTest, InvalidDescriptionFailsTheOpen) {
    const std::string path = write("bad.json", R"({"crtcs": 1, "connectors": [{"type": "nope"}]})");
    testing::internal::CaptureStderr();
    EXPECT_EQ(open(path.c_str(), O_RDWR), -1);
    EXPECT_EQ(errno, EINVAL);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("unknown connector type \"nope\""), std::string::npos) << err;
}

// Text that is not JSON but opens an object means to be a description: the
// typo is reported rather than the file passing for an ordinary one. Text
// that does not start with '{' (after blanks and comments) is left alone.
TEST_F(OpenTest, MalformedDescriptionFailsTheOpenAndOtherTextPassesThrough) {
    const struct {
        const char *name, *text, *message; // message null: an ordinary file
    } cases[] = {
        {"typo.json", "{\"crtcs\": 1,\n \"connectors\": [}\n", "line 2: not valid JSON: "},
        {"indented.json", "\xEF\xBB\xBF\n\n  \t{\"crtcs\" 1}", "line 3: not valid JSON: "},
        {"commented.json", "// mine\n/* two\n CRTCs */ {\"crtcs\": 2,}",
         "line 3: not valid JSON: "},
        {"notes.json", "crtcs: 1\n", nullptr},
        {"list.json", "[1, 2", nullptr},
        {"empty.json", "", nullptr},
        {"only-comment.json", "// {\"crtcs\": 1", nullptr},
        {"open-comment.json", "/* {\"crtcs\": 1", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c.name, c.text);
        testing::internal::CaptureStderr();
        errno = 0;
        const int fd = open(path.c_str(), O_RDWR);
        const int open_errno = errno;
        const std::string err = testing::internal::GetCapturedStderr();
        if (c.message) {
            EXPECT_EQ(fd, -1);
            EXPECT_EQ(open_errno, EINVAL);
            EXPECT_EQ(err.rfind("drmsim: " + path + ": " + c.message, 0), 0u) << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        } else {
            ASSERT_GE(fd, 0) << std::strerror(open_errno);
            EXPECT_EQ(err, "");
            EXPECT_EQ(drmModeGetResources(fd), nullptr);
            EXPECT_EQ(errno, ENOTTY) << "an ordinary file answers no DRM ioctl";
            close(fd);
        }
    }
}

// Each opens as one descriptor, the lowest free one as open(2) gives: the
// description is read without keeping another.
TEST_F(SimTest, EveryShippedDeviceOpens) {
    for (const auto &entry : fs::directory_iterator(DRMSIM_DEVICES_DIR)) {
        if (entry.path().extension() != ".json")
            continue;
        const int lowest = dup(0);
        close(lowest);
        int fd = open(entry.path().c_str(), O_RDWR);
        EXPECT_EQ(fd, lowest) << entry.path();
        drmModeRes *res = drmModeGetResources(fd);
        EXPECT_NE(res, nullptr) << entry.path();
        drmModeFreeResources(res);
        close(fd);
    }
}

} // namespace
