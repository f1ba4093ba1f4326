// SPDX-License-Identifier: MIT
// Enumeration through libdrm: resources, connectors, encoders, planes and
// properties, answered with the kernel's two-call count protocol.
#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim_test_support.h"

namespace {

using drmsim_test::Device;
using drmsim_test::SimTest;

struct ResourcesDeleter {
    void operator()(drmModeRes *r) const { drmModeFreeResources(r); }
};
struct ConnectorDeleter {
    void operator()(drmModeConnector *c) const { drmModeFreeConnector(c); }
};
struct PlaneResDeleter {
    void operator()(drmModePlaneRes *r) const { drmModeFreePlaneResources(r); }
};
struct PlaneDeleter {
    void operator()(drmModePlane *p) const { drmModeFreePlane(p); }
};
struct PropsDeleter {
    void operator()(drmModeObjectProperties *p) const { drmModeFreeObjectProperties(p); }
};
struct PropDeleter {
    void operator()(drmModePropertyRes *p) const { drmModeFreeProperty(p); }
};
using Resources = std::unique_ptr<drmModeRes, ResourcesDeleter>;
using Connector = std::unique_ptr<drmModeConnector, ConnectorDeleter>;
using PlaneRes = std::unique_ptr<drmModePlaneRes, PlaneResDeleter>;
using Plane = std::unique_ptr<drmModePlane, PlaneDeleter>;
using Props = std::unique_ptr<drmModeObjectProperties, PropsDeleter>;
using Prop = std::unique_ptr<drmModePropertyRes, PropDeleter>;

// Values of every property of a plane named "type", in order.
std::vector<uint64_t> type_values(int fd, uint32_t plane) {
    std::vector<uint64_t> values;
    Props props(drmModeObjectGetProperties(fd, plane, DRM_MODE_OBJECT_PLANE));
    if (!props)
        return values;
    for (uint32_t i = 0; i < props->count_props; ++i) {
        Prop p(drmModeGetProperty(fd, props->props[i]));
        if (p && std::string(p->name) == "type")
            values.push_back(props->prop_values[i]);
    }
    return values;
}

// Mirrors the kernel's GETRESOURCES: CRTC, connector and encoder ids come
// from one id space, in description order, and are never small indices.
TEST_F(SimTest, ResourcesListDistinctKernelIds) {
    Device dev("hdmi-3crtc.json");
    ASSERT_GE(dev.fd(), 0);
    Resources res(drmModeGetResources(dev.fd()));
    ASSERT_TRUE(res);
    ASSERT_EQ(res->count_crtcs, 3);
    ASSERT_EQ(res->count_connectors, 2);
    ASSERT_EQ(res->count_encoders, 2);
    EXPECT_EQ(res->count_fbs, 0);
    std::set<uint32_t> ids;
    for (int i = 0; i < res->count_crtcs; ++i) {
        EXPECT_EQ(res->crtcs[i], drmsim::crtc_id(dev.fd(), unsigned(i)));
        ids.insert(res->crtcs[i]);
    }
    for (int i = 0; i < res->count_connectors; ++i) {
        EXPECT_EQ(res->connectors[i], drmsim::connector_id(dev.fd(), unsigned(i)));
        ids.insert(res->connectors[i]);
    }
    for (int i = 0; i < res->count_encoders; ++i)
        ids.insert(res->encoders[i]);
    for (unsigned i = 0; i < 5; ++i)
        ids.insert(drmsim::plane_id(dev.fd(), i));
    EXPECT_EQ(ids.size(), 12u) << "ids must not repeat across object types";
    EXPECT_GE(*ids.begin(), 31u) << "object ids start above the core properties' ids";
    EXPECT_EQ(res->max_width, 8192u);
}

// Mirrors the kernel's GETCONNECTOR: type, 1-based type id, connection
// state and the mode list with generated timings.
TEST_F(SimTest, ConnectorsReportTypeStateAndModes) {
    Device dev("hdmi-3crtc.json");
    Connector hdmi(drmModeGetConnector(dev.fd(), drmsim::connector_id(dev.fd(), 0)));
    ASSERT_TRUE(hdmi);
    EXPECT_EQ(hdmi->connector_type, uint32_t(DRM_MODE_CONNECTOR_HDMIA));
    EXPECT_EQ(hdmi->connector_type_id, 1u);
    EXPECT_EQ(hdmi->connection, DRM_MODE_CONNECTED);
    ASSERT_EQ(hdmi->count_modes, 3);
    EXPECT_STREQ(hdmi->modes[0].name, "1920x1080");
    EXPECT_EQ(hdmi->modes[0].hdisplay, 1920);
    EXPECT_EQ(hdmi->modes[0].vdisplay, 1080);
    EXPECT_EQ(hdmi->modes[0].clock, 148500u);
    EXPECT_EQ(hdmi->modes[0].htotal, 2200);
    EXPECT_EQ(hdmi->modes[0].vrefresh, 60u);
    EXPECT_TRUE(hdmi->modes[0].type & DRM_MODE_TYPE_PREFERRED);
    EXPECT_FALSE(hdmi->modes[1].type & DRM_MODE_TYPE_PREFERRED);
    EXPECT_EQ(hdmi->mmWidth, 510u);
    ASSERT_EQ(hdmi->count_encoders, 1);
    EXPECT_EQ(hdmi->encoders[0], drmsim::encoder_id(dev.fd(), 0));
    EXPECT_EQ(hdmi->encoder_id, 0u) << "not driven yet";

    Connector dp(drmModeGetConnector(dev.fd(), drmsim::connector_id(dev.fd(), 1)));
    ASSERT_TRUE(dp);
    EXPECT_EQ(dp->connector_type, uint32_t(DRM_MODE_CONNECTOR_DisplayPort));
    EXPECT_EQ(dp->connection, DRM_MODE_DISCONNECTED);
    EXPECT_EQ(dp->count_modes, 0);
    EXPECT_EQ(dp->modes, nullptr);

    EXPECT_EQ(drmModeGetConnector(dev.fd(), 12345), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

// Mirrors GETENCODER: the encoder carries the CRTCs that can drive its
// connector, and no current CRTC while the connector is not driven.
TEST_F(SimTest, EncodersCarryTheirConnectorsPossibleCrtcs) {
    Device dev("crtc1-cannot-drive.json");
    drmModeEncoder *e = drmModeGetEncoder(dev.fd(), drmsim::encoder_id(dev.fd(), 0));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->encoder_type, uint32_t(DRM_MODE_ENCODER_TMDS));
    EXPECT_EQ(e->possible_crtcs, 0b101u);
    EXPECT_EQ(e->crtc_id, 0u);
    drmModeFreeEncoder(e);
}

// Mirrors the kernel's count protocol directly: a first call with no room
// learns the counts; a call with less room than needed gets only as many
// ids as fit (and still the full count); connector modes, encoders and
// plane formats are copied only when all of them fit.
TEST_F(SimTest, CountProtocolCopiesWhatFitsAndReportsFullCounts) {
    Device dev("hdmi-3crtc.json");
    drm_mode_card_res res{};
    ASSERT_EQ(drmIoctl(dev.fd(), DRM_IOCTL_MODE_GETRESOURCES, &res), 0);
    EXPECT_EQ(res.count_crtcs, 3u);

    uint32_t crtcs[3] = {0, 0, 0};
    drm_mode_card_res partial{};
    partial.crtc_id_ptr = reinterpret_cast<uintptr_t>(crtcs);
    partial.count_crtcs = 2;
    ASSERT_EQ(drmIoctl(dev.fd(), DRM_IOCTL_MODE_GETRESOURCES, &partial), 0);
    EXPECT_EQ(partial.count_crtcs, 3u);
    EXPECT_EQ(crtcs[0], drmsim::crtc_id(dev.fd(), 0));
    EXPECT_EQ(crtcs[1], drmsim::crtc_id(dev.fd(), 1));
    EXPECT_EQ(crtcs[2], 0u) << "the kernel never writes past the caller's count";

    drm_mode_modeinfo modes[2]{};
    drm_mode_get_connector con{};
    con.connector_id = drmsim::connector_id(dev.fd(), 0);
    con.modes_ptr = reinterpret_cast<uintptr_t>(modes);
    con.count_modes = 2; // three modes: too few
    ASSERT_EQ(drmIoctl(dev.fd(), DRM_IOCTL_MODE_GETCONNECTOR, &con), 0);
    EXPECT_EQ(con.count_modes, 3u);
    EXPECT_EQ(modes[0].hdisplay, 0) << "modes are copied all or nothing";

    uint32_t formats[4]{};
    drm_mode_get_plane plane{};
    plane.plane_id = drmsim::plane_id(dev.fd(), 0);
    plane.format_type_ptr = reinterpret_cast<uintptr_t>(formats);
    plane.count_format_types = 4; // seven formats: too few
    ASSERT_EQ(drmIoctl(dev.fd(), DRM_IOCTL_MODE_GETPLANE, &plane), 0);
    EXPECT_EQ(plane.count_format_types, 7u);
    EXPECT_EQ(formats[0], 0u);
}

// Mirrors the kernel's rule that only overlay planes are listed until the
// client sets DRM_CLIENT_CAP_UNIVERSAL_PLANES.
TEST_F(SimTest, UniversalPlanesCapGatesPrimaryAndCursorPlanes) {
    Device dev("hdmi-3crtc.json");
    PlaneRes before(drmModeGetPlaneResources(dev.fd()));
    ASSERT_TRUE(before);
    ASSERT_EQ(before->count_planes, 1u);
    EXPECT_EQ(before->planes[0], drmsim::plane_id(dev.fd(), 3));

    ASSERT_EQ(drmSetClientCap(dev.fd(), DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1), 0);
    PlaneRes after(drmModeGetPlaneResources(dev.fd()));
    ASSERT_TRUE(after);
    ASSERT_EQ(after->count_planes, 5u);
    for (unsigned i = 0; i < 5; ++i)
        EXPECT_EQ(after->planes[i], drmsim::plane_id(dev.fd(), i));

    ASSERT_EQ(drmSetClientCap(dev.fd(), DRM_CLIENT_CAP_UNIVERSAL_PLANES, 0), 0);
    PlaneRes again(drmModeGetPlaneResources(dev.fd()));
    EXPECT_EQ(again->count_planes, 1u);
}

struct ClientCapCase {
    const char *name;
    bool device_allows_universal;
    uint64_t capability;
    uint64_t value;
    int expected_errno; // 0 for success
    bool device_is_atomic = true;
};

// Named in test listings by its name, not by a dump of its bytes.
void PrintTo(const ClientCapCase &c, std::ostream *os) {
    *os << c.name;
}

class ClientCapTest : public SimTest, public ::testing::WithParamInterface<ClientCapCase> {};

// Mirrors drm_setclientcap: values above 1 (2 for atomic) and unknown
// capabilities are EINVAL, atomic needs an atomic driver (EOPNOTSUPP),
// writeback needs an atomic client, and a device may refuse universal
// planes altogether.
TEST_P(ClientCapTest, AnswersAsTheKernel) {
    const ClientCapCase &c = GetParam();
    Device dev =
        Device::from_text(std::string(R"({"crtcs": 1, "universal_planes_cap": )") +
                          (c.device_allows_universal ? "true" : "false") + R"(, "atomic": )" +
                          (c.device_is_atomic ? "true" : "false") + "}");
    ASSERT_GE(dev.fd(), 0);
    int r = drmSetClientCap(dev.fd(), c.capability, c.value);
    if (c.expected_errno == 0) {
        EXPECT_EQ(r, 0);
    } else {
        EXPECT_EQ(r, -1);
        EXPECT_EQ(errno, c.expected_errno);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Caps, ClientCapTest,
    ::testing::Values(
        ClientCapCase{"universal", true, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1, 0},
        ClientCapCase{"universal_refused", false, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1, EINVAL},
        ClientCapCase{"universal_value_2", true, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 2, EINVAL},
        ClientCapCase{"stereo", true, DRM_CLIENT_CAP_STEREO_3D, 1, 0},
        ClientCapCase{"atomic", true, DRM_CLIENT_CAP_ATOMIC, 1, 0},
        ClientCapCase{"atomic_value_3", true, DRM_CLIENT_CAP_ATOMIC, 3, EINVAL},
        ClientCapCase{"atomic_legacy_driver", true, DRM_CLIENT_CAP_ATOMIC, 1, EOPNOTSUPP, false},
        ClientCapCase{"writeback_without_atomic", true, DRM_CLIENT_CAP_WRITEBACK_CONNECTORS, 1,
                      EINVAL},
        ClientCapCase{"unknown", true, 99, 1, EINVAL}),
    [](const auto &info) { return std::string(info.param.name); });

// Mirrors drm_mode_getplane: current CRTC id (or 0), possible CRTCs and the
// format list in the description's order.
TEST_F(SimTest, PlaneReportsCrtcMaskAndFormats) {
    Device dev = Device::from_text(R"({"crtcs": 3, "planes": [
        {"type": "overlay", "possible_crtcs": 6, "formats": ["XR24", "NV12"]},
        {"type": "overlay", "possible_crtcs": 8, "crtc": 2}]})");
    ASSERT_GE(dev.fd(), 0);
    Plane a(drmModeGetPlane(dev.fd(), drmsim::plane_id(dev.fd(), 0)));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->crtc_id, 0u);
    EXPECT_EQ(a->possible_crtcs, 6u);
    ASSERT_EQ(a->count_formats, 2u);
    EXPECT_EQ(a->formats[0], uint32_t(DRM_FORMAT_XRGB8888));
    EXPECT_EQ(a->formats[1], uint32_t(DRM_FORMAT_NV12));

