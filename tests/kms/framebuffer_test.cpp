// SPDX-License-Identifier: MIT
// Dumb framebuffers on the simulated device: creation, registration,
// mapping, and that every failure leaves no kernel object behind.
#include <cerrno>
#include <cstdint>
#include <vector>

#include <drm_fourcc.h>

#include "sim_fixture.h"

namespace {

using kms_test::FramebufferPtr;
using kms_test::KmsSimTest;

constexpr const char *kDevice = "small-3crtc.json";

class Framebuffers : public KmsSimTest {
protected:
    void SetUp() override {
        KmsSimTest::SetUp();
        fd_ = open_fd_file(kDevice);
        ASSERT_GE(fd_, 0);
        device_ = enumerate(fd_);
        ASSERT_NE(device_, nullptr);
    }

    FramebufferPtr create(uint32_t width, uint32_t height, uint32_t format = DRM_FORMAT_XRGB8888) {
        return FramebufferPtr(kms_framebuffer_create(device_, width, height, format));
    }

    int fd_ = -1;
    kms_device *device_ = nullptr;
};

TEST_F(Framebuffers, RefusedFormatsMakeNoKernelCall) {
    const uint32_t refused[] = {
        DRM_FORMAT_ARGB8888,
        DRM_FORMAT_XRGB2101010,
        DRM_FORMAT_ABGR8888,
        DRM_FORMAT_RGBX8888,
        DRM_FORMAT_BGRX8888,
        DRM_FORMAT_RGB565,
        DRM_FORMAT_RGB888,
        DRM_FORMAT_NV12,
        DRM_FORMAT_YUYV,
        DRM_FORMAT_XRGB16161616F,
        0,
        0xFFFFFFFF,
        // One bit away from an accepted code.
        DRM_FORMAT_XRGB8888 ^ 1,
        DRM_FORMAT_RGBA8888 ^ (1u << 12),
    };
    for (const uint32_t format : refused) {
        EXPECT_EQ(create(64, 64, format), nullptr) << std::hex << format;
    }
    EXPECT_EQ(drmsim::request_count("createdumb"), 0u);
    EXPECT_EQ(drmsim::request_count("addfb2"), 0u);
}

TEST_F(Framebuffers, AcceptedFormatsRegisterADumbBuffer) {
    for (const uint32_t format : {DRM_FORMAT_XRGB8888, DRM_FORMAT_XBGR8888, DRM_FORMAT_RGBA8888}) {
        SCOPED_TRACE(format);
        FramebufferPtr fb = create(64, 48, format);
        ASSERT_NE(fb, nullptr);
        EXPECT_EQ(fb->device, device_);
        EXPECT_EQ(fb->width, 64u);
        EXPECT_EQ(fb->height, 48u);
        EXPECT_EQ(fb->format, format);
        EXPECT_GE(fb->pitch, 64u * 4);
        EXPECT_GE(fb->size, uint64_t{fb->pitch} * 48);
        EXPECT_NE(fb->id, 0u);
        EXPECT_EQ(fb->map, nullptr);

        const drmsim::LeakReport held = drmsim::leaks(fd_);
        EXPECT_EQ(held.framebuffers, std::vector<uint32_t>{fb->id});
        EXPECT_EQ(held.dumb_buffers, std::vector<uint32_t>{fb->handle});

        fb.reset();
        EXPECT_TRUE(drmsim::leaks(fd_).clean());
    }
}

TEST_F(Framebuffers, KeepsThePitchTheDeviceChooses) {
    // The device aligns rows to 256 bytes: 1000 pixels take 4096, not 4000.
    FramebufferPtr fb = create(1000, 10);
    ASSERT_NE(fb, nullptr);
    EXPECT_EQ(fb->pitch, 4096u);
    EXPECT_GE(fb->size, uint64_t{4096} * 10);
}

TEST_F(Framebuffers, FailuresLeaveNoKernelObject) {
    const struct {
        const char *what;
        uint32_t width, height;
        const char *failing_request; // nullptr: the device refuses on its own
        int err;
        unsigned addfb2_calls, destroydumb_calls;
    } cases[] = {
        {"0 x 0 buffer", 0, 0, nullptr, 0, 0, 0},
        {"dumb buffer refused", 64, 64, "createdumb", ENOMEM, 0, 0},
        {"registration refused", 64, 64, "addfb2", EINVAL, 1, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        drmsim::reset();
        if (c.failing_request)
            drmsim::fail(c.failing_request, 1, c.err);
        EXPECT_EQ(create(c.width, c.height), nullptr);
        EXPECT_EQ(drmsim::request_count("createdumb"), 1u);
        EXPECT_EQ(drmsim::request_count("addfb2"), c.addfb2_calls);
        EXPECT_EQ(drmsim::request_count("destroydumb"), c.destroydumb_calls);
        EXPECT_EQ(drmsim::request_count("rmfb"), 0u);
        EXPECT_TRUE(drmsim::leaks(fd_).clean());
    }
}

TEST_F(Framebuffers, MapsOnceAndWritesReachTheBuffer) {
    FramebufferPtr fb = create(16, 4);
    ASSERT_NE(fb, nullptr);

    void *first = nullptr;
    ASSERT_EQ(kms_framebuffer_map(fb.get(), &first), 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(fb->map, first);
    void *second = nullptr;
    EXPECT_EQ(kms_framebuffer_map(fb.get(), &second), 0);
    EXPECT_EQ(second, first);
    EXPECT_EQ(drmsim::request_count("mapdumb"), 1u);
    EXPECT_EQ(drmsim::request_count("mmap"), 1u);
    EXPECT_EQ(drmsim::leaks(fd_).mappings, 1u);

    // The mapping is the registered buffer: a byte written at the start of
    // the last row shows up there in the framebuffer.
    auto *bytes = static_cast<uint8_t *>(first);
    const size_t last_row = size_t{fb->pitch} * 3;
    bytes[last_row + 0] = 0x11;
    bytes[last_row + 1] = 0x22;
    bytes[last_row + 2] = 0x33;
    bytes[last_row + 3] = 0x44;
    const std::vector<uint8_t> seen = drmsim::framebuffer_bytes(fd_, fb->id);
    ASSERT_GE(seen.size(), last_row + 4);
    EXPECT_EQ(seen[last_row + 0], 0x11);
    EXPECT_EQ(seen[last_row + 1], 0x22);
    EXPECT_EQ(seen[last_row + 2], 0x33);
    EXPECT_EQ(seen[last_row + 3], 0x44);

    kms_framebuffer_unmap(fb.get());
    EXPECT_EQ(fb->map, nullptr);
    EXPECT_EQ(drmsim::leaks(fd_).mappings, 0u);

    // The picture stays in the buffer; mapping again asks the kernel again.
    void *third = nullptr;
    ASSERT_EQ(kms_framebuffer_map(fb.get(), &third), 0);
    EXPECT_EQ(static_cast<uint8_t *>(third)[last_row + 2], 0x33);
    EXPECT_EQ(drmsim::request_count("mapdumb"), 2u);
    kms_framebuffer_unmap(fb.get());
}

TEST_F(Framebuffers, UnmappingAnUnmappedFramebufferDoesNothing) {
    FramebufferPtr fb = create(16, 4);
    ASSERT_NE(fb, nullptr);
    kms_framebuffer_unmap(fb.get());
    EXPECT_EQ(fb->map, nullptr);
    void *map = nullptr;
    ASSERT_EQ(kms_framebuffer_map(fb.get(), &map), 0);
    kms_framebuffer_unmap(fb.get());
    kms_framebuffer_unmap(fb.get());
    EXPECT_EQ(fb->map, nullptr);
    EXPECT_EQ(drmsim::leaks(fd_).mappings, 0u);
    EXPECT_EQ(drmsim::leaks(fd_).framebuffers, std::vector<uint32_t>{fb->id});
}

TEST_F(Framebuffers, MapFailuresReturnTheNegatedErrno) {
    const struct {
        const char *request;
        int err;
    } cases[] = {
        {"mapdumb", EINVAL},
        {"mapdumb", ENOENT},
        {"mmap", ENOMEM},
        {"mmap", EACCES},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.request) + " fails with " + std::to_string(c.err));
        FramebufferPtr fb = create(16, 4);
        ASSERT_NE(fb, nullptr);
        drmsim::reset();
        drmsim::fail(c.request, 1, c.err);
        void *map = nullptr;
        EXPECT_EQ(kms_framebuffer_map(fb.get(), &map), -c.err);
        EXPECT_EQ(fb->map, nullptr);
        EXPECT_EQ(map, nullptr);
        EXPECT_EQ(drmsim::leaks(fd_).mappings, 0u);

        // Nothing is stuck: the next attempt maps.
        ASSERT_EQ(kms_framebuffer_map(fb.get(), &map), 0);
        EXPECT_NE(map, nullptr);
        kms_framebuffer_unmap(fb.get());
    }
}

TEST_F(Framebuffers, DestroyUnmapsAStillMappedBuffer) {
    kms_framebuffer *fb = kms_framebuffer_create(device_, 32, 32, DRM_FORMAT_XRGB8888);
    ASSERT_NE(fb, nullptr);
    void *map = nullptr;
    ASSERT_EQ(kms_framebuffer_map(fb, &map), 0);
    EXPECT_EQ(drmsim::leaks(fd_).mappings, 1u);
    kms_framebuffer_destroy(fb);
    EXPECT_TRUE(drmsim::leaks(fd_).clean());
    EXPECT_EQ(drmsim::request_count("rmfb"), 1u);
    EXPECT_EQ(drmsim::request_count("destroydumb"), 1u);
}

TEST_F(Framebuffers, SeveralBuffersAreDistinct) {
    FramebufferPtr a = create(32, 32);
    FramebufferPtr b = create(32, 32, DRM_FORMAT_XBGR8888);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a->id, b->id);
    EXPECT_NE(a->handle, b->handle);
    a.reset();
    const drmsim::LeakReport held = drmsim::leaks(fd_);
    EXPECT_EQ(held.framebuffers, std::vector<uint32_t>{b->id});
    EXPECT_EQ(held.dumb_buffers, std::vector<uint32_t>{b->handle});
}

} // namespace
