// SPDX-License-Identifier: MIT
// SETCRTC and SETPLANE: the kernel's checks, connector routing, and what
// the CRTCs then scan out.
#include <sys/mman.h>

#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "sim_test_support.h"

namespace {

using drmsim_test::Device;
using drmsim_test::first_mode;
using drmsim_test::SimTest;
using drmsim_test::SolidFb;

// Three CRTCs; HDMI-A can be driven by CRTCs 0 and 2 only, DP by all.
// Primary planes take XR24, AR24, RG16; the overlay XR24, XB24 and formats
// with alpha on CRTCs 0 and 1.
constexpr const char *kDevice = R"({
  "crtcs": 3,
  "connectors": [
    {"type": "HDMI-A", "connected": true, "modes": ["640x480@60"], "possible_crtcs": 5},
    {"type": "DP", "connected": true, "modes": ["320x240@60"]}
  ],
  "planes": [
    {"type": "primary", "possible_crtcs": 1, "formats": ["XR24", "AR24", "RG16"]},
    {"type": "primary", "possible_crtcs": 2, "formats": ["XR24", "AR24", "RG16"]},
    {"type": "primary", "possible_crtcs": 4, "formats": ["XR24", "AR24", "RG16"]},
    {"type": "overlay", "possible_crtcs": 3,
     "formats": ["XR24", "AR24", "XB24", "AR15", "RA15", "AR12", "AR30", "AR4H"]}
  ]
})";

int set_crtc(int fd, unsigned crtc, uint32_t fb, std::vector<unsigned> connectors,
             const drmModeModeInfo *mode, uint32_t x = 0, uint32_t y = 0) {
    std::vector<uint32_t> ids;
    for (unsigned c : connectors)
        ids.push_back(drmsim::connector_id(fd, c));
    return drmModeSetCrtc(fd, drmsim::crtc_id(fd, crtc), fb, x, y, ids.data(), int(ids.size()),
                          const_cast<drmModeModeInfo *>(mode));
}

enum class FbChoice { made, unknown, zero, keep_current };
enum class ModeChoice { first, none, no_clock, zero_width, aspect_ratio };

struct SetCrtcCase {
    const char *name;
    uint32_t fb_w, fb_h, format;
    FbChoice fb;
    int crtc;                    // index, or -1 for an id the device lacks
    std::vector<int> connectors; // indices, -1 for an id the device lacks
    ModeChoice mode;
    uint32_t x, y;
    int expected_errno;
};

// Named in test listings by its name, not by a dump of its bytes.
void PrintTo(const SetCrtcCase &c, std::ostream *os) {
    *os << c.name;
}

class SetCrtcTest : public SimTest, public ::testing::WithParamInterface<SetCrtcCase> {};

// Mirrors drm_mode_setcrtc and the atomic helpers' set_config: each refusal
// with its errno, and every call, refused or not, in the journal.
TEST_P(SetCrtcTest, ChecksAsTheKernel) {
    const SetCrtcCase &c = GetParam();
    Device dev = Device::from_text(kDevice);
    ASSERT_GE(dev.fd(), 0);
    SolidFb fb(dev.fd(), c.fb_w, c.fb_h, c.format, 0xff0000);
    ASSERT_NE(fb.id(), 0u);
    drmModeModeInfo mode = first_mode(dev.fd(), 0);
    if (c.mode == ModeChoice::no_clock)
        mode.clock = 0;
    if (c.mode == ModeChoice::zero_width)
        mode.hdisplay = 0;
    if (c.mode == ModeChoice::aspect_ratio)
        mode.flags |= DRM_MODE_FLAG_PIC_AR_16_9;
    uint32_t fb_id = c.fb == FbChoice::made      ? fb.id()
                     : c.fb == FbChoice::unknown ? 999
                     : c.fb == FbChoice::zero    ? 0
                                                 : UINT32_MAX;
    uint32_t crtc_id = c.crtc >= 0 ? drmsim::crtc_id(dev.fd(), unsigned(c.crtc)) : 998;
    std::vector<uint32_t> cons;
    for (int i : c.connectors)
        cons.push_back(i >= 0 ? drmsim::connector_id(dev.fd(), unsigned(i)) : 997);

    int r = drmModeSetCrtc(dev.fd(), crtc_id, fb_id, c.x, c.y, cons.data(), int(cons.size()),
                           c.mode == ModeChoice::none ? nullptr : &mode);
    EXPECT_EQ(r, -c.expected_errno) << std::strerror(-r);

    auto journal = drmsim::journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].request, "SETCRTC");
    EXPECT_EQ(journal[0].crtc, crtc_id);
    EXPECT_EQ(journal[0].crtc_index, c.crtc);
    EXPECT_EQ(journal[0].fb, fb_id);
    EXPECT_EQ(journal[0].connectors, cons);
    EXPECT_EQ(journal[0].connector_indices, c.connectors);
    EXPECT_EQ(journal[0].mode.has_value(), c.mode != ModeChoice::none);
    EXPECT_EQ(journal[0].result, -c.expected_errno);
    if (c.crtc >= 0) {
        const bool on = c.expected_errno == 0 && c.mode != ModeChoice::none;
        EXPECT_EQ(drmsim::crtc_state(dev.fd(), unsigned(c.crtc)).active, on);
    }
}

