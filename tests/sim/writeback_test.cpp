// SPDX-License-Identifier: MIT
// Writeback connectors and the CRC files of the served debugfs folder,
// each refusal with the kernel check it mirrors.
#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include <zlib.h>

#include "sim_test_support.h"

namespace {

using drmsim_test::Commit;
using drmsim_test::Device;
using drmsim_test::first_mode;
using drmsim_test::property_value;
using drmsim_test::SimTest;
using drmsim_test::SolidFb;

// writeback-2crtc: screen 0 (1024x768) and the writeback connector 1, which
// either CRTC can feed. The client has the atomic and writeback caps.
class WritebackTest : public SimTest {
public:
    void SetUp() override {
        SimTest::SetUp();
        dev_ = std::make_unique<Device>("writeback-2crtc.json");
        fd_ = dev_->fd();
        ASSERT_EQ(drmSetClientCap(fd_, DRM_CLIENT_CAP_ATOMIC, 1), 0);
        ASSERT_EQ(drmSetClientCap(fd_, DRM_CLIENT_CAP_WRITEBACK_CONNECTORS, 1), 0);
        shown_ = std::make_unique<SolidFb>(fd_, 1024, 768, DRM_FORMAT_XRGB8888, 0xff123456);
        capture_ = std::make_unique<SolidFb>(fd_, 1024, 768, DRM_FORMAT_XRGB8888, 0);
        const drmModeModeInfo mode = first_mode(fd_, 0);
        ASSERT_EQ(drmModeCreatePropertyBlob(fd_, &mode, sizeof mode, &blob_), 0);
    }
    void TearDown() override {
        drmModeDestroyPropertyBlob(fd_, blob_);
        shown_.reset();
        capture_.reset();
        other_.reset();
        dev_.reset();
        SimTest::TearDown();
    }
    uint32_t writeback() const { return drmsim::connector_id(fd_, 1); }
    // Screen 0 on CRTC 0 showing `shown_`, with `more` added to the commit.
    int commit(const std::function<void(Commit &)> &more, uint32_t flags = 0) {
        Commit c(fd_);
        c.set(drmsim::connector_id(fd_, 0), "CRTC_ID", drmsim::crtc_id(fd_, 0))
            .set(drmsim::crtc_id(fd_, 0), "MODE_ID", blob_)
            .set(drmsim::crtc_id(fd_, 0), "ACTIVE", 1)
            .set(drmsim::plane_id(fd_, 0), "FB_ID", shown_->id())
            .set(drmsim::plane_id(fd_, 0), "CRTC_ID", drmsim::crtc_id(fd_, 0));
        for (auto [name, value] : {std::pair{"SRC_W", 1024u << 16}, {"SRC_H", 768u << 16},
                                   {"CRTC_W", 1024u}, {"CRTC_H", 768u}})
            c.set(drmsim::plane_id(fd_, 0), name, value);
        more(c);
        return c.commit(DRM_MODE_ATOMIC_ALLOW_MODESET | flags);
    }

