// SPDX-License-Identifier: MIT
// What the device writes for people and scripts: the journal, the leak
// report, snapshots and the verbose account.
#include <fcntl.h>
#include <png.h>
#include <sys/mman.h>

#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim_test_support.h"

namespace {

namespace fs = std::filesystem;
using drmsim_test::Device;
using drmsim_test::SimTest;

class OutputsTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/drmsim-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        drmsim::set_journal_file("");
        drmsim::set_report_file("");
        drmsim::set_snapshot_dir("");
        drmsim::set_verbose(false);
        fs::remove_all(dir_);
        SimTest::TearDown();
    }
    fs::path dir_;
};

// A 640x480 XR24 framebuffer of one colour, mapped while filled.
struct Scene {
    int fd;
    uint32_t handle = 0, fb = 0;
    uint64_t size = 0;
    uint8_t *map = nullptr;
    drmModeModeInfo mode{};

    Scene(int fd_, uint32_t rgb) : fd(fd_) {
        drm_mode_create_dumb c{};
        c.width = 640;
        c.height = 480;
        c.bpp = 32;
        if (drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &c))
            return;
        handle = c.handle;
        size = c.size;
        drm_mode_map_dumb m{};
        m.handle = handle;
        if (drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &m))
            return;
        void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, off_t(m.offset));
        if (p == MAP_FAILED)
            return;
        map = static_cast<uint8_t *>(p);
        for (size_t i = 0; i + 3 < size; i += 4)
            map[i] = uint8_t(rgb), map[i + 1] = uint8_t(rgb >> 8), map[i + 2] = uint8_t(rgb >> 16),
            map[i + 3] = 0;
        uint32_t handles[4] = {handle}, pitches[4] = {c.pitch}, offsets[4] = {};
        drmModeAddFB2(fd, 640, 480, DRM_FORMAT_XRGB8888, handles, pitches, offsets, &fb, 0);
        drmModeConnector *con = drmModeGetConnector(fd, drmsim::connector_id(fd, 0));
        if (con && con->count_modes)
            mode = con->modes[0];
        drmModeFreeConnector(con);
    }
    int show(unsigned crtc) {
        uint32_t con = drmsim::connector_id(fd, 0);
        return drmModeSetCrtc(fd, drmsim::crtc_id(fd, crtc), fb, 0, 0, &con, 1, &mode);
    }
    void release() {
        if (map)
            munmap(map, size);
        map = nullptr;
        drmModeRmFB(fd, fb);
        drm_mode_destroy_dumb d{};
        d.handle = handle;
        drmIoctl(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &d);
    }
};

std::string read_text(const fs::path &p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Reads an 8-bit RGB PNG; width 0 when it cannot.
struct Png {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};
Png read_png(const fs::path &path) {
    Png out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return out;
    image.format = PNG_FORMAT_RGB;
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr))
        return out;
    out.width = image.width;
    out.height = image.height;
    return out;
}

// Mirrors the kernel's release of a closed file: what the file still held
// is reported, then its framebuffers are removed.
TEST_F(OutputsTest, LeakReportAtCloseNamesWhatWasLeftBehind) {
    const fs::path report = dir_ / "report.json";
    drmsim::set_report_file(report);
    int fd = drmsim::open_device_file(drmsim_test::device_path("small-3crtc.json"));
    ASSERT_GE(fd, 0);
    Scene scene(fd, 0x0000ff);
    ASSERT_NE(scene.fb, 0u);
    ASSERT_EQ(scene.show(0), 0);
    drmsim::LeakReport open_now = drmsim::leaks(fd);
    EXPECT_FALSE(open_now.closed);
    EXPECT_FALSE(open_now.clean());

    testing::internal::CaptureStderr();
    ASSERT_EQ(close(fd), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("drmsim: left behind: framebuffers [" + std::to_string(scene.fb) + "]"),
              std::string::npos)
        << err;

    drmsim::LeakReport r = drmsim::leaks(fd);
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(r.framebuffers, std::vector<uint32_t>{scene.fb});
    EXPECT_EQ(r.dumb_buffers, std::vector<uint32_t>{scene.handle});
    EXPECT_EQ(r.mappings, 1u);
    auto j = nlohmann::json::parse(read_text(report));
    EXPECT_EQ(j, (nlohmann::json{{"closed", true},
                                 {"framebuffers", {scene.fb}},
                                 {"dumb_buffers", {scene.handle}},
                                 {"mappings", 1},
                                 {"blobs", nlohmann::json::array()}}));
    munmap(scene.map, scene.size); // the mapping outlives the descriptor, as in the kernel
}

