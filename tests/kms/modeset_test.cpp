// SPDX-License-Identifier: MIT
// kms_screen_set and kms_plane_set as the simulated device sees them: one
// SETCRTC / SETPLANE each, with the records' values, and the device's answer.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include <drm_fourcc.h>

#include "sim_fixture.h"

namespace {

using kms_test::FramebufferPtr;
using kms_test::KmsSimTest;

class ScreenSet : public KmsSimTest {
protected:
    void open(const char *file) {
        fd_ = open_fd_file(file);
        ASSERT_GE(fd_, 0);
        device_ = enumerate(fd_);
        ASSERT_NE(device_, nullptr);
        ASSERT_GE(device_->num_screens(), 1u);
        screen_ = device_->screens[0].get();
        fb_.reset(
            kms_framebuffer_create(device_, screen_->width, screen_->height, DRM_FORMAT_XRGB8888));
        ASSERT_NE(fb_, nullptr);
        drmsim::reset(); // count from here on
    }

    void expect_setcrtc(const drmsim::JournalEntry &entry, unsigned crtc_index, int result) {
        EXPECT_EQ(entry.request, "SETCRTC");
        EXPECT_EQ(entry.crtc, drmsim::crtc_id(fd_, crtc_index));
        EXPECT_EQ(entry.fb, fb_->id);
        EXPECT_EQ(entry.connectors, std::vector<uint32_t>{screen_->id});
        ASSERT_TRUE(entry.mode.has_value());
        EXPECT_EQ(entry.mode->name, "640x480");
        EXPECT_EQ(entry.mode->hdisplay, 640u);
        EXPECT_EQ(entry.mode->vdisplay, 480u);
        EXPECT_EQ(entry.result, result);
    }

    void TearDown() override {
        fb_.reset();
        KmsSimTest::TearDown();
    }

    int fd_ = -1;
    kms_device *device_ = nullptr;
    kms_screen *screen_ = nullptr;
    FramebufferPtr fb_;
};

TEST_F(ScreenSet, IssuesOneSetCrtcWithTheStoredMode) {
    ASSERT_NO_FATAL_FAILURE(open("small-3crtc.json"));
    ASSERT_EQ(kms_screen_set(screen_, device_->crtcs[0].get(), fb_.get()), 0);

    const auto journal = drmsim::journal();
    ASSERT_EQ(journal.size(), 1u);
    expect_setcrtc(journal[0], 0, 0);
    EXPECT_EQ(drmsim::request_count("setcrtc"), 1u);

    const drmsim::CrtcState state = drmsim::crtc_state(fd_, 0);
    EXPECT_TRUE(state.active);
    EXPECT_EQ(state.fb, fb_->id);
    EXPECT_EQ(state.x, 0u);
    EXPECT_EQ(state.y, 0u);
    EXPECT_EQ(state.connectors, std::vector<uint32_t>{screen_->id});
}

TEST_F(ScreenSet, SettingTheSameCrtcAgainIsTheSameSingleCall) {
    ASSERT_NO_FATAL_FAILURE(open("small-3crtc.json"));
    kms_crtc *crtc = device_->crtcs[0].get();
    ASSERT_EQ(kms_screen_set(screen_, crtc, fb_.get()), 0);
    ASSERT_EQ(kms_screen_set(screen_, crtc, fb_.get()), 0);

    const auto journal = drmsim::journal();
    ASSERT_EQ(journal.size(), 2u);
    expect_setcrtc(journal[0], 0, 0);
    expect_setcrtc(journal[1], 0, 0);
    EXPECT_EQ(drmsim::request_count("setcrtc"), 2u);
    EXPECT_EQ(drmsim::request_count("setplane"), 0u);
}

TEST_F(ScreenSet, HandsTheScreenFromCrtcToCrtc) {
    ASSERT_NO_FATAL_FAILURE(open("small-3crtc.json"));
    const unsigned order[] = {0, 1, 2, 0};
    for (const unsigned index : order)
        ASSERT_EQ(kms_screen_set(screen_, device_->crtcs[index].get(), fb_.get()), 0);

    const auto journal = drmsim::journal();
    ASSERT_EQ(journal.size(), std::size(order));
    for (size_t i = 0; i < journal.size(); ++i)
        expect_setcrtc(journal[i], order[i], 0);
    // The screen ends on CRTC 0; the one that drove it before lets it go.
    EXPECT_EQ(drmsim::crtc_state(fd_, 0).connectors, std::vector<uint32_t>{screen_->id});
    EXPECT_TRUE(drmsim::crtc_state(fd_, 2).connectors.empty());
}

TEST_F(ScreenSet, ReturnsTheDevicesNegatedErrno) {
    const struct {
        const char *what;
        const char *device;
        unsigned crtc_index;
        const char *injected; // nullptr: the device refuses on its own
        int err;
    } cases[] = {
        {"CRTC cannot drive the screen", "crtc1-cannot-drive.json", 1, nullptr, EINVAL},
        {"device busy", "small-3crtc.json", 0, "setcrtc", EBUSY},
        {"permission", "small-3crtc.json", 2, "setcrtc", EACCES},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fb_.reset();
        ASSERT_NO_FATAL_FAILURE(open(c.device));
        if (c.injected)
            drmsim::fail(c.injected, 1, c.err);
        EXPECT_EQ(kms_screen_set(screen_, device_->crtcs[c.crtc_index].get(), fb_.get()), -c.err);
        const auto journal = drmsim::journal();
        ASSERT_EQ(journal.size(), 1u);
        if (!c.injected)
            expect_setcrtc(journal[0], c.crtc_index, -c.err);
        fb_.reset();
        close_device(device_);
    }
}

class PlaneSet : public KmsSimTest {
protected:
    void SetUp() override {
        KmsSimTest::SetUp();
        // Plane 0 is on CRTC 1 now; plane 1 may only use a CRTC the device lacks.
        fd_ = open_fd(R"({"crtcs": 2, "connectors": [{"type": "HDMI-A", "connected": true,
                          "modes": ["640x480@60"]}],
                          "planes": [
                            {"type": "overlay", "possible_crtcs": 3, "crtc": 1},
                            {"type": "overlay", "possible_crtcs": 4}]})");
        ASSERT_GE(fd_, 0);
        device_ = enumerate(fd_);
        ASSERT_NE(device_, nullptr);
        ASSERT_EQ(device_->num_planes(), 2u);
        ASSERT_EQ(device_->planes[0]->crtc, device_->crtcs[1].get());
        ASSERT_EQ(device_->planes[1]->crtc, nullptr);
        fb_.reset(kms_framebuffer_create(device_, 200, 100, DRM_FORMAT_XRGB8888));
        ASSERT_NE(fb_, nullptr);
        drmsim::reset();
    }

    void TearDown() override {
        fb_.reset();
        KmsSimTest::TearDown();
    }

    int fd_ = -1;
    kms_device *device_ = nullptr;
    FramebufferPtr fb_;
};