    std::unique_ptr<Device> dev_;
    int fd_ = -1;
    std::unique_ptr<SolidFb> shown_, capture_, other_;
    uint32_t blob_ = 0;
};

// drm_mode_getresources lists writeback connectors only to a client with
// DRM_CLIENT_CAP_WRITEBACK_CONNECTORS, which needs the atomic cap.
TEST_F(SimTest, WritebackConnectorsOnlyForClientsThatAsk) {
    Device dev("writeback-2crtc.json");
    EXPECT_EQ(drmSetClientCap(dev.fd(), DRM_CLIENT_CAP_WRITEBACK_CONNECTORS, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    auto count = [&] {
        drmModeRes *res = drmModeGetResources(dev.fd());
        const int n = res ? res->count_connectors : -1;
        drmModeFreeResources(res);
        return n;
    };
    EXPECT_EQ(count(), 1);
    ASSERT_EQ(drmSetClientCap(dev.fd(), DRM_CLIENT_CAP_ATOMIC, 1), 0);
    ASSERT_EQ(drmSetClientCap(dev.fd(), DRM_CLIENT_CAP_WRITEBACK_CONNECTORS, 1), 0);
    EXPECT_EQ(count(), 2);
}

// drm_atomic_helper_commit_writebacks and drm_writeback_signal_completion:
// the capture holds what the CRTC composes, and the out-fence signals.
TEST_F(WritebackTest, CaptureHoldsTheComposedFrameAndTheFenceSignals) {
    int32_t fence = -7;
    ASSERT_EQ(commit([&](Commit &c) {
                  c.set(writeback(), "CRTC_ID", drmsim::crtc_id(fd_, 0))
                      .set(writeback(), "WRITEBACK_FB_ID", capture_->id())
                      .set(writeback(), "WRITEBACK_OUT_FENCE_PTR", uintptr_t(&fence));
              }),
              0);
    ASSERT_GE(fence, 0);
    pollfd p{fence, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 1);
    close(fence);
    const std::vector<uint8_t> bytes = drmsim::framebuffer_bytes(fd_, capture_->id());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16, 0x123456);
    EXPECT_EQ(property_value(fd_, writeback(), "WRITEBACK_FB_ID"), 0u); // reads back 0
}

struct Refusal {
    const char *name;
    const char *mirrors;
    std::function<void(WritebackTest &, Commit &, int32_t &fence)> add;
};

void PrintTo(const Refusal &r, std::ostream *os) {
    *os << r.name << " (" << r.mirrors << ")";
}

class WritebackRefusal : public WritebackTest, public testing::WithParamInterface<Refusal> {};

TEST_P(WritebackRefusal, IsEinvalAndTheFenceStaysUnset) {
    int32_t fence = 5;
    EXPECT_EQ(commit([&](Commit &c) { GetParam().add(*this, c, fence); }), EINVAL);
    EXPECT_EQ(fence, -1);
}

using T = WritebackTest;
INSTANTIATE_TEST_SUITE_P(
    Sim, WritebackRefusal,
    testing::Values(
        Refusal{"FenceWithoutFramebuffer", "drm_atomic_connector_check: out-fence without fb",
                [](T &t, Commit &c, int32_t &fence) {
                    c.set(t.writeback(), "CRTC_ID", drmsim::crtc_id(t.fd_, 0))
                        .set(t.writeback(), "WRITEBACK_FB_ID", 0)
                        .set(t.writeback(), "WRITEBACK_OUT_FENCE_PTR", uintptr_t(&fence));
                }},
        Refusal{"FramebufferWithoutCrtc", "drm_atomic_connector_check: fb without CRTC",
                [](T &t, Commit &c, int32_t &fence) {
                    c.set(t.writeback(), "WRITEBACK_FB_ID", t.capture_->id())
                        .set(t.writeback(), "WRITEBACK_OUT_FENCE_PTR", uintptr_t(&fence));
                }},
        Refusal{"CaptureOfAnotherSize", "vkms_wb_encoder_atomic_check: fb size",
                [](T &t, Commit &c, int32_t &fence) {
                    t.other_ = std::make_unique<SolidFb>(t.fd_, 640, 480, DRM_FORMAT_XRGB8888, 0);
                    c.set(t.writeback(), "CRTC_ID", drmsim::crtc_id(t.fd_, 0))
                        .set(t.writeback(), "WRITEBACK_FB_ID", t.other_->id())
                        .set(t.writeback(), "WRITEBACK_OUT_FENCE_PTR", uintptr_t(&fence));
                }},
        Refusal{"FormatNotListed", "drm_atomic_helper_check_wb_encoder_state",
                [](T &t, Commit &c, int32_t &fence) {
                    t.other_ = std::make_unique<SolidFb>(t.fd_, 1024, 768, DRM_FORMAT_RGB565, 0);
                    c.set(t.writeback(), "CRTC_ID", drmsim::crtc_id(t.fd_, 0))
                        .set(t.writeback(), "WRITEBACK_FB_ID", t.other_->id())
                        .set(t.writeback(), "WRITEBACK_OUT_FENCE_PTR", uintptr_t(&fence));
                }}),
    [](const auto &info) { return std::string(info.param.name); });

// drm_debugfs_crc.c: crc/data opens only on a CRTC that is on, needs a
// source selected in crc/control, and reads one line per frame.
TEST_F(WritebackTest, CrcFilesAnswerAsTheKernelsDo) {
    const std::string dir = std::filesystem::temp_directory_path() / "drmsim-test-debugfs";
    drmsim::set_debugfs_dir(dir);
    drmsim::use_virtual_clock(true);
    const std::string data = dir + "/crtc-0/crc/data";
    EXPECT_EQ(open(data.c_str(), O_RDONLY), -1);
    EXPECT_EQ(errno, EIO); // the CRTC is off
    ASSERT_EQ(commit([](Commit &) {}), 0);
    const int control = open((dir + "/crtc-0/crc/control").c_str(), O_WRONLY);
    ASSERT_GE(control, 0);
    EXPECT_EQ(write(control, "bogus", 5), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(write(control, "auto\n", 5), 5);
    const int fd = open(data.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(open(data.c_str(), O_RDONLY), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(write(control, "auto", 4), -1);
    EXPECT_EQ(errno, EBUSY); // the source cannot change while data is open
    char line[64] = {};
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_EQ(read(fd, line, 10), -1);
    EXPECT_EQ(errno, EINVAL); // shorter than a line
    // One line of LINE_LEN(1) bytes: the text and the NUL the kernel copies out with it.
    ASSERT_EQ(read(fd, line, sizeof line), 23);
    EXPECT_EQ(line[22], '\0');
    // The first frame after the open, and CRC-32 of the composed picture.
    const drmsim::Picture shown = drmsim::scanout(fd_, 0);
    uLong crc = crc32(0, Z_NULL, 0);
    for (uint32_t px : shown.pixels) {
        const uint8_t le[4] = {uint8_t(px), uint8_t(px >> 8), uint8_t(px >> 16), 0};
        crc = crc32(crc, le, 4);
    }
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0x00000001 0x%08lx\n", crc);
    EXPECT_EQ(std::string(line, 22), wanted);
    close(fd);
    close(control);
    drmsim::set_debugfs_dir("");
    drmsim::use_virtual_clock(false);
}

} // namespace