const uint32_t XR24 = DRM_FORMAT_XRGB8888;

INSTANTIATE_TEST_SUITE_P(
    Checks, SetCrtcTest,
    ::testing::Values(
        SetCrtcCase{"shows", 640, 480, XR24, FbChoice::made, 0, {0}, ModeChoice::first, 0, 0, 0},
        SetCrtcCase{"panned_in_larger_fb",
                    700,
                    500,
                    XR24,
                    FbChoice::made,
                    0,
                    {0},
                    ModeChoice::first,
                    60,
                    20,
                    0},
        SetCrtcCase{"rgb565",
                    640,
                    480,
                    DRM_FORMAT_RGB565,
                    FbChoice::made,
                    0,
                    {0},
                    ModeChoice::first,
                    0,
                    0,
                    0},
        SetCrtcCase{"two_connectors",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    0,
                    {0, 1},
                    ModeChoice::first,
                    0,
                    0,
                    0},
        SetCrtcCase{"viewport_past_fb",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    0,
                    {0},
                    ModeChoice::first,
                    1,
                    0,
                    ENOSPC},
        SetCrtcCase{"fb_smaller_than_mode",
                    320,
                    240,
                    XR24,
                    FbChoice::made,
                    0,
                    {0},
                    ModeChoice::first,
                    0,
                    0,
                    ENOSPC},
        SetCrtcCase{"x_beyond_16_bits",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    0,
                    {0},
                    ModeChoice::first,
                    0x10000,
                    0,
                    ERANGE},
        SetCrtcCase{"unknown_crtc",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    -1,
                    {0},
                    ModeChoice::first,
                    0,
                    0,
                    ENOENT},
        SetCrtcCase{"unknown_fb",
                    640,
                    480,
                    XR24,
                    FbChoice::unknown,
                    0,
                    {0},
                    ModeChoice::first,
                    0,
                    0,
                    ENOENT},
        SetCrtcCase{"fb_zero_with_mode",
                    640,
                    480,
                    XR24,
                    FbChoice::zero,
                    0,
                    {0},
                    ModeChoice::first,
                    0,
                    0,
                    ENOENT},
        SetCrtcCase{"unknown_connector",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    0,
                    {-1},
                    ModeChoice::first,
                    0,
                    0,
                    ENOENT},
        SetCrtcCase{"crtc_cannot_drive_connector",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    1,
                    {0},
                    ModeChoice::first,
                    0,
                    0,
                    EINVAL},
        SetCrtcCase{"mode_without_connectors",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    0,
                    {},
                    ModeChoice::first,
                    0,
                    0,
                    EINVAL},
        SetCrtcCase{"connectors_without_mode",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    0,
                    {0},
                    ModeChoice::none,
                    0,
                    0,
                    EINVAL},
        SetCrtcCase{"mode_without_clock",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    0,
                    {0},
                    ModeChoice::no_clock,
                    0,
                    0,
                    EINVAL},
        SetCrtcCase{"mode_of_zero_width",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    0,
                    {0},
                    ModeChoice::zero_width,
                    0,
                    0,
                    EINVAL},
        SetCrtcCase{"aspect_ratio_without_cap",
                    640,
                    480,
                    XR24,
                    FbChoice::made,
                    0,
                    {0},
                    ModeChoice::aspect_ratio,
                    0,
                    0,
                    EINVAL},
        SetCrtcCase{"format_primary_refuses",
                    640,
                    480,
                    DRM_FORMAT_XBGR8888,
                    FbChoice::made,
                    0,
                    {0},
                    ModeChoice::first,
                    0,
                    0,
                    EINVAL},
        SetCrtcCase{"keep_fb_without_one",
                    640,
                    480,
                    XR24,
                    FbChoice::keep_current,
                    0,
                    {0},
                    ModeChoice::first,
                    0,
                    0,
                    EINVAL},
        SetCrtcCase{"turn_off", 640, 480, XR24, FbChoice::zero, 0, {}, ModeChoice::none, 0, 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

// drm_mode_validate_basic: a mode needs a picture and each sync edge at or
// after the one before it; equal edges are valid. drm_mode_convert_umode
// takes a clock and a refresh rate up to INT_MAX. drm_mode_setcrtc takes a
// picture aspect ratio once the client sets DRM_CLIENT_CAP_ASPECT_RATIO.
TEST_F(SimTest, SetCrtcChecksTheModeAsTheKernel) {
    Device dev = Device::from_text(kDevice);
    SolidFb fb(dev.fd(), 640, 480, XR24, 0xff0000);
    using Timing = uint16_t drmModeModeInfo::*;
    using M = drmModeModeInfo;
    struct {
        const char *name;
        Timing field, from; // field = from + delta; from null: field = 0
        int delta, expected_errno;
    } const cases[] = {
        {"no_vdisplay", &M::vdisplay, nullptr, 0, EINVAL},
        {"hsync_start_at_hdisplay", &M::hsync_start, &M::hdisplay, 0, 0},
        {"hsync_start_in_picture", &M::hsync_start, &M::hdisplay, -1, EINVAL},
        {"hsync_end_at_start", &M::hsync_end, &M::hsync_start, 0, 0},
        {"hsync_end_before_start", &M::hsync_end, &M::hsync_start, -1, EINVAL},
        {"htotal_at_hsync_end", &M::htotal, &M::hsync_end, 0, 0},
        {"htotal_before_hsync_end", &M::htotal, &M::hsync_end, -1, EINVAL},
        {"vsync_start_at_vdisplay", &M::vsync_start, &M::vdisplay, 0, 0},
        {"vsync_start_in_picture", &M::vsync_start, &M::vdisplay, -1, EINVAL},
        {"vsync_end_at_start", &M::vsync_end, &M::vsync_start, 0, 0},
        {"vsync_end_before_start", &M::vsync_end, &M::vsync_start, -1, EINVAL},
        {"vtotal_at_vsync_end", &M::vtotal, &M::vsync_end, 0, 0},
        {"vtotal_before_vsync_end", &M::vtotal, &M::vsync_end, -1, EINVAL}};
    for (const auto &c : cases) {
        drmModeModeInfo mode = first_mode(dev.fd(), 0);
        mode.*c.field = uint16_t(c.from ? mode.*c.from + c.delta : 0);
        EXPECT_EQ(set_crtc(dev.fd(), 0, fb.id(), {0}, &mode), -c.expected_errno) << c.name;
    }
    drmModeModeInfo fastest = first_mode(dev.fd(), 0);
    fastest.clock = fastest.vrefresh = INT_MAX;
    EXPECT_EQ(set_crtc(dev.fd(), 0, fb.id(), {0}, &fastest), 0);
    for (uint32_t drmModeModeInfo::*field : {&drmModeModeInfo::clock, &drmModeModeInfo::vrefresh}) {
        drmModeModeInfo past = fastest;
        ++(past.*field);
        EXPECT_EQ(set_crtc(dev.fd(), 0, fb.id(), {0}, &past), -ERANGE);
    }
    drmModeModeInfo wide = first_mode(dev.fd(), 0);
    wide.flags |= DRM_MODE_FLAG_PIC_AR_16_9;
    EXPECT_EQ(set_crtc(dev.fd(), 0, fb.id(), {0}, &wide), -EINVAL);
    ASSERT_EQ(drmSetClientCap(dev.fd(), DRM_CLIENT_CAP_ASPECT_RATIO, 1), 0);
    EXPECT_EQ(set_crtc(dev.fd(), 0, fb.id(), {0}, &wide), 0);
}

// Mirrors legacy SETCRTC through the atomic helpers: a connector taken by
// another CRTC leaves its old CRTC without connectors, which is disabled
// along with its primary plane.
TEST_F(SimTest, MovingTheOnlyConnectorDisablesTheOldCrtc) {
    Device dev = Device::from_text(kDevice);
    SolidFb fb(dev.fd(), 640, 480, XR24, 0x00ff00);
    drmModeModeInfo mode = first_mode(dev.fd(), 0);
    ASSERT_EQ(set_crtc(dev.fd(), 0, fb.id(), {0}, &mode), 0);
    ASSERT_EQ(set_crtc(dev.fd(), 2, fb.id(), {0}, &mode), 0);

    EXPECT_FALSE(drmsim::crtc_state(dev.fd(), 0).active);
    EXPECT_EQ(drmsim::scanout(dev.fd(), 0).width, 0u);
    drmsim::CrtcState now = drmsim::crtc_state(dev.fd(), 2);
    EXPECT_TRUE(now.active);
    EXPECT_EQ(now.fb, fb.id());
    EXPECT_EQ(now.connectors, std::vector<uint32_t>{drmsim::connector_id(dev.fd(), 0)});

    drmModeCrtc *old = drmModeGetCrtc(dev.fd(), drmsim::crtc_id(dev.fd(), 0));
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->mode_valid, 0);
    EXPECT_EQ(old->buffer_id, 0u);
    drmModeFreeCrtc(old);
    drmModePlane *primary0 = drmModeGetPlane(dev.fd(), drmsim::plane_id(dev.fd(), 0));
    ASSERT_NE(primary0, nullptr);
    EXPECT_EQ(primary0->crtc_id, 0u);
    drmModeFreePlane(primary0);
    drmModePlane *primary2 = drmModeGetPlane(dev.fd(), drmsim::plane_id(dev.fd(), 2));
    EXPECT_EQ(primary2->crtc_id, drmsim::crtc_id(dev.fd(), 2));
    EXPECT_EQ(primary2->fb_id, fb.id());
    drmModeFreePlane(primary2);
    drmModeEncoder *enc = drmModeGetEncoder(dev.fd(), drmsim::encoder_id(dev.fd(), 0));
    EXPECT_EQ(enc->crtc_id, drmsim::crtc_id(dev.fd(), 2));
    drmModeFreeEncoder(enc);
}

// What GETCONNECTOR and GETENCODER say drives a connector: its encoder
// in use and the CRTC feeding that encoder (0 for none).
struct Route {
    uint32_t encoder = 0;
    uint32_t crtc = 0;
    bool operator==(const Route &) const = default;
};

Route route_of(int fd, unsigned connector) {
    Route r;
    drmModeConnector *c = drmModeGetConnector(fd, drmsim::connector_id(fd, connector));
    if (!c)
        return r;
    r.encoder = c->encoder_id;
    drmModeFreeConnector(c);
    if (drmModeEncoder *e = r.encoder ? drmModeGetEncoder(fd, r.encoder) : nullptr) {
        r.crtc = e->crtc_id;
        drmModeFreeEncoder(e);
    }
    return r;
}

uint32_t encoder_crtc(int fd, unsigned encoder) {
    drmModeEncoder *e = drmModeGetEncoder(fd, drmsim::encoder_id(fd, encoder));
    uint32_t crtc = e ? e->crtc_id : UINT32_MAX;
    drmModeFreeEncoder(e);
    return crtc;
}

// Mirrors drm_mode_getcrtc, drm_mode_getconnector and drm_mode_getencoder
// after legacy SETCRTC through the atomic helpers: the new CRTC reports the
// framebuffer, offset and mode; the connector names its encoder, the
// encoder the new CRTC; the CRTC left behind reports no mode and no
// framebuffer; turning the CRTC off detaches connector and encoder.
TEST_F(SimTest, ReadbackAfterSetCrtcIsTheNewRoute) {
    Device dev = Device::from_text(kDevice);
    const int fd = dev.fd();
    SolidFb fb(fd, 640, 480, XR24, 0x00ff00);
    drmModeModeInfo mode = first_mode(fd, 0);
    EXPECT_EQ(route_of(fd, 0), Route{});
    ASSERT_EQ(set_crtc(fd, 0, fb.id(), {0}, &mode), 0);
    EXPECT_EQ((route_of(fd, 0)), (Route{drmsim::encoder_id(fd, 0), drmsim::crtc_id(fd, 0)}));
    ASSERT_EQ(set_crtc(fd, 2, fb.id(), {0}, &mode), 0);
    EXPECT_EQ((route_of(fd, 0)), (Route{drmsim::encoder_id(fd, 0), drmsim::crtc_id(fd, 2)}));

    drmModeCrtc *now = drmModeGetCrtc(fd, drmsim::crtc_id(fd, 2));
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(now->buffer_id, fb.id());
    EXPECT_EQ(now->x, 0u);
    EXPECT_EQ(now->y, 0u);
    EXPECT_EQ(now->mode_valid, 1);
    EXPECT_STREQ(now->mode.name, "640x480");
    EXPECT_EQ(now->mode.clock, mode.clock);
    drmModeFreeCrtc(now);
    drmModeCrtc *left = drmModeGetCrtc(fd, drmsim::crtc_id(fd, 0));
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(left->mode_valid, 0);
    EXPECT_EQ(left->buffer_id, 0u);
    EXPECT_EQ(left->mode.hdisplay, 0);
    drmModeFreeCrtc(left);

    ASSERT_EQ(set_crtc(fd, 2, 0, {}, nullptr), 0);
    EXPECT_EQ(route_of(fd, 0), Route{});
    EXPECT_EQ(encoder_crtc(fd, 0), 0u);
}

// Mirrors update_connector_routing with a driver's best_encoder (i915 gives
// each pipe its own DP-MST encoder): a connector with several encoders uses
// the one the CRTC can feed, GETCONNECTOR lists them all, the encoder given
// up reports no CRTC, and a CRTC that no encoder takes is refused (EINVAL).
TEST_F(SimTest, ConnectorWithSeveralEncodersUsesTheOneTheCrtcCanFeed) {
    Device dev = Device::from_text(R"({"crtcs": 3, "connectors": [
        {"type": "DP", "connected": true, "modes": ["640x480@60"],
         "encoders": [{"possible_crtcs": 1}, {"possible_crtcs": 4}]}]})");
    const int fd = dev.fd();
    SolidFb fb(fd, 640, 480, XR24, 0x0000ff);
    drmModeModeInfo mode = first_mode(fd, 0);

    drmModeConnector *c = drmModeGetConnector(fd, drmsim::connector_id(fd, 0));
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->count_encoders, 2);
    EXPECT_EQ(c->encoders[0], drmsim::encoder_id(fd, 0));
    EXPECT_EQ(c->encoders[1], drmsim::encoder_id(fd, 1));
    drmModeFreeConnector(c);

    ASSERT_EQ(set_crtc(fd, 0, fb.id(), {0}, &mode), 0);
    EXPECT_EQ((route_of(fd, 0)), (Route{drmsim::encoder_id(fd, 0), drmsim::crtc_id(fd, 0)}));
    EXPECT_EQ(set_crtc(fd, 1, fb.id(), {0}, &mode), -EINVAL);
    EXPECT_EQ((route_of(fd, 0)), (Route{drmsim::encoder_id(fd, 0), drmsim::crtc_id(fd, 0)}));
    ASSERT_EQ(set_crtc(fd, 2, fb.id(), {0}, &mode), 0);
    EXPECT_EQ((route_of(fd, 0)), (Route{drmsim::encoder_id(fd, 1), drmsim::crtc_id(fd, 2)}));
    EXPECT_EQ(encoder_crtc(fd, 0), 0u);
    EXPECT_FALSE(drmsim::crtc_state(fd, 0).active);
}

