// SPDX-License-Identifier: MIT
// Enumeration of one DRM device into kms_device records, and its teardown.
#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <unistd.h>

#include <xf86drm.h>

#include "connector_names.h"
#include "drm_owners.h"
#include "negated_errno.h"
#include "kms_objects.h"

using namespace kms_detail;

namespace {

// The array allocations may fail like any other: the C-style interface of this
// layer reports that as "fewer records", never as an exception.
template <typename T>
bool try_reserve(std::vector<T> &vec, size_t count) {
    try {
        vec.reserve(count);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

void enumerate_screens(kms_device &device) {
    const ResourcesOwner resources = read_resources(device.fd);
    if (!resources)
        device.resources_error = negated_errno();
    else
        device.max_width = resources->max_width, device.max_height = resources->max_height;
    if (!resources || resources->count_connectors <= 0 || !resources->connectors)
        return;
    const std::span<const uint32_t> ids(resources->connectors,
                                        static_cast<size_t>(resources->count_connectors));
    if (!try_reserve(device.screens, ids.size()))
        return;

    ScreenNamer namer;
    for (const uint32_t id : ids) {
        kms_screen *screen = kms_screen_create(&device, id);
        if (!screen)
            continue;
        try {
            screen->name = namer.peek(screen->type);
            namer.advance(screen->type);
        } catch (const std::bad_alloc &) {
            kms_screen_destroy(screen);
            continue;
        }
        device.screens.emplace_back(screen); // capacity reserved above: cannot throw
    }
}

void enumerate_crtcs(kms_device &device) {
    // Read afresh: the screens' copy of the resources is already gone.
    const ResourcesOwner resources = read_resources(device.fd);
    if (!resources || resources->count_crtcs <= 0 || !resources->crtcs)
        return;
    const std::span<const uint32_t> ids(resources->crtcs,
                                        static_cast<size_t>(resources->count_crtcs));
    if (!try_reserve(device.crtcs, ids.size()))
        return;
    for (const uint32_t id : ids) {
        if (kms_crtc *crtc = kms_crtc_create(&device, id))
            device.crtcs.emplace_back(crtc);
    }
}

// Adds the planes the kernel lists that the device does not hold yet.
int add_listed_planes(kms_device &device) {
    const PlaneResourcesOwner resources = read_plane_resources(device.fd);
    if (!resources)
        return negated_errno();
    if (resources->count_planes == 0 || !resources->planes)
        return 0;
    const std::span<const uint32_t> ids(resources->planes, resources->count_planes);
    if (!try_reserve(device.planes, ids.size()))
        return -ENOMEM;
    for (const uint32_t id : ids) {
        const bool held = std::any_of(device.planes.begin(), device.planes.end(),
                                      [id](const auto &plane) { return plane->id == id; });
        if (held)
            continue;
        if (kms_plane *plane = kms_plane_create(&device, id))
            device.planes.emplace_back(plane);
    }
    return 0;
}

void enumerate_planes(kms_device &device) {
    // Without this the kernel lists overlay planes only; many drivers have
    // none. A kernel that refuses it still lists what it lists.
    drmSetClientCap(device.fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1);
    add_listed_planes(device);
}

// The CRTC a plane belongs to: the one it is shown on now, else the first
// CRTC its possible-CRTCs mask allows.
kms_crtc *resolve_plane_crtc(const kms_device &device, const drmModePlane &plane) {
    if (device.crtcs.empty())
        return nullptr;
    uint32_t target = plane.crtc_id;
    if (target == 0) {
        constexpr size_t kMaskBits = 32;
        const size_t limit = std::min(device.crtcs.size(), kMaskBits);
        for (size_t i = 0; i < limit; ++i) {
            if (plane.possible_crtcs & (uint32_t{1} << i)) {
                target = device.crtcs[i]->id;
                break;
            }
        }
        if (target == 0)
            return nullptr;
    }
    for (const auto &crtc : device.crtcs) {
        if (crtc->id == target)
            return crtc.get();
    }
    return nullptr;
}

// Value of the plane's "type" property; the last such property wins, 0 if
// there is none or the properties cannot be read.
uint32_t read_plane_type(int fd, uint32_t plane_id) {
    const ObjectPropertiesOwner props = read_object_properties(fd, plane_id, DRM_MODE_OBJECT_PLANE);
    if (!props || !props->props || !props->prop_values)
        return 0;
    uint32_t type = 0;
    for (uint32_t i = 0; i < props->count_props; ++i) {
        const PropertyOwner property = read_property(fd, props->props[i]);
        if (!property)
            continue;
        if (std::strcmp(property->name, "type") == 0)
            type = static_cast<uint32_t>(props->prop_values[i]);
    }
    return type;
}

} // namespace

kms_device *kms_device_open(int fd) {
    auto *device = new (std::nothrow) kms_device;
    if (!device)
        return nullptr;
    device->fd = fd;
    // Screens first; CRTCs before planes, which look their CRTC up.
    enumerate_screens(*device);
    enumerate_crtcs(*device);
    enumerate_planes(*device);
    return device;
}

int kms_device_read_planes(kms_device *device) {
    if (!device)
        return -EINVAL;
    return add_listed_planes(*device);
}

int kms_device_is_master(const kms_device *device) {
    if (!device)
        return -EINVAL;
    return drmIsMaster(device->fd) ? 1 : 0;
}

void kms_device_close(kms_device *device) {
    if (!device)
        return;
    device->planes.clear();
    device->crtcs.clear();
    device->screens.clear();
    if (device->fd >= 0)
        close(device->fd);
    delete device;
}

namespace {

// A zeroed record of a KMS object, or nullptr when it cannot be allocated.
template <typename Record>
Record *new_record(kms_device *device, uint32_t id) {
    auto *record = new (std::nothrow) Record;
    if (record) {
        record->device = device;
        record->id = id;
    }
    return record;
}

} // namespace

kms_screen *kms_screen_create(kms_device *device, uint32_t id) {
    auto *screen = new_record<kms_screen>(device, id);
    if (!screen || !device)
        return screen;

    const ConnectorOwner connector = read_connector(device->fd, id);
    if (!connector)
        return screen;
    screen->connected = connector->connection == DRM_MODE_CONNECTED;
    screen->connection = connector->connection;
    screen->type = connector->connector_type;
    try {
        screen->kernel_name = std::string(kernel_connector_type_name(screen->type)) + "-" +
                              std::to_string(connector->connector_type_id);
    } catch (const std::bad_alloc &) {
        // stays empty
    }
    if (connector->modes && connector->count_modes > 0)
        screen->mode = connector->modes[0];
    screen->width = screen->mode.hdisplay;
    screen->height = screen->mode.vdisplay;
    return screen;
}

void kms_screen_destroy(kms_screen *screen) {
    delete screen;
}

kms_crtc *kms_crtc_create(kms_device *device, uint32_t id) {
    return new_record<kms_crtc>(device, id);
}

void kms_crtc_destroy(kms_crtc *crtc) {
    delete crtc;
}

kms_plane *kms_plane_create(kms_device *device, uint32_t id) {
    auto *plane = new_record<kms_plane>(device, id);
    if (!plane || !device)
        return plane;

    {
        const PlaneOwner description = read_plane(device->fd, id);
        if (!description)
            return plane;
        plane->crtc = resolve_plane_crtc(*device, *description);
        if (description->formats && description->count_formats > 0) {
            try {
                plane->formats.assign(description->formats,
                                      description->formats + description->count_formats);
            } catch (const std::bad_alloc &) {
                return plane; // no formats, and the type stays unread
            }
        }
    }
    plane->type = read_plane_type(device->fd, id);
    return plane;
}

void kms_plane_destroy(kms_plane *plane) {
    delete plane;
}
