// SPDX-License-Identifier: MIT
// Dumb buffers, their mappings and framebuffers.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "sim_test_support.h"

namespace {

using drmsim_test::Device;
using drmsim_test::SimTest;

struct Dumb {
    uint32_t handle = 0, pitch = 0;
    uint64_t size = 0;
};

int create_dumb(int fd, uint32_t w, uint32_t h, uint32_t bpp, Dumb &out) {
    drm_mode_create_dumb c{};
    c.width = w;
    c.height = h;
    c.bpp = bpp;
    int r = drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &c);
    out = {c.handle, c.pitch, c.size};
    return r;
}

int destroy_dumb(int fd, uint32_t handle) {
    drm_mode_destroy_dumb d{};
    d.handle = handle;
    return drmIoctl(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &d);
}

int map_offset(int fd, uint32_t handle, uint64_t &offset) {
    drm_mode_map_dumb m{};
    m.handle = handle;
    int r = drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &m);
    offset = m.offset;
    return r;
}

int add_fb(int fd, uint32_t w, uint32_t h, uint32_t format, uint32_t handle, uint32_t pitch,
           uint32_t offset, uint32_t &id) {
    uint32_t handles[4] = {handle}, pitches[4] = {pitch}, offsets[4] = {offset};
    return drmModeAddFB2(fd, w, h, format, handles, pitches, offsets, &id, 0);
}

struct DumbCase {
    const char *name;
    uint32_t width, height, bpp, align;
    int expected_errno;
    uint32_t pitch;
    uint64_t size;
};

// Named in test listings by its name, not by a dump of its bytes.
void PrintTo(const DumbCase &c, std::ostream *os) {
    *os << c.name;
}

class CreateDumbTest : public SimTest, public ::testing::WithParamInterface<DumbCase> {};

// Mirrors drm_mode_create_dumb: zero sizes are EINVAL, the pitch is the
// driver's alignment of width * ceil(bpp / 8), the size is page aligned.
TEST_P(CreateDumbTest, SizesAsTheKernel) {
    const DumbCase &c = GetParam();
    Device dev =
        Device::from_text(R"({"crtcs": 1, "dumb_pitch_align": )" + std::to_string(c.align) + "}");
    ASSERT_GE(dev.fd(), 0);
    Dumb d;
    int r = create_dumb(dev.fd(), c.width, c.height, c.bpp, d);
    if (c.expected_errno) {
        EXPECT_EQ(r, -1);
        EXPECT_EQ(errno, c.expected_errno);
        EXPECT_EQ(drmsim::leaks(dev.fd()).dumb_buffers.size(), 0u);
        return;
    }
    ASSERT_EQ(r, 0) << std::strerror(errno);
    EXPECT_EQ(d.handle, 1u);
    EXPECT_EQ(d.pitch, c.pitch);
    EXPECT_EQ(d.size, c.size);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CreateDumbTest,
    ::testing::Values(DumbCase{"width_zero", 0, 480, 32, 256, EINVAL, 0, 0},
                      DumbCase{"height_zero", 640, 0, 32, 256, EINVAL, 0, 0},
                      DumbCase{"bpp_zero", 640, 480, 0, 256, EINVAL, 0, 0},
                      DumbCase{"overflow", 0x80000000u, 2, 32, 256, EINVAL, 0, 0},
                      DumbCase{"vga_32bpp", 640, 480, 32, 256, 0, 2560, 2560 * 480},
                      DumbCase{"odd_width_rounds_pitch_up", 641, 3, 32, 256, 0, 2816, 4096 * 3},
                      DumbCase{"bpp_24_rounds_bytes_up", 10, 10, 24, 1, 0, 30, 4096},
                      DumbCase{"bpp_12_is_two_bytes", 10, 10, 12, 64, 0, 64, 4096},
                      DumbCase{"align_64", 100, 100, 32, 64, 0, 448, 45056}),
    [](const auto &info) { return std::string(info.param.name); });

