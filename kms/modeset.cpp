// SPDX-License-Identifier: MIT
// Showing framebuffers on screens and planes, and the plane queries.
#include <algorithm>
#include <cerrno>

#include <xf86drmMode.h>

#include "negated_errno.h"
#include "kms_objects.h"

using kms_detail::negated_errno;

int kms_screen_set(kms_screen *screen, kms_crtc *crtc, kms_framebuffer *fb) {
    if (!screen || !screen->device || !crtc || !fb)
        return -EINVAL;
    // The CRTC that drove the screen before is left to the kernel to resolve.
    uint32_t connector_id = screen->id;
    if (drmModeSetCrtc(screen->device->fd, crtc->id, fb->id, 0, 0, &connector_id, 1,
                       &screen->mode) < 0)
        return negated_errno();
    return 0;
}

int kms_plane_set(kms_plane *plane, kms_framebuffer *fb, uint32_t x, uint32_t y) {
    if (!plane || !plane->device || !plane->crtc || !fb)
        return -EINVAL;
    // The source rectangle is 16.16 fixed point: wider buffers cannot be expressed.
    constexpr uint32_t kMaxSourceSize = 0xFFFF;
    if (fb->width > kMaxSourceSize || fb->height > kMaxSourceSize)
        return -EINVAL;
    if (drmModeSetPlane(plane->device->fd, plane->id, plane->crtc->id, fb->id, 0,
                        static_cast<int32_t>(x), static_cast<int32_t>(y), fb->width, fb->height, 0,
                        0, fb->width << 16, fb->height << 16) < 0)
        return negated_errno();
    return 0;
}

bool kms_plane_supports_format(const kms_plane *plane, uint32_t format) {
    return plane &&
           std::find(plane->formats.begin(), plane->formats.end(), format) != plane->formats.end();
}

kms_plane *kms_device_find_plane_by_type(kms_device *device, uint32_t type, uint32_t index) {
    if (!device)
        return nullptr;
    for (const auto &plane : device->planes) {
        if (plane->type != type)
            continue;
        if (index == 0)
            return plane.get();
        --index;
    }
    return nullptr;
}
