// SPDX-License-Identifier: MIT
// Atomic mode setting through the object layer: property ids read once by
// name, handovers as single commits (TEST_ONLY first), refusals as negated
// errnos, and every mode blob destroyed (the fixture's leak check).
#include <cerrno>

#include <drm_fourcc.h>

#include "sim_fixture.h"

namespace {

using kms_test::AtomicPtr;
using kms_test::FramebufferPtr;
using kms_test::KmsSimTest;

AtomicPtr enable(kms_device *device, int *error = nullptr) {
    kms_atomic *atomic = nullptr;
    const int e = kms_device_enable_atomic(device, &atomic);
    if (error)
        *error = e;
    return AtomicPtr(atomic);
}

// Every id of the object's kind is the kernel's property of that name.
template <typename Property>
void expect_ids_of_named_properties(int fd, const kms_atomic_object<Property> &object) {
    for (size_t i = 0; i < size_t(Property::count); ++i) {
        drmModePropertyRes *property = drmModeGetProperty(fd, object.property_ids[i]);
        ASSERT_NE(property, nullptr) << kms_property_name(Property(i));
        EXPECT_STREQ(property->name, kms_property_name(Property(i)));
        drmModeFreeProperty(property);
    }
}

TEST_F(KmsSimTest, EnablingAtomicReadsPropertyIdsByNameOnce) {
    kms_device *device = open_device_file("small-3crtc.json");
    drmsim::reset();
    AtomicPtr atomic = enable(device);
    ASSERT_NE(atomic, nullptr);
    ASSERT_EQ(atomic->crtcs.size(), 3u);
    ASSERT_EQ(atomic->planes.size(), 5u);
    ASSERT_EQ(atomic->screens.size(), 2u);
    EXPECT_EQ(atomic->crtcs[1].id, device->crtcs[1]->id);
    EXPECT_EQ(atomic->planes[2].possible_crtcs, 0b100u);
    EXPECT_EQ(atomic->screens[0].crtc_id, 0u);
    // Once per object: one property list each, nothing more at commit time.
    EXPECT_EQ(drmsim::request_count("getproperties"), 3u + 5u + 2u);
    expect_ids_of_named_properties(device->fd, atomic->crtcs[1]);
    expect_ids_of_named_properties(device->fd, atomic->planes[0]);
    expect_ids_of_named_properties(device->fd, atomic->screens[0]);
}

TEST_F(KmsSimTest, LegacyDriverRefusesAtomicWithEopnotsupp) {
    kms_device *device =
        open_device(R"({"crtcs": 1, "atomic": false, "connectors": [{"modes": ["640x480"]}]})");
    int error = 0;
    EXPECT_EQ(enable(device, &error), nullptr);
    EXPECT_EQ(error, -EOPNOTSUPP);
}

// Handing screen 0 round robin over three CRTCs: each step is checked with
// TEST_ONLY (nothing changes), then committed; the CRTC left behind is off
// and its plane empty.
TEST_F(KmsSimTest, AtomicHandoversTakeEffectAndLeaveNothingBehind) {
    kms_device *device = open_device_file("small-3crtc.json");
    AtomicPtr atomic = enable(device);
    ASSERT_NE(atomic, nullptr);
    kms_screen *screen = device->screens[0].get();
    FramebufferPtr fb(kms_framebuffer_create(device, 640, 480, DRM_FORMAT_XRGB8888));
    ASSERT_NE(fb, nullptr);
    unsigned previous = 3;
    for (unsigned step = 0; step < 4; ++step) {
        const unsigned index = step % 3;
        kms_crtc *crtc = device->crtcs[index].get();
        ASSERT_EQ(kms_atomic_screen_set(atomic.get(), screen, crtc, fb.get(), true), 0);
        EXPECT_FALSE(drmsim::crtc_state(device->fd, index).active) << "TEST_ONLY, step " << step;
        ASSERT_EQ(kms_atomic_screen_set(atomic.get(), screen, crtc, fb.get(), false), 0);
        const drmsim::CrtcState now = drmsim::crtc_state(device->fd, index);
        EXPECT_TRUE(now.active) << "step " << step;
        EXPECT_EQ(now.fb, fb->id);
        EXPECT_EQ(now.connectors, std::vector<uint32_t>{screen->id});
        if (previous < 3) {
            EXPECT_FALSE(drmsim::crtc_state(device->fd, previous).active) << "step " << step;
        }
        EXPECT_EQ(atomic->screens[0].crtc_id, crtc->id);
        previous = index;
    }
    // One mode blob per commit, each destroyed right after it.
    EXPECT_EQ(drmsim::request_count("createpropblob"), 8u);
    EXPECT_EQ(drmsim::request_count("destroypropblob"), 8u);
    EXPECT_TRUE(drmsim::leaks(device->fd).blobs.empty());
}

// The screen shown first by SETCRTC (a console, say) is taken over: the
// atomic commit switches that CRTC off.
TEST_F(KmsSimTest, AtomicHandoverTakesTheScreenFromALegacySetCrtc) {
    kms_device *device = open_device_file("small-3crtc.json");
    kms_screen *screen = device->screens[0].get();
    FramebufferPtr fb(kms_framebuffer_create(device, 640, 480, DRM_FORMAT_XRGB8888));
    ASSERT_NE(fb, nullptr);
    ASSERT_EQ(kms_screen_set(screen, device->crtcs[2].get(), fb.get()), 0);
    AtomicPtr atomic = enable(device);
    ASSERT_NE(atomic, nullptr);
    EXPECT_EQ(atomic->screens[0].crtc_id, device->crtcs[2]->id);
    ASSERT_EQ(kms_atomic_screen_set(atomic.get(), screen, device->crtcs[0].get(), fb.get(), false),
              0);
    EXPECT_FALSE(drmsim::crtc_state(device->fd, 2).active);
    EXPECT_TRUE(drmsim::crtc_state(device->fd, 0).active);
}

// Refusals come back as the kernel's negated errno, from TEST_ONLY and from
// the commit alike, and the mode blob is still destroyed.
TEST_F(KmsSimTest, RefusedAtomicHandoverIsANegatedErrno) {
    kms_device *device = open_device_file("crtc1-cannot-drive.json");
    AtomicPtr atomic = enable(device);
    ASSERT_NE(atomic, nullptr);
    kms_screen *screen = device->screens[0].get();
    FramebufferPtr fb(kms_framebuffer_create(device, 640, 480, DRM_FORMAT_XRGB8888));
    ASSERT_NE(fb, nullptr);
    for (bool test_only : {true, false})
        EXPECT_EQ(kms_atomic_screen_set(atomic.get(), screen, device->crtcs[1].get(), fb.get(),
                                        test_only),
                  -EINVAL);
    drmsim::reset(); // count the calls below from 1
    drmsim::fail("createpropblob", 1, ENOMEM);
    EXPECT_EQ(kms_atomic_screen_set(atomic.get(), screen, device->crtcs[0].get(), fb.get(), false),
              -ENOMEM);
    drmsim::fail("atomic", 1, EIO);
    EXPECT_EQ(kms_atomic_screen_set(atomic.get(), screen, device->crtcs[0].get(), fb.get(), false),
              -EIO);
    EXPECT_TRUE(drmsim::leaks(device->fd).blobs.empty());
    EXPECT_EQ(atomic->screens[0].crtc_id, 0u) << "a refused commit changes nothing";
}

// A plane that cannot sit on the CRTC, or an object that lacks a property
// the commit needs, is refused before any commit is made.
TEST_F(KmsSimTest, AtomicHandoverWithoutAUsablePlaneOrPropertyIsRefused) {
    kms_device *device = open_device(R"({"crtcs": 2, "connectors": [{"modes": ["640x480"]}],
        "planes": [{"type": "primary", "possible_crtcs": 1}]})");
    AtomicPtr atomic = enable(device);
    ASSERT_NE(atomic, nullptr);
    kms_screen *screen = device->screens[0].get();
    FramebufferPtr fb(kms_framebuffer_create(device, 640, 480, DRM_FORMAT_XRGB8888));
    ASSERT_NE(fb, nullptr);
    EXPECT_EQ(kms_atomic_screen_set(atomic.get(), screen, device->crtcs[1].get(), fb.get(), true),
              -EINVAL);
    EXPECT_EQ(atomic->failed_step, kms_atomic_step::plane);
    atomic->crtcs[0].property_id(kms_crtc_property::mode_id) = 0; // as if the CRTC lacked it
    EXPECT_EQ(kms_atomic_screen_set(atomic.get(), screen, device->crtcs[0].get(), fb.get(), true),
              -ENOENT);
    EXPECT_EQ(atomic->failed_step, kms_atomic_step::property);
    EXPECT_STREQ(atomic->missing_property, "MODE_ID");
    EXPECT_EQ(drmsim::request_count("atomic"), 0u);
    // The kernel's refusal is the commit's.
    atomic->crtcs[0].property_id(kms_crtc_property::mode_id) =
        atomic->crtcs[1].property_id(kms_crtc_property::mode_id);
    drmsim::fail("atomic", 1, ENOSPC);
    EXPECT_EQ(kms_atomic_screen_set(atomic.get(), screen, device->crtcs[0].get(), fb.get(), true),
              -ENOSPC);
    EXPECT_EQ(atomic->failed_step, kms_atomic_step::commit);
}

} // namespace
