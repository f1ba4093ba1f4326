// SPDX-License-Identifier: MIT
// Enumeration of screens, CRTCs and planes from the simulated device,
// including every way the kernel can fail to describe an object.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <drm_fourcc.h>
#include <xf86drmMode.h>

#include "sim_fixture.h"

namespace {

using kms_test::KmsSimTest;

// A device with one CRTC and connectors of the given KMS types.
std::string connectors_of_types(const std::vector<uint32_t> &types) {
    std::string json = R"({"crtcs": 1, "connectors": [)";
    for (size_t i = 0; i < types.size(); ++i) {
        if (i)
            json += ", ";
        json += R"({"type": )" + std::to_string(types[i]) +
                R"(, "connected": true, "modes": ["640x480@60"]})";
    }
    return json + "]}";
}

std::vector<std::string> screen_names(const kms_device &device) {
    std::vector<std::string> names;
    for (const auto &screen : device.screens)
        names.push_back(screen->name);
    return names;
}

bool mode_is_zero(const drmModeModeInfo &mode) {
    const drmModeModeInfo zero{};
    return std::memcmp(&mode, &zero, sizeof mode) == 0;
}

using Enumeration = KmsSimTest;

TEST_F(Enumeration, ScreensAreNamedAndNumberedPerType) {
    const struct {
        std::vector<uint32_t> types;
        std::vector<std::string> names;
    } cases[] = {
        {{11, 11, 10}, {"HDMI-A-0", "HDMI-A-1", "DisplayPort-0"}},
        {{10, 11, 10, 14, 11}, {"DisplayPort-0", "HDMI-A-0", "DisplayPort-1", "eDP-0", "HDMI-A-1"}},
        {{1, 2, 3, 4, 5, 6, 7, 8},
         {"VGA-0", "DVI-I-0", "DVI-D-0", "DVI-A-0", "Composite-0", "SVIDEO-0", "LVDS-0",
          "Component-0"}},
        {{9, 12, 13, 15, 16}, {"9PinDIN-0", "HDMI-B-0", "TV-0", "Virtual-0", "DSI-0"}},
        // Types past the classic table.
        {{17, 16, 19, 20, 17}, {"DPI-0", "DSI-0", "SPI-0", "USB-0", "DPI-1"}},
        {{0, 99, 0, 4000000000u}, {"Unknown-0", "Unknown-1", "Unknown-2", "Unknown-3"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(connectors_of_types(c.types));
        const int fd = open_fd(connectors_of_types(c.types));
        ASSERT_GE(fd, 0);
        kms_device *device = enumerate(fd);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->fd, fd);
        EXPECT_EQ(screen_names(*device), c.names);
        ASSERT_EQ(device->num_screens(), c.types.size());
        for (uint32_t i = 0; i < device->num_screens(); ++i) {
            const kms_screen &screen = *device->screens[i];
            EXPECT_EQ(screen.device, device);
            EXPECT_EQ(screen.type, c.types[i]);
            EXPECT_EQ(screen.id, drmsim::connector_id(fd, i));
        }
        close_device(device);
    }
}

TEST_F(Enumeration, UnreadableConnectorStillYieldsAnUnknownScreen) {
    const struct {
        std::vector<uint32_t> types;
        unsigned failing; // 1-based connector read that fails
        std::vector<std::string> names;
    } cases[] = {
        {{11, 11, 10}, 2, {"HDMI-A-0", "Unknown-0", "DisplayPort-0"}},
        {{11, 11, 10}, 1, {"Unknown-0", "HDMI-A-0", "DisplayPort-0"}},
        {{0, 11}, 2, {"Unknown-0", "Unknown-1"}},
        {{11, 0}, 1, {"Unknown-0", "Unknown-1"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("connector read " + std::to_string(c.failing) + " of " +
                     connectors_of_types(c.types));
        drmsim::reset();
        const int fd = open_fd(connectors_of_types(c.types));
        ASSERT_GE(fd, 0);
        drmsim::fail("getconnector", c.failing, EIO);
        kms_device *device = enumerate(fd);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(screen_names(*device), c.names);
        ASSERT_EQ(device->num_screens(), c.types.size());

        const kms_screen &unread = *device->screens[c.failing - 1];
        EXPECT_EQ(unread.device, device);
        EXPECT_EQ(unread.id, drmsim::connector_id(fd, c.failing - 1));
        EXPECT_EQ(unread.type, 0u);
        EXPECT_FALSE(unread.connected);
        EXPECT_EQ(unread.width, 0u);
        EXPECT_EQ(unread.height, 0u);
        EXPECT_TRUE(mode_is_zero(unread.mode));
        close_device(device);
    }
}

TEST_F(Enumeration, ScreensKeepTheFirstModeAndConnectionState) {
    const int fd = open_fd(R"({"crtcs": 2, "connectors": [
        {"type": "HDMI-A", "connected": false},
        {"type": "DisplayPort", "connected": true, "modes": ["1280x720@60", "640x480@60"]},
        {"type": "VGA", "connected": "unknown", "modes": ["800x600@60"]},
        {"type": "HDMI-A", "connected": false, "modes": ["1024x768@60"]}
    ]})");
    ASSERT_GE(fd, 0);
    kms_device *device = enumerate(fd);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->num_screens(), 4u);

    const struct {
        const char *name;
        bool connected;
        uint32_t width, height;
    } expected[] = {
        {"HDMI-A-0", false, 0, 0},
        {"DisplayPort-0", true, 1280, 720},
        {"VGA-0", false, 800, 600},
        {"HDMI-A-1", false, 1024, 768}, // disconnected, yet its modes are read
    };
    for (uint32_t i = 0; i < 4; ++i) {
        const kms_screen &screen = *device->screens[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(screen.name, expected[i].name);
        EXPECT_EQ(screen.connected, expected[i].connected);
        EXPECT_EQ(screen.width, expected[i].width);
        EXPECT_EQ(screen.height, expected[i].height);
        EXPECT_EQ(screen.mode.hdisplay, expected[i].width);
        EXPECT_EQ(screen.mode.vdisplay, expected[i].height);

        // The stored mode is the kernel's first mode, every field of it.
        drmModeConnector *connector = drmModeGetConnector(fd, screen.id);
        ASSERT_NE(connector, nullptr);
        if (connector->count_modes > 0)
            EXPECT_EQ(std::memcmp(&screen.mode, &connector->modes[0], sizeof screen.mode), 0);
        else
            EXPECT_TRUE(mode_is_zero(screen.mode));
        drmModeFreeConnector(connector);
    }
}

TEST_F(Enumeration, UnreadableResourcesLeaveEmptyArraysNotANullDevice) {
    // Screens and CRTCs each read the resources once, in that order.
    const struct {
        const char *what;
        std::vector<unsigned> failing_reads;
        uint32_t screens, crtcs;
        bool planes_have_crtcs;
    } cases[] = {
        {"none", {}, 2, 3, true},
        {"screens' read", {1}, 0, 3, true},
        {"CRTCs' read", {2}, 2, 0, false},
        {"both reads", {1, 2}, 0, 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        drmsim::reset();
        const int fd = open_fd_file("small-3crtc.json");
        ASSERT_GE(fd, 0);
        for (const unsigned nth : c.failing_reads)
            drmsim::fail("getresources", nth, EIO);
        kms_device *device = enumerate(fd);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(drmsim::request_count("getresources"), 2u);
        EXPECT_EQ(device->num_screens(), c.screens);
        EXPECT_EQ(device->num_crtcs(), c.crtcs);
        for (uint32_t i = 0; i < device->num_crtcs(); ++i) {
            EXPECT_EQ(device->crtcs[i]->id, drmsim::crtc_id(fd, i));
            EXPECT_EQ(device->crtcs[i]->device, device);
        }
        // Planes are listed either way; without CRTC records they have none.
        ASSERT_EQ(device->num_planes(), 5u);
        for (const auto &plane : device->planes)
            EXPECT_EQ(plane->crtc != nullptr, c.planes_have_crtcs) << "plane " << plane->id;
        close_device(device);
    }
}

TEST_F(Enumeration, UnreadablePlaneResourcesLeaveNoPlanes) {
    const int fd = open_fd_file("small-3crtc.json");
    ASSERT_GE(fd, 0);
    drmsim::fail("getplaneresources", 1, ENOMEM);
    kms_device *device = enumerate(fd);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->num_screens(), 2u);
    EXPECT_EQ(device->num_crtcs(), 3u);
    EXPECT_EQ(device->num_planes(), 0u);
    EXPECT_EQ(drmsim::request_count("getplane"), 0u);
}

TEST_F(Enumeration, UnreadablePlaneKeepsOnlyItsId) {
    const int fd = open_fd(R"({"crtcs": 2, "planes": [
        {"type": "primary", "possible_crtcs": 1, "formats": ["XR24"]},
        {"type": "overlay", "possible_crtcs": 3, "formats": ["XR24", "NV12"]}
    ]})");
    ASSERT_GE(fd, 0);
    drmsim::fail("getplane", 1, EIO);
    kms_device *device = enumerate(fd);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->num_planes(), 2u);

    const kms_plane &unread = *device->planes[0];
    EXPECT_EQ(unread.device, device);
    EXPECT_EQ(unread.id, drmsim::plane_id(fd, 0));
    EXPECT_EQ(unread.crtc, nullptr);
    EXPECT_EQ(unread.type, 0u);
    EXPECT_TRUE(unread.formats.empty());
    EXPECT_FALSE(kms_plane_supports_format(&unread, DRM_FORMAT_XRGB8888));

    const kms_plane &read = *device->planes[1];
    EXPECT_EQ(read.id, drmsim::plane_id(fd, 1));
    EXPECT_EQ(read.crtc, device->crtcs[0].get());
    EXPECT_EQ(read.type, uint32_t{DRM_PLANE_TYPE_OVERLAY});
    EXPECT_EQ(read.formats, (std::vector<uint32_t>{DRM_FORMAT_XRGB8888, DRM_FORMAT_NV12}));
    // The unreadable plane's properties are not asked for.
    EXPECT_EQ(drmsim::request_count("getproperties"), 1u);
}