// Mirrors the atomic helpers: a CRTC is disabled only when its last
// connector is taken.
TEST_F(SimTest, CrtcKeepsRunningWhileItStillHasAConnector) {
    Device dev = Device::from_text(kDevice);
    SolidFb fb(dev.fd(), 640, 480, XR24, 0x00ff00);
    drmModeModeInfo mode = first_mode(dev.fd(), 0);
    ASSERT_EQ(set_crtc(dev.fd(), 0, fb.id(), {0, 1}, &mode), 0);
    ASSERT_EQ(set_crtc(dev.fd(), 1, fb.id(), {1}, &mode), 0);
    drmsim::CrtcState first = drmsim::crtc_state(dev.fd(), 0);
    EXPECT_TRUE(first.active);
    EXPECT_EQ(first.connectors, std::vector<uint32_t>{drmsim::connector_id(dev.fd(), 0)});
}

// Mirrors drm_framebuffer_remove: removing the framebuffer a CRTC shows
// turns that CRTC off.
TEST_F(SimTest, RemovingTheShownFramebufferTurnsTheCrtcOff) {
    Device dev = Device::from_text(kDevice);
    SolidFb keep(dev.fd(), 640, 480, XR24, 0);
    drmModeModeInfo mode = first_mode(dev.fd(), 0);
    {
        SolidFb shown(dev.fd(), 640, 480, XR24, 0x0000ff);
        ASSERT_EQ(set_crtc(dev.fd(), 0, shown.id(), {0}, &mode), 0);
        ASSERT_EQ(set_crtc(dev.fd(), 1, keep.id(), {1}, &mode), 0);
        ASSERT_TRUE(drmsim::crtc_state(dev.fd(), 0).active);
    } // RMFB here
    EXPECT_FALSE(drmsim::crtc_state(dev.fd(), 0).active);
    EXPECT_TRUE(drmsim::crtc_state(dev.fd(), 1).active);
    EXPECT_EQ(drmsim::crtc_state(dev.fd(), 1).fb, keep.id());
}