    Plane b(drmModeGetPlane(dev.fd(), drmsim::plane_id(dev.fd(), 1)));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->crtc_id, drmsim::crtc_id(dev.fd(), 2));
    EXPECT_EQ(b->possible_crtcs, 8u);
}

// Mirrors the kernel's immutable "type" enum property: values and enum
// names Overlay 0, Primary 1, Cursor 2, current value per plane.
TEST_F(SimTest, PlaneTypePropertyHasTheKernelsEnumLayout) {
    Device dev("hdmi-3crtc.json");
    Props props(
        drmModeObjectGetProperties(dev.fd(), drmsim::plane_id(dev.fd(), 4), DRM_MODE_OBJECT_PLANE));
    ASSERT_TRUE(props);
    Prop type;
    uint64_t value = 99;
    for (uint32_t i = 0; i < props->count_props; ++i) {
        Prop p(drmModeGetProperty(dev.fd(), props->props[i]));
        ASSERT_TRUE(p);
        if (std::string(p->name) == "type")
            type = std::move(p), value = props->prop_values[i];
    }
    ASSERT_TRUE(type);
    EXPECT_EQ(value, 2u) << "plane 4 is the cursor";
    EXPECT_TRUE(type->flags & DRM_MODE_PROP_ENUM);
    EXPECT_TRUE(type->flags & DRM_MODE_PROP_IMMUTABLE);
    ASSERT_EQ(type->count_enums, 3);
    const char *names[] = {"Overlay", "Primary", "Cursor"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(type->enums[i].name, names[i]);
        EXPECT_EQ(type->enums[i].value, uint64_t(i));
    }
    ASSERT_EQ(type->count_values, 3);
    EXPECT_EQ(type->values[2], 2u);

    EXPECT_EQ(type_values(dev.fd(), drmsim::plane_id(dev.fd(), 0)), std::vector<uint64_t>{1});
    EXPECT_EQ(type_values(dev.fd(), drmsim::plane_id(dev.fd(), 3)), std::vector<uint64_t>{0});
}