TEST_F(Enumeration, PlaneCrtcIsTheCurrentOneElseTheLowestAllowed) {
    const struct {
        const char *plane_json;
        int crtc_index; // -1: none
    } cases[] = {
        {R"({"possible_crtcs": 1})", 0},
        {R"({"possible_crtcs": 6})", 1}, // 0b0110
        {R"({"possible_crtcs": 4})", 2},
        {R"({"possible_crtcs": 8})", -1}, // only a CRTC the device does not have
        {R"({"possible_crtcs": 0})", -1},
        {R"({"possible_crtcs": 4294967295})", 0},
        {R"({"possible_crtcs": 4294967288})", -1},  // bits 3..31 only
        {R"({"possible_crtcs": 1, "crtc": 2})", 2}, // shown on CRTC 2: that wins
        {R"({"possible_crtcs": 8, "crtc": 1})", 1},
        {R"({"possible_crtcs": 0, "crtc": 0})", 0},
    };
    std::string json = R"({"crtcs": 3, "planes": [)";
    for (size_t i = 0; i < std::size(cases); ++i)
        json += std::string(i ? ", " : "") + cases[i].plane_json;
    json += "]}";

    const int fd = open_fd(json);
    ASSERT_GE(fd, 0);
    kms_device *device = enumerate(fd);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->num_crtcs(), 3u);
    ASSERT_EQ(device->num_planes(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].plane_json);
        const kms_crtc *expected =
            cases[i].crtc_index < 0 ? nullptr : device->crtcs[size_t(cases[i].crtc_index)].get();
        EXPECT_EQ(device->planes[i]->crtc, expected);
    }
}

