// SPDX-License-Identifier: MIT
// The read-back calls: what kms_crtc_read_state, kms_screen_read_state and
// kms_plane_read_state report before and after kms_screen_set, and the
// errno when the kernel refuses to answer.
#include <cerrno>

#include <drm_fourcc.h>

#include "sim_fixture.h"

namespace {

using kms_test::FramebufferPtr;
using kms_test::KmsSimTest;

// Screen 0 has two encoders, fed by CRTC 0 and by CRTC 2; CRTC 1 cannot
// drive it.
constexpr const char *kTwoEncoders = R"({"crtcs": 3, "connectors": [
    {"type": "DP", "connected": true, "modes": ["640x480@60", "320x240@60"],
     "encoders": [{"possible_crtcs": 1}, {"possible_crtcs": 4}]}]})";

TEST_F(KmsSimTest, ScreenStateListsModesAndEveryEncoder) {
    kms_device *device = open_device(kTwoEncoders);
    kms_screen_state state;
    ASSERT_EQ(kms_screen_read_state(device->screens[0].get(), &state), 0);
    EXPECT_TRUE(state.connected);
    EXPECT_EQ(state.encoder_id, 0u) << "nothing drives it yet";
    ASSERT_EQ(state.modes.size(), 2u);
    EXPECT_EQ(state.modes[1].hdisplay, 320);
    ASSERT_EQ(state.encoders.size(), 2u);
    EXPECT_EQ(state.encoders[0].id, drmsim::encoder_id(device->fd, 0));
    EXPECT_EQ(state.encoders[1].possible_crtcs, 0b100u);
    EXPECT_EQ(kms_screen_state_possible_crtcs(&state), 0b101u);
}

TEST_F(KmsSimTest, StatesFollowAHandover) {
    kms_device *device = open_device(kTwoEncoders);
    kms_screen *screen = device->screens[0].get();
    FramebufferPtr fb(kms_framebuffer_create(device, 640, 480, DRM_FORMAT_XRGB8888));
    ASSERT_NE(fb, nullptr);
    ASSERT_EQ(kms_screen_set(screen, device->crtcs[0].get(), fb.get()), 0);
    ASSERT_EQ(kms_screen_set(screen, device->crtcs[2].get(), fb.get()), 0);

    kms_crtc_state shown;
    ASSERT_EQ(kms_crtc_read_state(device->crtcs[2].get(), &shown), 0);
    EXPECT_EQ(shown.fb_id, fb->id);
    EXPECT_TRUE(shown.mode_valid);
    EXPECT_EQ(shown.mode.clock, screen->mode.clock);
    kms_crtc_state left;
    ASSERT_EQ(kms_crtc_read_state(device->crtcs[0].get(), &left), 0);
    EXPECT_FALSE(left.mode_valid);
    EXPECT_EQ(left.fb_id, 0u);
    EXPECT_EQ(left.mode.hdisplay, 0);

    kms_screen_state state;
    ASSERT_EQ(kms_screen_read_state(screen, &state), 0);
    EXPECT_EQ(state.encoder_id, state.encoders[1].id);
    EXPECT_EQ(state.encoders[1].crtc_id, device->crtcs[2]->id);
    EXPECT_EQ(state.encoders[0].crtc_id, 0u);

    kms_plane_state primary;
    ASSERT_EQ(kms_plane_read_state(device->planes[2].get(), &primary), 0);
    EXPECT_EQ(primary.crtc_id, device->crtcs[2]->id);
    EXPECT_EQ(primary.fb_id, fb->id);
    EXPECT_EQ(primary.possible_crtcs, 0b100u);
    fb.reset();
}

// Each read-back returns the kernel's errno, and a bad argument EINVAL.
TEST_F(KmsSimTest, ReadBackFailuresReturnTheErrno) {
    kms_device *device = open_device(kTwoEncoders);
    kms_crtc_state crtc;
    kms_screen_state screen;
    kms_plane_state plane;
    drmsim::reset(); // count from here on
    drmsim::fail("getcrtc", 1, EIO);
    EXPECT_EQ(kms_crtc_read_state(device->crtcs[0].get(), &crtc), -EIO);
    drmsim::fail("getencoder", 2, EACCES);
    EXPECT_EQ(kms_screen_read_state(device->screens[0].get(), &screen), -EACCES);
    drmsim::fail("getplane", 1, ENOMEM);
    EXPECT_EQ(kms_plane_read_state(device->planes[0].get(), &plane), -ENOMEM);
    // No object, an object of no device, nowhere to write: each one alone.
    const kms_crtc orphan_crtc{};
    const kms_screen orphan_screen{};
    const kms_plane orphan_plane{};
    EXPECT_EQ(kms_crtc_read_state(nullptr, &crtc), -EINVAL);
    EXPECT_EQ(kms_crtc_read_state(&orphan_crtc, &crtc), -EINVAL);
    EXPECT_EQ(kms_crtc_read_state(device->crtcs[0].get(), nullptr), -EINVAL);
    EXPECT_EQ(kms_screen_read_state(nullptr, &screen), -EINVAL);
    EXPECT_EQ(kms_screen_read_state(&orphan_screen, &screen), -EINVAL);
    EXPECT_EQ(kms_screen_read_state(device->screens[0].get(), nullptr), -EINVAL);
    EXPECT_EQ(kms_plane_read_state(nullptr, &plane), -EINVAL);
    EXPECT_EQ(kms_plane_read_state(&orphan_plane, &plane), -EINVAL);
    EXPECT_EQ(kms_plane_read_state(device->planes[0].get(), nullptr), -EINVAL);
    EXPECT_EQ(kms_screen_state_possible_crtcs(nullptr), 0u);
    kms_atomic *atomic = nullptr;
    ASSERT_EQ(kms_device_enable_atomic(device, &atomic), 0);
    kms_atomic orphan_atomic{};
    std::vector<kms_writeback> writebacks;
    EXPECT_EQ(kms_device_find_writebacks(nullptr, &writebacks), -EINVAL);
    EXPECT_EQ(kms_device_find_writebacks(&orphan_atomic, &writebacks), -EINVAL);
    EXPECT_EQ(kms_device_find_writebacks(atomic, nullptr), -EINVAL);
    kms_atomic_destroy(atomic);
}

} // namespace