TEST_F(SimTest, TypePropertiesCanBeOverridden) {
    Device dev = Device::from_text(R"({"crtcs": 1, "planes": [
        {"type": "primary", "type_properties": []},
        {"type": "overlay", "type_properties": [0, 1]}]})");
    ASSERT_GE(dev.fd(), 0);
    EXPECT_TRUE(type_values(dev.fd(), drmsim::plane_id(dev.fd(), 0)).empty());
    EXPECT_EQ(type_values(dev.fd(), drmsim::plane_id(dev.fd(), 1)), (std::vector<uint64_t>{0, 1}));
}

// Mirrors OBJ_GETPROPERTIES: an object of another type is ENOENT, an
// object without properties (an encoder) is EINVAL.
TEST_F(SimTest, ObjectPropertiesCheckTheObjectType) {
    Device dev("hdmi-3crtc.json");
    const uint32_t crtc = drmsim::crtc_id(dev.fd(), 0);
    EXPECT_EQ(drmModeObjectGetProperties(dev.fd(), crtc, DRM_MODE_OBJECT_PLANE), nullptr);
    EXPECT_EQ(errno, ENOENT);
    Props crtc_props(drmModeObjectGetProperties(dev.fd(), crtc, DRM_MODE_OBJECT_CRTC));
    ASSERT_TRUE(crtc_props);
    EXPECT_EQ(crtc_props->count_props, 0u);
    EXPECT_EQ(
        drmModeObjectGetProperties(dev.fd(), drmsim::encoder_id(dev.fd(), 0), DRM_MODE_OBJECT_ANY),
        nullptr);
    EXPECT_EQ(errno, EINVAL);
    Props con(drmModeObjectGetProperties(dev.fd(), drmsim::connector_id(dev.fd(), 0),
                                         DRM_MODE_OBJECT_CONNECTOR));
    ASSERT_TRUE(con);
    EXPECT_GE(con->count_props, 1u);
}

