// SPDX-License-Identifier: MIT
// Colour tables, GETFB2, the cursor size caps and the chroma planes of
// ADDFB2, each as the kernel answers them.
#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cerrno>
#include <vector>

#include "sim_test_support.h"

namespace {

using drmsim_test::Device;
using drmsim_test::SimTest;

constexpr const char *kColourDevice =
    R"({"crtcs": 2, "gamma_size": 256, "cursor_width": 256, "cursor_height": 32,
        "connectors": [{"type": "HDMI-A", "connected": true, "modes": ["640x480"]}],
        "planes": [{"type": "primary", "formats": ["XR24", "NV12", "YU12", "C8  "]}]})";

int set_gamma(int fd, uint32_t crtc, uint32_t size) {
    std::vector<uint16_t> table(size, 0x1234);
    return drmModeCrtcSetGamma(fd, crtc, size, table.data(), table.data(), table.data()) ? -errno
                                                                                           : 0;
}

// drm_mode_gamma_set_ioctl / _get_ioctl: ENOENT for an unknown CRTC,
// ENOSYS when the CRTC has no table, EINVAL for another size than its own;
// GETCRTC reports the size; the table set is the table read.
TEST_F(SimTest, GammaCallsCheckAsTheKernelDoes) {
    const Device device = Device::from_text(kColourDevice);
    const Device without = Device("two-crtcs.json");
    const uint32_t crtc = drmsim::crtc_id(device.fd(), 0);
    drmModeCrtc *info = drmModeGetCrtc(device.fd(), crtc);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->gamma_size, 256);
    drmModeFreeCrtc(info);
    EXPECT_EQ(set_gamma(device.fd(), 9999, 256), -ENOENT);
    EXPECT_EQ(set_gamma(without.fd(), drmsim::crtc_id(without.fd(), 0), 256), -ENOSYS);
    EXPECT_EQ(set_gamma(device.fd(), crtc, 255), -EINVAL);
    std::vector<uint16_t> r(255), g(255), b(255);
    EXPECT_NE(drmModeCrtcGetGamma(device.fd(), crtc, 255, r.data(), g.data(), b.data()), 0);
    EXPECT_EQ(errno, EINVAL);

    EXPECT_TRUE(drmsim::leaks(device.fd()).gamma.empty()) << "a linear ramp at start";
    ASSERT_EQ(set_gamma(device.fd(), crtc, 256), 0);
    r.resize(256), g.resize(256), b.resize(256);
    ASSERT_EQ(drmModeCrtcGetGamma(device.fd(), crtc, 256, r.data(), g.data(), b.data()), 0);
    EXPECT_EQ(b[255], 0x1234);
    EXPECT_EQ(drmsim::leaks(device.fd()).gamma, std::vector<uint32_t>{0});
}

// DRM_CAP_CURSOR_WIDTH and _HEIGHT come from the description.
TEST_F(SimTest, CursorSizeCaps) {
    const Device device = Device::from_text(kColourDevice);
    uint64_t width = 0, height = 0;
    ASSERT_EQ(drmGetCap(device.fd(), DRM_CAP_CURSOR_WIDTH, &width), 0);
    ASSERT_EQ(drmGetCap(device.fd(), DRM_CAP_CURSOR_HEIGHT, &height), 0);
    EXPECT_EQ(width, 256u);
    EXPECT_EQ(height, 32u);
}

// framebuffer_check rounds a chroma plane's width up (EINVAL for a pitch
// below it); drm_mode_getfb2_ioctl answers the planes as registered, with
// one new handle for a buffer that several planes share.
TEST_F(SimTest, ChromaPlanesAndGetfb2) {
    const Device device = Device::from_text(kColourDevice);
    drm_mode_create_dumb dumb{};
    dumb.width = 64;
    dumb.height = 96;
    dumb.bpp = 8;
    ASSERT_EQ(drmIoctl(device.fd(), DRM_IOCTL_MODE_CREATE_DUMB, &dumb), 0);
    const uint32_t h = dumb.handle, p = dumb.pitch;
    uint32_t id = 0;
    const uint32_t nv12_handles[4] = {h, h}, offsets[4] = {0, p * 63};
    const uint32_t short_pitches[4] = {p, 62};
    EXPECT_NE(drmModeAddFB2(device.fd(), 63, 63, DRM_FORMAT_NV12, nv12_handles, short_pitches,
                            offsets, &id, 0),
              0)
        << "63 pixels take 32 Cb:Cr pairs, 64 bytes";
    EXPECT_EQ(errno, EINVAL);
    const uint32_t pitches[4] = {p, p};
    ASSERT_EQ(drmModeAddFB2(device.fd(), 63, 63, DRM_FORMAT_NV12, nv12_handles, pitches, offsets,
                            &id, 0),
              0);

    drmModeFB2 *fb = drmModeGetFB2(device.fd(), id);
    ASSERT_NE(fb, nullptr);
    EXPECT_EQ(fb->pixel_format, DRM_FORMAT_NV12);
    EXPECT_EQ(fb->pitches[1], p);
    EXPECT_EQ(fb->offsets[1], p * 63);
    EXPECT_EQ(fb->modifier, 0u);
    EXPECT_NE(fb->handles[0], h);
    EXPECT_EQ(fb->handles[1], fb->handles[0]);
    EXPECT_EQ(drmsim::leaks(device.fd()).dumb_buffers, (std::vector<uint32_t>{h, fb->handles[0]}));
    EXPECT_EQ(drmCloseBufferHandle(device.fd(), fb->handles[0]), 0);
    drmModeFreeFB2(fb);
    EXPECT_EQ(drmModeGetFB2(device.fd(), id + 100), nullptr);
    EXPECT_EQ(errno, ENOENT);
    drmModeRmFB(device.fd(), id);
}

} // namespace

