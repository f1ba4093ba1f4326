// SPDX-License-Identifier: MIT
// A CRTC's colour lookup table through the legacy gamma calls, and the
// cursor size the driver takes.
#include <cerrno>
#include <new>

#include <xf86drm.h>
#include <xf86drmMode.h>

#include "drm_owners.h"
#include "dumb_buffer.h"
#include "negated_errno.h"
#include "kms_objects.h"

using namespace kms_detail;

int kms_crtc_read_gamma(const kms_crtc *crtc, kms_gamma *out) {
    if (!crtc || !crtc->device || !out)
        return -EINVAL;
    const CrtcOwner state = read_crtc(crtc->device->fd, crtc->id);
    if (!state)
        return negated_errno();
    try {
        kms_gamma gamma;
        const size_t size = state->gamma_size > 0 ? size_t(state->gamma_size) : 0;
        gamma.red.resize(size);
        gamma.green.resize(size);
        gamma.blue.resize(size);
        if (size > 0 && drmModeCrtcGetGamma(crtc->device->fd, crtc->id, uint32_t(size),
                                            gamma.red.data(), gamma.green.data(),
                                            gamma.blue.data()) < 0)
            return negated_errno();
        *out = std::move(gamma);
    } catch (const std::bad_alloc &) {
        return -ENOMEM;
    }
    return 0;
}

int kms_crtc_set_gamma(const kms_crtc *crtc, const kms_gamma *gamma) {
    if (!crtc || !crtc->device || !gamma || gamma->red.size() != gamma->green.size() ||
        gamma->red.size() != gamma->blue.size())
        return -EINVAL;
    // The call only reads the tables; its prototype predates const.
    kms_gamma copy = *gamma;
    if (drmModeCrtcSetGamma(crtc->device->fd, crtc->id, uint32_t(copy.red.size()),
                            copy.red.data(), copy.green.data(), copy.blue.data()) < 0)
        return negated_errno();
    return 0;
}

int kms_device_cursor_size(const kms_device *device, uint32_t *width, uint32_t *height) {
    if (!device || !width || !height)
        return -EINVAL;
    uint64_t w = 0, h = 0;
    if (drmGetCap(device->fd, DRM_CAP_CURSOR_WIDTH, &w) < 0 ||
        drmGetCap(device->fd, DRM_CAP_CURSOR_HEIGHT, &h) < 0)
        return negated_errno();
    if (w == 0 || h == 0 || w > UINT32_MAX || h > UINT32_MAX)
        return -ERANGE;
    *width = uint32_t(w);
    *height = uint32_t(h);
    return 0;
}
