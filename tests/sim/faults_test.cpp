// SPDX-License-Identifier: MIT
// Fault injection and delays: the Nth libdrm-level call of a request fails
// with the chosen errno, the calls around it do not.
#include <sys/mman.h>

#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>

#include "sim_test_support.h"

namespace {

using drmsim_test::Device;
using drmsim_test::SimTest;

// What the calls below work on: a 640x480 framebuffer, its buffer, and the
// first mode of screen 0.
struct Env {
    int fd = -1;
    uint32_t handle = 0, pitch = 0, fb = 0;
    uint64_t size = 0, offset = 0;
    drmModeModeInfo mode{};
};

int errno_of(bool ok) {
    return ok ? 0 : errno;
}

int create_dumb(Env &e, uint32_t &handle) {
    drm_mode_create_dumb c{};
    c.width = 640;
    c.height = 480;
    c.bpp = 32;
    int r = drmIoctl(e.fd, DRM_IOCTL_MODE_CREATE_DUMB, &c);
    handle = c.handle;
    return r ? errno : 0;
}

int destroy_dumb(Env &e, uint32_t handle) {
    drm_mode_destroy_dumb d{};
    d.handle = handle;
    return drmIoctl(e.fd, DRM_IOCTL_MODE_DESTROY_DUMB, &d) ? errno : 0;
}

int add_fb(Env &e, uint32_t &id) {
    uint32_t handles[4] = {e.handle}, pitches[4] = {e.pitch}, offsets[4] = {};
    return -drmModeAddFB2(e.fd, 640, 480, DRM_FORMAT_XRGB8888, handles, pitches, offsets, &id, 0);
}

struct FaultCase {
    const char *request;
    std::function<int(Env &)> call; // one libdrm-level call: 0 or errno
};

// Named in test listings by its request, not by a dump of its bytes.
void PrintTo(const FaultCase &c, std::ostream *os) {
    *os << c.request;
}

class FaultTest : public SimTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    void SetUp() override {
        SimTest::SetUp();
        dev_ = std::make_unique<Device>("small-3crtc.json");
        env_.fd = dev_->fd();
        ASSERT_GE(env_.fd, 0);
        drm_mode_create_dumb c{};
        c.width = 640;
        c.height = 480;
        c.bpp = 32;
        ASSERT_EQ(drmIoctl(env_.fd, DRM_IOCTL_MODE_CREATE_DUMB, &c), 0);
        env_.handle = c.handle;
        env_.pitch = c.pitch;
        env_.size = c.size;
        drm_mode_map_dumb m{};
        m.handle = c.handle;
        ASSERT_EQ(drmIoctl(env_.fd, DRM_IOCTL_MODE_MAP_DUMB, &m), 0);
        env_.offset = m.offset;
        ASSERT_EQ(add_fb(env_, env_.fb), 0);
        drmModeConnector *con = drmModeGetConnector(env_.fd, drmsim::connector_id(env_.fd, 0));
        ASSERT_NE(con, nullptr);
        env_.mode = con->modes[0];
        drmModeFreeConnector(con);
        drmsim::reset(); // the set-up calls are not counted
    }
    std::unique_ptr<Device> dev_;
    Env env_;
};

