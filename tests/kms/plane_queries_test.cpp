// SPDX-License-Identifier: MIT
// Plane queries work on the records alone; these devices are built by hand.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <drm_fourcc.h>

#include "kms_objects.h"

namespace {

struct PlaneSpec {
    uint32_t id;
    uint32_t type;
    std::vector<uint32_t> formats;
};

std::unique_ptr<kms_device> make_device(const std::vector<PlaneSpec> &planes) {
    auto device = std::make_unique<kms_device>();
    for (const auto &wanted : planes) {
        auto plane = std::make_unique<kms_plane>();
        plane->device = device.get();
        plane->id = wanted.id;
        plane->type = wanted.type;
        plane->formats = wanted.formats;
        device->planes.push_back(std::move(plane));
    }
    return device;
}

constexpr uint32_t kOverlay = DRM_PLANE_TYPE_OVERLAY;
constexpr uint32_t kPrimary = DRM_PLANE_TYPE_PRIMARY;
constexpr uint32_t kCursor = DRM_PLANE_TYPE_CURSOR;

TEST(FindPlaneByType, IndexSkipsMatchesOfThatTypeOnly) {
    const auto device = make_device({
        {31, kPrimary, {}},
        {32, kOverlay, {}},
        {33, kCursor, {}},
        {34, kPrimary, {}},
        {35, kOverlay, {}},
        {36, kOverlay, {}},
    });
    const struct {
        uint32_t type;
        uint32_t index;
        uint32_t expected_id; // 0: no plane
    } cases[] = {
        {kPrimary, 0, 31}, {kPrimary, 1, 34}, {kPrimary, 2, 0},          {kOverlay, 0, 32},
        {kOverlay, 1, 35}, {kOverlay, 2, 36}, {kOverlay, 3, 0},          {kCursor, 0, 33},
        {kCursor, 1, 0},   {7, 0, 0},         {kOverlay, 0xFFFFFFFF, 0},
    };
    for (const auto &c : cases) {
        const kms_plane *plane = kms_device_find_plane_by_type(device.get(), c.type, c.index);
        if (c.expected_id == 0) {
            EXPECT_EQ(plane, nullptr) << "type " << c.type << " index " << c.index;
        } else {
            ASSERT_NE(plane, nullptr) << "type " << c.type << " index " << c.index;
            EXPECT_EQ(plane->id, c.expected_id) << "type " << c.type << " index " << c.index;
            EXPECT_EQ(plane->type, c.type);
        }
    }
}

TEST(FindPlaneByType, DeviceWithoutPlanesFindsNothing) {
    const auto device = make_device({});
    EXPECT_EQ(kms_device_find_plane_by_type(device.get(), kPrimary, 0), nullptr);
}

TEST(PlaneSupportsFormat, SearchesTheWholeList) {
    const auto device = make_device({
        {40, kPrimary, {DRM_FORMAT_XRGB8888, DRM_FORMAT_ARGB8888, DRM_FORMAT_RGB565}},
        {41, kOverlay, {}}, // formats could not be read
    });
    const kms_plane *listed = device->planes[0].get();
    const kms_plane *unread = device->planes[1].get();
    const struct {
        const kms_plane *plane;
        uint32_t format;
        bool expected;
    } cases[] = {
        {listed, DRM_FORMAT_XRGB8888, true},
        {listed, DRM_FORMAT_ARGB8888, true},
        {listed, DRM_FORMAT_RGB565, true},
        {listed, DRM_FORMAT_XBGR8888, false},
        {listed, 0, false},
        {unread, DRM_FORMAT_XRGB8888, false},
        {unread, 0, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(kms_plane_supports_format(c.plane, c.format), c.expected)
            << "plane " << c.plane->id << " format " << std::hex << c.format;
}

} // namespace