// A libdrm function counts once however many ioctls its rounds take, even
// when every count is zero and both ioctls look alike.
TEST_F(SimTest, RequestCountsCountLibdrmCallsNotIoctls) {
    Device empty = Device::from_text(R"({"crtcs": 0, "planes": []})");
    ASSERT_GE(empty.fd(), 0);
    Resources r1(drmModeGetResources(empty.fd()));
    ASSERT_TRUE(r1);
    Resources r2(drmModeGetResources(empty.fd()));
    EXPECT_EQ(drmsim::request_count("getresources"), 2u);

    Device dev("hdmi-3crtc.json");
    Connector c(drmModeGetConnector(dev.fd(), drmsim::connector_id(dev.fd(), 0)));
    Connector d(drmModeGetConnectorCurrent(dev.fd(), drmsim::connector_id(dev.fd(), 1)));
    EXPECT_EQ(drmsim::request_count("getconnector"), 2u);
    Props p(
        drmModeObjectGetProperties(dev.fd(), drmsim::crtc_id(dev.fd(), 0), DRM_MODE_OBJECT_CRTC));
    Props q(
        drmModeObjectGetProperties(dev.fd(), drmsim::plane_id(dev.fd(), 0), DRM_MODE_OBJECT_PLANE));
    EXPECT_EQ(drmsim::request_count("getproperties"), 2u);
    Plane pl(drmModeGetPlane(dev.fd(), drmsim::plane_id(dev.fd(), 0)));
    EXPECT_EQ(drmsim::request_count("getplane"), 1u);
    EXPECT_EQ(drmsim::request_count("setcrtc"), 0u);
}

// Mirrors the kernel's connector_type_id: numbered from 1 within each
// connector type, in the order the connectors were created.
TEST_F(SimTest, ConnectorNamesFollowTheKernel) {
    Device dev("three-screens.json");
    Resources res(drmModeGetResources(dev.fd()));
    ASSERT_TRUE(res);
    ASSERT_EQ(res->count_connectors, 4);
    const uint32_t types[] = {DRM_MODE_CONNECTOR_HDMIA, DRM_MODE_CONNECTOR_HDMIA,
                              DRM_MODE_CONNECTOR_DisplayPort, 21};
    const uint32_t type_ids[] = {1, 2, 1, 1};
    for (int i = 0; i < 4; ++i) {
        Connector c(drmModeGetConnector(dev.fd(), res->connectors[i]));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->connector_type, types[i]);
        EXPECT_EQ(c->connector_type_id, type_ids[i]);
    }
}

} // namespace