TEST_F(PlaneSet, ShowsTheWholeFramebufferUnscaled) {
    // A black picture on CRTC 1 under the plane, which shows a white one.
    FramebufferPtr black(kms_framebuffer_create(device_, 640, 480, DRM_FORMAT_XRGB8888));
    ASSERT_EQ(kms_screen_set(device_->screens[0].get(), device_->crtcs[1].get(), black.get()), 0);
    void *pixels = nullptr;
    ASSERT_EQ(kms_framebuffer_map(fb_.get(), &pixels), 0);
    std::memset(pixels, 0xff, size_t(fb_->pitch) * fb_->height);
    kms_framebuffer_unmap(fb_.get());
    const struct { uint32_t x, y; } positions[] = {{0, 0}, {10, 20}, {440, 380}};
    for (const auto &pos : positions) {
        SCOPED_TRACE(std::to_string(pos.x) + "," + std::to_string(pos.y));
        drmsim::reset();
        ASSERT_EQ(kms_plane_set(device_->planes[0].get(), fb_.get(), pos.x, pos.y), 0);
        const drmsim::Picture shown = drmsim::scanout(fd_, 1);
        EXPECT_EQ(shown.at(pos.x, pos.y), 0xffffffu);
        EXPECT_EQ(shown.at(pos.x + 199, pos.y + 99), 0xffffffu);
        EXPECT_EQ(shown.at((pos.x + 200) % 640, pos.y), 0u) << "right of the picture";
        EXPECT_EQ(shown.at(pos.x, (pos.y + 100) % 480), 0u) << "below the picture";
        const auto journal = drmsim::journal();
        ASSERT_EQ(journal.size(), 1u);
        const drmsim::JournalEntry &entry = journal[0];
        EXPECT_EQ(entry.request, "SETPLANE");
        EXPECT_EQ(entry.plane, device_->planes[0]->id);
        EXPECT_EQ(entry.crtc, drmsim::crtc_id(fd_, 1));
        EXPECT_EQ(entry.fb, fb_->id);
        EXPECT_EQ(entry.src, (std::array<uint32_t, 4>{0, 0, 200u << 16, 100u << 16}));
        EXPECT_EQ(entry.dst, (std::array<int64_t, 4>{pos.x, pos.y, 200, 100}));
        EXPECT_EQ(entry.result, 0);
    }
}

TEST_F(PlaneSet, PlaneWithoutCrtcIsRefusedWithoutAKernelCall) {
    EXPECT_EQ(kms_plane_set(device_->planes[1].get(), fb_.get(), 0, 0), -EINVAL);
    // So is a picture too wide or too tall for 16.16 source coordinates.
    for (const auto &[width, height] : {std::pair{65536u, 1u}, {1u, 65536u}}) {
        kms_framebuffer huge = *fb_;
        huge.width = width;
        huge.height = height;
        EXPECT_EQ(kms_plane_set(device_->planes[0].get(), &huge, 0, 0), -EINVAL);
    }
    EXPECT_EQ(drmsim::request_count("setplane"), 0u);
    EXPECT_TRUE(drmsim::journal().empty());
}

TEST_F(PlaneSet, ReturnsTheDevicesNegatedErrno) {
    for (const int err : {EINVAL, EBUSY, ENOSPC}) {
        SCOPED_TRACE(err);
        drmsim::reset();
        drmsim::fail("setplane", 1, err);
        EXPECT_EQ(kms_plane_set(device_->planes[0].get(), fb_.get(), 0, 0), -err);
        EXPECT_EQ(drmsim::request_count("setplane"), 1u);
    }
}

} // namespace