namespace {

uint64_t crtc_property(int fd, uint32_t crtc, const std::string &name, uint32_t *id = nullptr) {
    drmModeObjectProperties *props = drmModeObjectGetProperties(fd, crtc, DRM_MODE_OBJECT_CRTC);
    uint64_t value = UINT64_MAX;
    for (uint32_t i = 0; props && i < props->count_props; ++i) {
        drmModePropertyRes *p = drmModeGetProperty(fd, props->props[i]);
        if (p && name == p->name) {
            value = props->prop_values[i];
            if (id)
                *id = p->prop_id;
        }
        drmModeFreeProperty(p);
    }
    drmModeFreeObjectProperties(props);
    return value;
}

// drm_crtc_enable_color_mgmt's GAMMA_LUT and GAMMA_LUT_SIZE:
// drm_atomic_replace_property_blob_from_id takes whole drm_color_lut
// entries (EINVAL otherwise), drivers a table of GAMMA_LUT_SIZE entries;
// drm_atomic_helper_legacy_gamma_set makes SETGAMMA's table the blob.
TEST_F(SimTest, GammaLutPropertyChecksAsTheKernelDoes) {
    const Device device = Device::from_text(kColourDevice);
    const int fd = device.fd();
    ASSERT_EQ(drmSetClientCap(fd, DRM_CLIENT_CAP_ATOMIC, 1), 0);
    const uint32_t crtc = drmsim::crtc_id(fd, 0);
    uint32_t lut_property = 0;
    EXPECT_EQ(crtc_property(fd, crtc, "GAMMA_LUT", &lut_property), 0u);
    EXPECT_EQ(crtc_property(fd, crtc, "GAMMA_LUT_SIZE"), 256u);
    auto commit = [&](size_t bytes) {
        std::vector<drm_color_lut> lut(256, drm_color_lut{0x4000, 0x8000, 0xc000, 0});
        uint32_t blob = 0;
        EXPECT_EQ(drmModeCreatePropertyBlob(fd, lut.data(), bytes, &blob), 0);
        drmModeAtomicReq *req = drmModeAtomicAlloc();
        drmModeAtomicAddProperty(req, crtc, lut_property, blob);
        const int result = drmModeAtomicCommit(fd, req, 0, nullptr) ? -errno : 0;
        drmModeAtomicFree(req);
        drmModeDestroyPropertyBlob(fd, blob);
        return result;
    };
    EXPECT_EQ(commit(256 * 8 - 4), -EINVAL);
    EXPECT_EQ(commit(255 * 8), -EINVAL);
    ASSERT_EQ(commit(256 * 8), 0);
    std::vector<uint16_t> r(256), g(256), b(256);
    ASSERT_EQ(drmModeCrtcGetGamma(fd, crtc, 256, r.data(), g.data(), b.data()), 0);
    EXPECT_EQ(g[17], 0x8000);
    ASSERT_EQ(set_gamma(fd, crtc, 256), 0);
    drmModePropertyBlobRes *blob = drmModeGetPropertyBlob(
        fd, uint32_t(crtc_property(fd, crtc, "GAMMA_LUT")));
    ASSERT_NE(blob, nullptr);
    ASSERT_EQ(blob->length, 256u * 8);
    EXPECT_EQ(static_cast<const drm_color_lut *>(blob->data)[9].blue, 0x1234);
    drmModeFreePropertyBlob(blob);
}

} // namespace