// Mirrors GEM handles: the lowest free handle is reused; unknown handles
// are ENOENT for map and destroy.
TEST_F(SimTest, DumbHandlesAreReusedAndUnknownOnesRefused) {
    Device dev("small-3crtc.json");
    Dumb a, b, c;
    ASSERT_EQ(create_dumb(dev.fd(), 64, 64, 32, a), 0);
    ASSERT_EQ(create_dumb(dev.fd(), 64, 64, 32, b), 0);
    EXPECT_NE(a.handle, b.handle);
    ASSERT_EQ(destroy_dumb(dev.fd(), a.handle), 0);
    EXPECT_EQ(destroy_dumb(dev.fd(), a.handle), -1);
    EXPECT_EQ(errno, ENOENT);
    uint64_t offset = 0;
    EXPECT_EQ(map_offset(dev.fd(), a.handle, offset), -1);
    EXPECT_EQ(errno, ENOENT);
    ASSERT_EQ(create_dumb(dev.fd(), 64, 64, 32, c), 0);
    EXPECT_EQ(c.handle, a.handle);
    EXPECT_EQ(drmsim::leaks(dev.fd()).dumb_buffers, (std::vector<uint32_t>{a.handle, b.handle}));
    destroy_dumb(dev.fd(), b.handle);
    destroy_dumb(dev.fd(), c.handle);
}

// Writes through one mapping land in the buffer the CRTC scans out, byte
// order as written; a second mapping of the same offset sees them too.
TEST_F(SimTest, MappingWritesReachTheScanout) {
    Device dev("small-3crtc.json");
    Dumb d;
    ASSERT_EQ(create_dumb(dev.fd(), 640, 480, 32, d), 0);
    uint64_t offset = 0;
    ASSERT_EQ(map_offset(dev.fd(), d.handle, offset), 0);
    auto *p = static_cast<uint8_t *>(
        mmap(nullptr, d.size, PROT_READ | PROT_WRITE, MAP_SHARED, dev.fd(), off_t(offset)));
    ASSERT_NE(p, MAP_FAILED) << std::strerror(errno);
    EXPECT_EQ(drmsim::request_count("mmap"), 1u);
    EXPECT_EQ(drmsim::leaks(dev.fd()).mappings, 1u);
    std::memset(p, 0, d.size);
    // XR24 pixel (2, 1): bytes B, G, R, X.
    uint8_t *px = p + d.pitch + 2 * 4;
    px[0] = 0x33, px[1] = 0x22, px[2] = 0x11, px[3] = 0x00;

    auto *q = static_cast<uint8_t *>(
        mmap(nullptr, d.size, PROT_READ, MAP_SHARED, dev.fd(), off_t(offset)));
    ASSERT_NE(q, MAP_FAILED);
    EXPECT_EQ(q[d.pitch + 8], 0x33);
    EXPECT_EQ(drmsim::leaks(dev.fd()).mappings, 2u);
    ASSERT_EQ(munmap(q, d.size), 0);

    uint32_t fb = 0;
    ASSERT_EQ(add_fb(dev.fd(), 640, 480, DRM_FORMAT_XRGB8888, d.handle, d.pitch, 0, fb), 0);
    uint32_t con = drmsim::connector_id(dev.fd(), 0);
    drmModeConnector *c = drmModeGetConnector(dev.fd(), con);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(
        drmModeSetCrtc(dev.fd(), drmsim::crtc_id(dev.fd(), 0), fb, 0, 0, &con, 1, &c->modes[0]), 0);
    drmModeFreeConnector(c);
    drmsim::Picture pic = drmsim::scanout(dev.fd(), 0);
    ASSERT_EQ(pic.width, 640u);
    ASSERT_EQ(pic.height, 480u);
    EXPECT_EQ(pic.at(2, 1), 0x112233u);
    EXPECT_EQ(pic.at(0, 0), 0u);
    auto bytes = drmsim::framebuffer_bytes(dev.fd(), fb);
    ASSERT_EQ(bytes.size(), size_t(d.pitch) * 480);
    EXPECT_EQ(bytes[d.pitch + 10], 0x11);

    ASSERT_EQ(munmap(p, d.size), 0);
    EXPECT_EQ(drmsim::leaks(dev.fd()).mappings, 0u);
    drmModeRmFB(dev.fd(), fb);
    destroy_dumb(dev.fd(), d.handle);
}