// The same for a plane: removing its framebuffer takes it off its CRTC,
// which keeps running.
TEST_F(SimTest, RemovingAPlanesFramebufferTurnsThePlaneOff) {
    Device dev = Device::from_text(kDevice);
    SolidFb background(dev.fd(), 640, 480, XR24, 0xff0000);
    drmModeModeInfo mode = first_mode(dev.fd(), 0);
    ASSERT_EQ(set_crtc(dev.fd(), 0, background.id(), {0}, &mode), 0);
    const uint32_t overlay = drmsim::plane_id(dev.fd(), 3);
    {
        SolidFb square(dev.fd(), 16, 16, XR24, 0x00ff00);
        ASSERT_EQ(drmModeSetPlane(dev.fd(), overlay, drmsim::crtc_id(dev.fd(), 0), square.id(), 0,
                                  0, 0, 16, 16, 0, 0, 16 << 16, 16 << 16),
                  0);
        ASSERT_EQ(drmsim::scanout(dev.fd(), 0).at(0, 0), 0x00ff00u);
    } // RMFB here
    drmModePlane *p = drmModeGetPlane(dev.fd(), overlay);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->fb_id, 0u);
    EXPECT_EQ(p->crtc_id, 0u);
    drmModeFreePlane(p);
    EXPECT_TRUE(drmsim::crtc_state(dev.fd(), 0).active);
    EXPECT_EQ(drmsim::scanout(dev.fd(), 0).at(0, 0), 0xff0000u);
}