TEST_F(OutputsTest, CleanTeardownLeavesNothingBehind) {
    const fs::path report = dir_ / "report.json";
    drmsim::set_report_file(report);
    int fd = drmsim::open_device_file(drmsim_test::device_path("small-3crtc.json"));
    ASSERT_GE(fd, 0);
    Scene scene(fd, 0x0000ff);
    ASSERT_EQ(scene.show(0), 0);
    scene.release();
    testing::internal::CaptureStderr();
    ASSERT_EQ(close(fd), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(drmsim::leaks(fd).closed);
    EXPECT_TRUE(drmsim::leaks(fd).clean());
    EXPECT_EQ(nlohmann::json::parse(read_text(report)),
              (nlohmann::json{{"closed", true},
                              {"framebuffers", nlohmann::json::array()},
                              {"dumb_buffers", nlohmann::json::array()},
                              {"mappings", 0},
                              {"blobs", nlohmann::json::array()}}));
}

TEST_F(SimTest, LeaksOfANeverSimulatedDescriptorAreRefused) {
    EXPECT_THROW(drmsim::leaks(12345), std::invalid_argument);
}

TEST_F(OutputsTest, JournalFileHasOneJsonLinePerModeSet) {
    const fs::path journal = dir_ / "journal.jsonl";
    drmsim::set_journal_file(journal);
    Device dev("small-3crtc.json");
    Scene scene(dev.fd(), 0xffffff);
    ASSERT_EQ(scene.show(0), 0);
    uint32_t con = drmsim::connector_id(dev.fd(), 0);
    ASSERT_EQ(drmModeSetCrtc(dev.fd(), 4242, scene.fb, 0, 0, &con, 1, &scene.mode), -ENOENT);
    ASSERT_EQ(drmModeSetPlane(dev.fd(), drmsim::plane_id(dev.fd(), 3), drmsim::crtc_id(dev.fd(), 0),
                              scene.fb, 0, 5, 6, 640, 480, 0, 0, 640 << 16, 480 << 16),
              0);
    scene.release();

    std::ifstream in(journal);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 3u);
    const nlohmann::json &set = lines[0];
    EXPECT_EQ(set["request"], "SETCRTC");
    EXPECT_EQ(set["crtc"], drmsim::crtc_id(dev.fd(), 0));
    EXPECT_EQ(set["crtc_index"], 0);
    EXPECT_EQ(set["fb"], scene.fb);
    EXPECT_EQ(set["connectors"], nlohmann::json::array({con}));
    EXPECT_EQ(set["connector_indices"], nlohmann::json::array({0}));
    EXPECT_EQ(set["mode"],
              (nlohmann::json{{"name", "640x480"}, {"hdisplay", 640}, {"vdisplay", 480}}));
    EXPECT_EQ(set["result"], 0);
    EXPECT_TRUE(set["t"].is_number());
    EXPECT_EQ(lines[1]["crtc_index"], -1);
    EXPECT_EQ(lines[1]["result"], -ENOENT);
    EXPECT_EQ(lines[2]["request"], "SETPLANE");
    EXPECT_EQ(lines[2]["plane_index"], 3);
    EXPECT_EQ(lines[2]["src"], nlohmann::json::array({0, 0, 640 << 16, 480 << 16}));
    EXPECT_EQ(lines[2]["dst"], nlohmann::json::array({5, 6, 640, 480}));
}