// The second call fails with the injected errno; the first and third work,
// and each counts once.
TEST_P(FaultTest, SecondCallFails) {
    const FaultCase &c = GetParam();
    drmsim::fail(c.request, 2, EIO);
    EXPECT_EQ(c.call(env_), 0) << "call 1";
    EXPECT_EQ(c.call(env_), EIO) << "call 2";
    EXPECT_EQ(c.call(env_), 0) << "call 3";
    EXPECT_EQ(drmsim::request_count(c.request), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, FaultTest,
    ::testing::Values(
        FaultCase{"getresources",
                  [](Env &e) {
                      drmModeRes *r = drmModeGetResources(e.fd);
                      int err = errno_of(r != nullptr);
                      drmModeFreeResources(r);
                      return err;
                  }},
        FaultCase{"getconnector",
                  [](Env &e) {
                      drmModeConnector *c =
                          drmModeGetConnector(e.fd, drmsim::connector_id(e.fd, 0));
                      int err = errno_of(c != nullptr);
                      drmModeFreeConnector(c);
                      return err;
                  }},
        FaultCase{"getplaneresources",
                  [](Env &e) {
                      drmModePlaneRes *r = drmModeGetPlaneResources(e.fd);
                      int err = errno_of(r != nullptr);
                      drmModeFreePlaneResources(r);
                      return err;
                  }},
        FaultCase{"getplane",
                  [](Env &e) {
                      drmModePlane *p = drmModeGetPlane(e.fd, drmsim::plane_id(e.fd, 0));
                      int err = errno_of(p != nullptr);
                      drmModeFreePlane(p);
                      return err;
                  }},
        FaultCase{"getproperties",
                  [](Env &e) {
                      drmModeObjectProperties *p = drmModeObjectGetProperties(
                          e.fd, drmsim::plane_id(e.fd, 0), DRM_MODE_OBJECT_PLANE);
                      int err = errno_of(p != nullptr);
                      drmModeFreeObjectProperties(p);
                      return err;
                  }},
        FaultCase{"getproperty",
                  [](Env &e) {
                      drmModePropertyRes *p = drmModeGetProperty(e.fd, 1);
                      int err = errno_of(p != nullptr);
                      drmModeFreeProperty(p);
                      return err;
                  }},
        FaultCase{"createdumb",
                  [](Env &e) {
                      uint32_t h = 0;
                      int err = create_dumb(e, h);
                      if (!err)
                          destroy_dumb(e, h);
                      return err;
                  }},
        FaultCase{"mapdumb",
                  [](Env &e) {
                      drm_mode_map_dumb m{};
                      m.handle = e.handle;
                      return drmIoctl(e.fd, DRM_IOCTL_MODE_MAP_DUMB, &m) ? errno : 0;
                  }},
        FaultCase{"destroydumb",
                  [](Env &e) {
                      uint32_t h = 0;
                      if (create_dumb(e, h))
                          return -1;
                      return destroy_dumb(e, h); // a refused one stays until the device closes
                  }},
        FaultCase{"mmap",
                  [](Env &e) {
                      void *p = mmap(nullptr, e.size, PROT_READ, MAP_SHARED, e.fd, off_t(e.offset));
                      if (p == MAP_FAILED)
                          return errno;
                      munmap(p, e.size);
                      return 0;
                  }},
        FaultCase{"addfb2",
                  [](Env &e) {
                      uint32_t id = 0;
                      int err = add_fb(e, id);
                      if (!err)
                          drmModeRmFB(e.fd, id);
                      return err;
                  }},
        FaultCase{"rmfb",
                  [](Env &e) {
                      uint32_t id = 0;
                      if (add_fb(e, id))
                          return -1;
                      return -drmModeRmFB(e.fd, id);
                  }},
        FaultCase{"setcrtc",
                  [](Env &e) {
                      uint32_t con = drmsim::connector_id(e.fd, 0);
                      return -drmModeSetCrtc(e.fd, drmsim::crtc_id(e.fd, 0), e.fb, 0, 0, &con, 1,
                                             &e.mode);
                  }},
        FaultCase{"setplane",
                  [](Env &e) {
                      return -drmModeSetPlane(e.fd, drmsim::plane_id(e.fd, 3),
                                              drmsim::crtc_id(e.fd, 0), e.fb, 0, 0, 0, 64, 64, 0, 0,
                                              64 << 16, 64 << 16);
                  }},
        FaultCase{"setclientcap",
                  [](Env &e) {
                      return drmSetClientCap(e.fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1) ? errno : 0;
                  }}),
    [](const auto &info) { return std::string(info.param.request); });

// An injected failure changes nothing on the device: the refused SETCRTC
// is journaled with the errno and the CRTC stays off.
TEST_F(FaultTest, InjectedSetCrtcFailureIsJournaledAndChangesNothing) {
    drmsim::fail("setcrtc", 1, EACCES);
    uint32_t con = drmsim::connector_id(env_.fd, 0);
    EXPECT_EQ(
        drmModeSetCrtc(env_.fd, drmsim::crtc_id(env_.fd, 1), env_.fb, 0, 0, &con, 1, &env_.mode),
        -EACCES);
    EXPECT_FALSE(drmsim::crtc_state(env_.fd, 1).active);
    auto journal = drmsim::journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].result, -EACCES);
    EXPECT_EQ(journal[0].crtc_index, 1);
}

// A driver that answers a mode set with 0 without doing it: the call
// "succeeds", the journal says so, the device is unchanged, and the next
// call is answered normally.
TEST_F(FaultTest, IgnoredSetCrtcAnswersZeroAndChangesNothing) {
    drmsim::ignore("setcrtc", 2);
    uint32_t con = drmsim::connector_id(env_.fd, 0);
    ASSERT_EQ(
        drmModeSetCrtc(env_.fd, drmsim::crtc_id(env_.fd, 0), env_.fb, 0, 0, &con, 1, &env_.mode),
        0);
    EXPECT_EQ(
        drmModeSetCrtc(env_.fd, drmsim::crtc_id(env_.fd, 1), env_.fb, 0, 0, &con, 1, &env_.mode),
        0);
    EXPECT_FALSE(drmsim::crtc_state(env_.fd, 1).active);
    EXPECT_TRUE(drmsim::crtc_state(env_.fd, 0).active);
    auto journal = drmsim::journal();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[1].result, 0);
    EXPECT_EQ(journal[1].crtc_index, 1);
    EXPECT_EQ(
        drmModeSetCrtc(env_.fd, drmsim::crtc_id(env_.fd, 1), env_.fb, 0, 0, &con, 1, &env_.mode),
        0);
    EXPECT_TRUE(drmsim::crtc_state(env_.fd, 1).active);
}

TEST_F(FaultTest, DelayedRequestTakesAtLeastThatLong) {
    drmsim::delay("setcrtc", 60);
    uint32_t con = drmsim::connector_id(env_.fd, 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        drmModeSetCrtc(env_.fd, drmsim::crtc_id(env_.fd, 0), env_.fb, 0, 0, &con, 1, &env_.mode),
        0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

TEST_F(SimTest, UnknownRequestNamesAreRefused) {
    EXPECT_THROW(drmsim::fail("setcrtcs", 1, EIO), std::invalid_argument);
    EXPECT_THROW(drmsim::delay("bogus", 1), std::invalid_argument);
    EXPECT_THROW(drmsim::ignore("getcrtc", 1), std::invalid_argument) << "only mode sets";
}

} // namespace