// Mirrors drm_mode_setcrtc's fb_id -1: set the mode with the framebuffer
// the CRTC already shows.
TEST_F(SimTest, KeepCurrentFramebufferReusesIt) {
    Device dev = Device::from_text(kDevice);
    SolidFb fb(dev.fd(), 640, 480, XR24, 0x123456);
    drmModeModeInfo mode = first_mode(dev.fd(), 0);
    ASSERT_EQ(set_crtc(dev.fd(), 0, fb.id(), {0}, &mode), 0);
    ASSERT_EQ(set_crtc(dev.fd(), 0, UINT32_MAX, {0}, &mode), 0);
    EXPECT_EQ(drmsim::crtc_state(dev.fd(), 0).fb, fb.id());
    EXPECT_EQ(drmsim::scanout(dev.fd(), 0).at(5, 5), 0x123456u);
}

enum class PlaneFb { made, rgb565, unknown, zero };

struct SetPlaneCase {
    const char *name;
    int plane; // index, -1 for an unknown id
    int crtc;  // index, -1 for an unknown id
    PlaneFb fb;
    int32_t crtc_x;
    uint32_t src_x, src_w;
    int expected_errno;
};

// Named in test listings by its name, not by a dump of its bytes.
void PrintTo(const SetPlaneCase &c, std::ostream *os) {
    *os << c.name;
}