TEST_F(Enumeration, PlaneWithoutCrtcsOnTheDeviceHasNone) {
    kms_device *device = open_device(R"({"crtcs": 0, "planes": [{"possible_crtcs": 1}]})");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->num_crtcs(), 0u);
    ASSERT_EQ(device->num_planes(), 1u);
    EXPECT_EQ(device->planes[0]->crtc, nullptr);
}

TEST_F(Enumeration, PlaneTypeIsTheLastTypeProperty) {
    const struct {
        const char *type_properties;
        uint32_t type;
    } cases[] = {
        {"[]", 0}, // no "type" property
        {"[1]", 1},    {"[2]", 2},       {"[0]", 0},          {"[1, 2]", 2},
        {"[2, 0]", 0}, {"[0, 2, 1]", 1}, {"[4294967298]", 2}, // 2^32 + 2: kept to 32 bits
    };
    std::string json = R"({"crtcs": 1, "planes": [)";
    for (size_t i = 0; i < std::size(cases); ++i)
        json += std::string(i ? ", " : "") + R"({"type": "overlay", "type_properties": )" +
                cases[i].type_properties + "}";
    json += "]}";

    kms_device *device = open_device(json);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->num_planes(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(device->planes[i]->type, cases[i].type) << cases[i].type_properties;
}

TEST_F(Enumeration, UnreadablePropertiesLeaveTheTypeUnset) {
    // One plane whose properties are: type 1, type 2, zpos.
    const std::string json = R"({"crtcs": 1, "planes": [
        {"type": "primary", "possible_crtcs": 1, "formats": ["XR24"], "type_properties": [1, 2]}
    ]})";
    const struct {
        const char *request;
        unsigned nth;
        uint32_t type;
    } cases[] = {
        {"getproperties", 1, 0},
        {"getproperty", 1, 2}, // the first "type" is skipped
        {"getproperty", 2, 1}, // the last "type" is skipped
        {"getproperty", 3, 2}, // zpos is skipped
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.request) + " #" + std::to_string(c.nth));
        drmsim::reset();
        const int fd = open_fd(json);
        ASSERT_GE(fd, 0);
        drmsim::fail(c.request, c.nth, EIO);
        kms_device *device = enumerate(fd);
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(device->num_planes(), 1u);
        const kms_plane &plane = *device->planes[0];
        EXPECT_EQ(plane.type, c.type);
        // Properties come last: the CRTC and formats are already known.
        EXPECT_EQ(plane.crtc, device->crtcs[0].get());
        EXPECT_EQ(plane.formats, std::vector<uint32_t>{DRM_FORMAT_XRGB8888});
        close_device(device);
    }
}