// Mirrors the kernel's GEM mmap: only the exact fake offset of a buffer,
// at most its size, and only shared mappings.
TEST_F(SimTest, MmapRefusesWrongOffsetsSizesAndPrivateMappings) {
    Device dev("small-3crtc.json");
    Dumb d;
    ASSERT_EQ(create_dumb(dev.fd(), 64, 64, 32, d), 0);
    uint64_t offset = 0;
    ASSERT_EQ(map_offset(dev.fd(), d.handle, offset), 0);
    EXPECT_NE(offset, 0u);
    struct Case {
        size_t length;
        uint64_t offset;
        int flags;
    } cases[] = {{size_t(d.size), offset + 4096, MAP_SHARED},
                 {size_t(d.size) + 4096, offset, MAP_SHARED},
                 {size_t(d.size), offset, MAP_PRIVATE}};
    for (const Case &c : cases) {
        errno = 0;
        EXPECT_EQ(mmap(nullptr, c.length, PROT_READ, c.flags, dev.fd(), off_t(c.offset)),
                  MAP_FAILED);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(drmsim::leaks(dev.fd()).mappings, 0u);
    destroy_dumb(dev.fd(), d.handle);
}

// Mirrors GEM reference counting: a framebuffer keeps its buffer's memory
// after DESTROY_DUMB, though the handle is gone.
TEST_F(SimTest, FramebufferKeepsDestroyedBufferAlive) {
    Device dev("small-3crtc.json");
    Dumb d;
    ASSERT_EQ(create_dumb(dev.fd(), 8, 8, 32, d), 0);
    uint64_t offset = 0;
    ASSERT_EQ(map_offset(dev.fd(), d.handle, offset), 0);
    auto *p = static_cast<uint8_t *>(
        mmap(nullptr, d.size, PROT_READ | PROT_WRITE, MAP_SHARED, dev.fd(), off_t(offset)));
    ASSERT_NE(p, MAP_FAILED);
    p[0] = 0xab;
    uint32_t fb = 0;
    ASSERT_EQ(add_fb(dev.fd(), 8, 8, DRM_FORMAT_XRGB8888, d.handle, d.pitch, 0, fb), 0);
    ASSERT_EQ(munmap(p, d.size), 0);
    ASSERT_EQ(destroy_dumb(dev.fd(), d.handle), 0);
    EXPECT_TRUE(drmsim::leaks(dev.fd()).dumb_buffers.empty());
    EXPECT_EQ(drmsim::framebuffer_bytes(dev.fd(), fb).at(0), 0xab);
    ASSERT_EQ(drmModeRmFB(dev.fd(), fb), 0);
    EXPECT_TRUE(drmsim::leaks(dev.fd()).clean());
}

// A real driver's dumb buffers take no descriptors of the process, so the
// program's own descriptor numbers (stdin closed, say) stay as they are.
TEST_F(SimTest, BuffersTakeNoDescriptors) {
    Device dev("small-3crtc.json");
    const int free_before = open("/dev/null", O_RDONLY);
    ASSERT_GE(free_before, 0);
    close(free_before);
    Dumb d;
    ASSERT_EQ(create_dumb(dev.fd(), 64, 64, 32, d), 0);
    uint64_t offset = 0;
    ASSERT_EQ(map_offset(dev.fd(), d.handle, offset), 0);
    void *p = mmap(nullptr, d.size, PROT_READ, MAP_SHARED, dev.fd(), off_t(offset));
    ASSERT_NE(p, MAP_FAILED);
    const int free_after = open("/dev/null", O_RDONLY);
    EXPECT_EQ(free_after, free_before);
    close(free_after);
    munmap(p, d.size);
    destroy_dumb(dev.fd(), d.handle);
}

struct AddFbCase {
    const char *name;
    uint32_t width, height, format;
    bool real_handle;
    uint32_t pitch, offset;
    int expected_errno;
};

// Named in test listings by its name, not by a dump of its bytes.
void PrintTo(const AddFbCase &c, std::ostream *os) {
    *os << c.name;
}

class AddFb2Test : public SimTest, public ::testing::WithParamInterface<AddFbCase> {};

// Mirrors drm_mode_addfb2 and the GEM framebuffer helper, for a 64x64
// XR24 dumb buffer with a 256-byte pitch.
TEST_P(AddFb2Test, ValidatesAsTheKernel) {
    const AddFbCase &c = GetParam();
    Device dev("small-3crtc.json");
    Dumb d;
    ASSERT_EQ(create_dumb(dev.fd(), 64, 64, 32, d), 0);
    ASSERT_EQ(d.pitch, 256u);
    uint32_t id = 0;
    int r = add_fb(dev.fd(), c.width, c.height, c.format, c.real_handle ? d.handle : 77, c.pitch,
                   c.offset, id);
    if (c.expected_errno) {
        EXPECT_EQ(r, -c.expected_errno); // drmModeAddFB2 returns -errno
        EXPECT_TRUE(drmsim::leaks(dev.fd()).framebuffers.empty());
    } else {
        ASSERT_EQ(r, 0) << std::strerror(errno);
        EXPECT_GE(id, 31u);
        EXPECT_EQ(drmsim::leaks(dev.fd()).framebuffers, std::vector<uint32_t>{id});
        EXPECT_EQ(drmModeRmFB(dev.fd(), id), 0);
    }
    destroy_dumb(dev.fd(), d.handle);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, AddFb2Test,
    ::testing::Values(
        AddFbCase{"whole_buffer", 64, 64, DRM_FORMAT_XRGB8888, true, 256, 0, 0},
        AddFbCase{"smaller_than_buffer", 32, 16, DRM_FORMAT_ABGR8888, true, 256, 0, 0},
        AddFbCase{"rgb565_in_32bpp_buffer", 64, 64, DRM_FORMAT_RGB565, true, 128, 0, 0},
        AddFbCase{"unknown_handle", 64, 64, DRM_FORMAT_XRGB8888, false, 256, 0, ENOENT},
        AddFbCase{"format_the_core_does_not_know", 64, 64, 0x12345678, true, 256, 0, EINVAL},
        AddFbCase{"format_no_plane_takes", 64, 64, DRM_FORMAT_XRGB2101010, true, 256, 0, EINVAL},
        AddFbCase{"zero_width", 0, 64, DRM_FORMAT_XRGB8888, true, 256, 0, EINVAL},
        AddFbCase{"zero_height", 64, 0, DRM_FORMAT_XRGB8888, true, 256, 0, EINVAL},
        AddFbCase{"pitch_below_width_times_cpp", 64, 64, DRM_FORMAT_XRGB8888, true, 252, 0, EINVAL},
        AddFbCase{"rows_past_the_buffer", 64, 65, DRM_FORMAT_XRGB8888, true, 256, 0, EINVAL},
        AddFbCase{"offset_past_the_buffer", 64, 64, DRM_FORMAT_XRGB8888, true, 256, 256, EINVAL},
        AddFbCase{"offset_that_fits", 64, 63, DRM_FORMAT_XRGB8888, true, 256, 256, 0},
        AddFbCase{"size_overflow", 64, 64, DRM_FORMAT_XRGB8888, true, 0x4000000, 0, ERANGE}),
    [](const auto &info) { return std::string(info.param.name); });

// drm_mode_addfb: the legacy call names its format by bits per pixel and
// depth, mapped as drm_mode_legacy_fb_format does; a pair without a format
// is EINVAL.
TEST_F(SimTest, LegacyAddFbMapsBppAndDepthToAFormat) {
    const Device dev = Device::from_text(
        R"({"crtcs": 1, "connectors": [{"type": "DP", "connected": true, "modes": ["64x64"]}],
            "planes": [{"type": "primary",
                        "formats": ["XR24", "AR24", "XR30", "RG24", "RG16", "XR15", "C8  "]}]})");
    Dumb d;
    ASSERT_EQ(create_dumb(dev.fd(), 64, 64, 32, d), 0);
    struct {
        uint8_t bpp, depth;
        uint32_t format; // 0: none
    } const cases[] = {{32, 24, DRM_FORMAT_XRGB8888}, {32, 32, DRM_FORMAT_ARGB8888},
                       {32, 30, DRM_FORMAT_XRGB2101010}, {24, 24, DRM_FORMAT_RGB888},
                       {16, 16, DRM_FORMAT_RGB565},     {16, 15, DRM_FORMAT_XRGB1555},
                       {8, 8, DRM_FORMAT_C8},           {32, 16, 0},
                       {16, 24, 0},                     {24, 32, 0},
                       {8, 15, 0}};
    for (const auto &c : cases) {
        uint32_t id = 0;
        const int r = drmModeAddFB(dev.fd(), 64, 64, c.depth, c.bpp, d.pitch, d.handle, &id);
        EXPECT_EQ(r, c.format ? 0 : -EINVAL) << int(c.bpp) << " bpp, depth " << int(c.depth);
        if (r)
            continue;
        drmModeFB2 *fb = drmModeGetFB2(dev.fd(), id);
        ASSERT_NE(fb, nullptr);
        EXPECT_EQ(fb->pixel_format, c.format) << int(c.bpp) << " bpp, depth " << int(c.depth);
        drmCloseBufferHandle(dev.fd(), fb->handles[0]);
        drmModeFreeFB2(fb);
        drmModeRmFB(dev.fd(), id);
    }
    destroy_dumb(dev.fd(), d.handle);
}