class SetPlaneTest : public SimTest, public ::testing::WithParamInterface<SetPlaneCase> {};

// Mirrors drm_mode_setplane and __setplane_check for a 64x64 framebuffer
// on the overlay (plane 3, CRTCs 0 and 1).
TEST_P(SetPlaneTest, ChecksAsTheKernel) {
    const SetPlaneCase &c = GetParam();
    Device dev = Device::from_text(kDevice);
    SolidFb xr24(dev.fd(), 64, 64, XR24, 0xffffff);
    SolidFb rgb565(dev.fd(), 64, 64, DRM_FORMAT_RGB565, 0xffffff);
    uint32_t fb = c.fb == PlaneFb::made      ? xr24.id()
                  : c.fb == PlaneFb::rgb565  ? rgb565.id()
                  : c.fb == PlaneFb::unknown ? 999
                                             : 0;
    uint32_t plane = c.plane >= 0 ? drmsim::plane_id(dev.fd(), unsigned(c.plane)) : 998;
    uint32_t crtc = c.crtc >= 0 ? drmsim::crtc_id(dev.fd(), unsigned(c.crtc)) : 997;
    int r = drmModeSetPlane(dev.fd(), plane, crtc, fb, 0, c.crtc_x, 10, 64, 64, c.src_x, 0, c.src_w,
                            64 << 16);
    EXPECT_EQ(r, -c.expected_errno) << std::strerror(-r);
    auto journal = drmsim::journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].request, "SETPLANE");
    EXPECT_EQ(journal[0].plane, plane);
    EXPECT_EQ(journal[0].plane_index, c.plane);
    EXPECT_EQ(journal[0].crtc_index, c.crtc);
    EXPECT_EQ(journal[0].src, (std::array<uint32_t, 4>{c.src_x, 0, c.src_w, 64u << 16}));
    EXPECT_EQ(journal[0].dst, (std::array<int64_t, 4>{c.crtc_x, 10, 64, 64}));
    EXPECT_EQ(journal[0].result, -c.expected_errno);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, SetPlaneTest,
    ::testing::Values(
        SetPlaneCase{"shows", 3, 0, PlaneFb::made, 10, 0, 64 << 16, 0},
        SetPlaneCase{"fractional_source", 3, 1, PlaneFb::made, 10, 0, (64 << 16) - 1, 0},
        SetPlaneCase{"off", 3, 0, PlaneFb::zero, 10, 0, 64 << 16, 0},
        SetPlaneCase{"unknown_plane", -1, 0, PlaneFb::made, 10, 0, 64 << 16, ENOENT},
        SetPlaneCase{"unknown_fb", 3, 0, PlaneFb::unknown, 10, 0, 64 << 16, ENOENT},
        SetPlaneCase{"unknown_crtc", 3, -1, PlaneFb::made, 10, 0, 64 << 16, ENOENT},
        SetPlaneCase{"plane_cannot_be_on_crtc", 3, 2, PlaneFb::made, 10, 0, 64 << 16, EINVAL},
        SetPlaneCase{"format_not_taken", 3, 0, PlaneFb::rgb565, 10, 0, 64 << 16, EINVAL},
        SetPlaneCase{"destination_overflow", 3, 0, PlaneFb::made, INT_MAX - 10, 0, 64 << 16,
                     ERANGE},
        SetPlaneCase{"source_wider_than_fb", 3, 0, PlaneFb::made, 10, 0, 65 << 16, ENOSPC},
        SetPlaneCase{"source_shifted_out", 3, 0, PlaneFb::made, 10, 1 << 16, 64 << 16, ENOSPC}),
    [](const auto &info) { return std::string(info.param.name); });