// The outputs keep no descriptor open: one could take the number of a
// descriptor the program closed (its stdin) and change what a wait on it
// reports.
TEST_F(OutputsTest, OutputsKeepNoDescriptorOpen) {
    drmsim::set_journal_file(dir_ / "journal.jsonl");
    drmsim::set_snapshot_dir(dir_);
    Device dev("small-3crtc.json");
    Scene scene(dev.fd(), 0xffffff);
    const int saved_stdin = dup(0);
    ASSERT_GE(saved_stdin, 0);
    close(0);
    const int shown = scene.show(0);
    const bool stdin_still_closed = fcntl(0, F_GETFD) == -1 && errno == EBADF;
    dup2(saved_stdin, 0);
    close(saved_stdin);
    EXPECT_EQ(shown, 0);
    EXPECT_TRUE(stdin_still_closed);
    EXPECT_TRUE(fs::exists(dir_ / "crtc-0.png"));
    EXPECT_GT(fs::file_size(dir_ / "journal.jsonl"), 0u);
    scene.release();
}

TEST_F(OutputsTest, SnapshotsShowWhatEachCrtcScansOut) {
    drmsim::set_snapshot_dir(dir_);
    Device dev("small-3crtc.json");
    Scene scene(dev.fd(), 0x204080);
    ASSERT_EQ(scene.show(0), 0);
    Png first = read_png(dir_ / "crtc-0.png");
    ASSERT_EQ(first.width, 640u);
    ASSERT_EQ(first.height, 480u);
    EXPECT_EQ(first.rgb[0], 0x20);
    EXPECT_EQ(first.rgb[1], 0x40);
    EXPECT_EQ(first.rgb[2], 0x80);

    // CRTC 0 loses its screen to CRTC 2: only CRTC 2 gets a new picture.
    fs::remove(dir_ / "crtc-0.png");
    ASSERT_EQ(scene.show(2), 0);
    EXPECT_FALSE(fs::exists(dir_ / "crtc-0.png"));
    EXPECT_EQ(read_png(dir_ / "crtc-2.png").width, 640u);

    // A refused call writes nothing.
    fs::remove(dir_ / "crtc-2.png");
    drmModeModeInfo bad = scene.mode;
    bad.clock = 0;
    uint32_t con = drmsim::connector_id(dev.fd(), 0);
    EXPECT_NE(drmModeSetCrtc(dev.fd(), drmsim::crtc_id(dev.fd(), 2), scene.fb, 0, 0, &con, 1, &bad),
              0);
    EXPECT_FALSE(fs::exists(dir_ / "crtc-2.png"));
    scene.release();
}

TEST_F(OutputsTest, VerboseAccountNamesCrtcConnectorAndResult) {
    drmsim::set_verbose(true);
    Device dev("small-3crtc.json");
    Scene scene(dev.fd(), 0);
    testing::internal::CaptureStderr();
    ASSERT_EQ(scene.show(1), 0);
    uint32_t con = drmsim::connector_id(dev.fd(), 0);
    drmModeModeInfo bad = scene.mode;
    bad.hdisplay = 0;
    EXPECT_EQ(drmModeSetCrtc(dev.fd(), drmsim::crtc_id(dev.fd(), 2), scene.fb, 0, 0, &con, 1, &bad),
              -EINVAL);
    std::string err = testing::internal::GetCapturedStderr();
    const std::string crtc1 = std::to_string(drmsim::crtc_id(dev.fd(), 1));
    EXPECT_NE(err.find("SETCRTC crtc 1 (id " + crtc1 + ") fb " + std::to_string(scene.fb) +
                       " -> connector HDMI-A-1 (id " + std::to_string(con) + ") 640x480: ok"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("SETCRTC crtc 2 (id"), std::string::npos) << err;
    EXPECT_NE(err.find(": refused, EINVAL"), std::string::npos) << err;
    scene.release();
}

} // namespace