TEST_F(Enumeration, UniversalPlanesAreAskedForAndOptional) {
    const struct {
        const char *what;
        bool cap_allowed;
        bool fail_cap_request;
        std::vector<uint32_t> plane_types;
    } cases[] = {
        {"cap granted", true, false, {1, 1, 1, 0, 2}},
        {"cap unknown to the driver", false, false, {0}},
        {"cap request fails", true, true, {0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        drmsim::reset();
        std::string json = R"({"crtcs": 3, "universal_planes_cap": )" +
                           std::string(c.cap_allowed ? "true" : "false") + R"(, "planes": [
            {"type": "primary", "possible_crtcs": 1}, {"type": "primary", "possible_crtcs": 2},
            {"type": "primary", "possible_crtcs": 4}, {"type": "overlay", "possible_crtcs": 7},
            {"type": "cursor", "possible_crtcs": 7}]})";
        const int fd = open_fd(json);
        ASSERT_GE(fd, 0);
        if (c.fail_cap_request)
            drmsim::fail("setclientcap", 1, EINVAL);
        kms_device *device = enumerate(fd);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(drmsim::request_count("setclientcap"), 1u);
        std::vector<uint32_t> types;
        for (const auto &plane : device->planes)
            types.push_back(plane->type);
        EXPECT_EQ(types, c.plane_types);
        close_device(device);
    }
}

TEST_F(Enumeration, EmptyDevicesYieldEmptyArrays) {
    const struct {
        const char *json;
        uint32_t screens, crtcs;
    } cases[] = {
        {R"({"crtcs": 2, "connectors": []})", 0, 2},
        {R"({"crtcs": 0, "connectors": [{"type": "HDMI-A"}]})", 1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.json);
        kms_device *device = open_device(c.json);
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->num_screens(), c.screens);
        EXPECT_EQ(device->num_crtcs(), c.crtcs);
        close_device(device);
    }
}

TEST_F(Enumeration, CloseReleasesTheDescriptor) {
    const int fd = open_fd_file("hdmi-3crtc.json");
    ASSERT_GE(fd, 0);
    kms_device *device = enumerate(fd);
    ASSERT_NE(device, nullptr);
    close_device(device);
    EXPECT_TRUE(drmsim::leaks(fd).closed);
    kms_device_close(nullptr); // accepted, does nothing
}

} // namespace