// The scanout composes the overlay over the primary plane: unscaled at its
// destination, scaled when the destination is larger, blended when it has
// alpha.
TEST_F(SimTest, ScanoutComposesPlanes) {
    Device dev = Device::from_text(kDevice);
    SolidFb background(dev.fd(), 640, 480, XR24, 0xff0000);
    SolidFb square(dev.fd(), 16, 16, XR24, 0x00ff00);
    SolidFb glass(dev.fd(), 16, 16, DRM_FORMAT_ARGB8888, 0x80000080); // premultiplied half blue
    drmModeModeInfo mode = first_mode(dev.fd(), 0);
    ASSERT_EQ(set_crtc(dev.fd(), 0, background.id(), {0}, &mode), 0);
    const uint32_t overlay = drmsim::plane_id(dev.fd(), 3), crtc = drmsim::crtc_id(dev.fd(), 0);

    ASSERT_EQ(drmModeSetPlane(dev.fd(), overlay, crtc, square.id(), 0, 10, 20, 16, 16, 0, 0,
                              16 << 16, 16 << 16),
              0);
    drmsim::Picture pic = drmsim::scanout(dev.fd(), 0);
    EXPECT_EQ(pic.at(9, 20), 0xff0000u);
    EXPECT_EQ(pic.at(10, 20), 0x00ff00u);
    EXPECT_EQ(pic.at(25, 35), 0x00ff00u);
    EXPECT_EQ(pic.at(26, 35), 0xff0000u);

    ASSERT_EQ(drmModeSetPlane(dev.fd(), overlay, crtc, square.id(), 0, 100, 100, 32, 32, 0, 0,
                              16 << 16, 16 << 16),
              0);
    pic = drmsim::scanout(dev.fd(), 0);
    EXPECT_EQ(pic.at(10, 20), 0xff0000u) << "the plane moved away";
    EXPECT_EQ(pic.at(131, 131), 0x00ff00u);
    EXPECT_EQ(pic.at(132, 131), 0xff0000u);

    ASSERT_EQ(drmModeSetPlane(dev.fd(), overlay, crtc, glass.id(), 0, 0, 0, 16, 16, 0, 0, 16 << 16,
                              16 << 16),
              0);
    pic = drmsim::scanout(dev.fd(), 0);
    EXPECT_EQ(pic.at(0, 0), 0x7f0080u); // 0xff * (255 - 0x80) / 255 red, plus the blue

    // Alpha where drm_fourcc.h puts it in each format, widened to 8 bits;
    // padding is no alpha. Over the red: pixel + 0xff * (255 - alpha) / 255.
    struct Glass {
        uint32_t format, cpp;
        uint64_t word;
        uint32_t shown;
    };
    for (const Glass &g : {Glass{DRM_FORMAT_XRGB8888, 4, 0x00000080, 0x000080},
                           {DRM_FORMAT_ARGB1555, 2, 0x0000, 0xff0000},
                           {DRM_FORMAT_ARGB1555, 2, 0x801f, 0x0000ff},
                           {DRM_FORMAT_RGBA5551, 2, 0x0001, 0x000000},
                           {DRM_FORMAT_ARGB4444, 2, 0x8008, 0x770088},     // alpha 0x88
                           {DRM_FORMAT_ARGB2101010, 4, 0x40000000, 0xaa0000}, // alpha 0x55
                           {DRM_FORMAT_ARGB16161616F, 8, 0x3800ull << 48, 0x7f0000}}) { // 0.5
        SolidFb fb(dev.fd(), 16, 16, g.format, g.cpp, g.word);
        ASSERT_EQ(drmModeSetPlane(dev.fd(), overlay, crtc, fb.id(), 0, 0, 0, 16, 16, 0, 0,
                                  16 << 16, 16 << 16),
                  0);
        EXPECT_EQ(drmsim::scanout(dev.fd(), 0).at(0, 0), g.shown) << std::hex << g.word;
    }
}

} // namespace