// Mirrors the idr: framebuffer ids come after the device's objects and the
// lowest free one is reused; RMFB of an unknown id is ENOENT.
TEST_F(SimTest, FramebufferIdsAndRemoval) {
    Device dev("small-3crtc.json");
    Dumb d;
    ASSERT_EQ(create_dumb(dev.fd(), 16, 16, 32, d), 0);
    uint32_t a = 0, b = 0, c = 0;
    ASSERT_EQ(add_fb(dev.fd(), 16, 16, DRM_FORMAT_XRGB8888, d.handle, d.pitch, 0, a), 0);
    ASSERT_EQ(add_fb(dev.fd(), 16, 16, DRM_FORMAT_XRGB8888, d.handle, d.pitch, 0, b), 0);
    EXPECT_EQ(b, a + 1);
    EXPECT_GT(a, drmsim::connector_id(dev.fd(), 1));
    drmModeRes *res = drmModeGetResources(dev.fd());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(res->count_fbs, 2);
    drmModeFreeResources(res);
    ASSERT_EQ(drmModeRmFB(dev.fd(), a), 0);
    EXPECT_EQ(drmModeRmFB(dev.fd(), a), -ENOENT);
    ASSERT_EQ(add_fb(dev.fd(), 16, 16, DRM_FORMAT_XRGB8888, d.handle, d.pitch, 0, c), 0);
    EXPECT_EQ(c, a);
    drmModeRmFB(dev.fd(), b);
    drmModeRmFB(dev.fd(), c);
    destroy_dumb(dev.fd(), d.handle);
}

} // namespace
