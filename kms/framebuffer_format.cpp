// SPDX-License-Identifier: MIT
// Framebuffers of any format the caller describes: every plane in one dumb
// buffer, registered with ADDFB2 by one handle and each plane's offset.
//
// One buffer rather than one per plane: drivers choose each dumb buffer's
// pitch on their own, while a chroma plane's pitch must follow plane 0's
// (the pattern generator derives it so); and some drivers take dumb
// buffers of one depth only (virtio-gpu 32 bpp), which a plane-0-sized
// buffer respects for every format such a driver lists.
#include <cerrno>
#include <cstdint>
#include <limits>
#include <new>

#include <xf86drm.h>
#include <xf86drmMode.h>

#include "dumb_buffer.h"
#include "negated_errno.h"
#include "kms_objects.h"

using namespace kms_detail;

namespace {

bool valid(const kms_format_planes &planes) {
    if (planes.count < 1 || planes.count > 3 || planes.xsub == 0 || planes.ysub == 0)
        return false;
    for (uint32_t i = 0; i < planes.count; ++i)
        if (planes.bits_per_pixel[i] == 0 || planes.bits_per_pixel[i] > 128)
            return false;
    return true;
}

uint64_t divide_up(uint64_t n, uint64_t d) {
    return (n + d - 1) / d;
}

// Rows of plane 0's pitch that the further planes need below plane 0.
uint64_t rows_below(const kms_format_planes &planes, uint32_t height) {
    const uint64_t chroma_rows = divide_up(height, planes.ysub);
    const uint64_t unit = uint64_t{planes.bits_per_pixel[0]} * planes.xsub;
    uint64_t rows = 0;
    for (uint32_t i = 1; i < planes.count; ++i)
        rows += divide_up(chroma_rows * planes.bits_per_pixel[i], unit);
    return rows;
}

} // namespace

kms_framebuffer *kms_framebuffer_create_format(kms_device *device, uint32_t width,
                                               uint32_t height, uint32_t format,
                                               const kms_format_planes *planes) {
    if (!device || !planes || !valid(*planes))
        return nullptr;
    const uint64_t buffer_rows = uint64_t{height} + rows_below(*planes, height);
    if (buffer_rows > std::numeric_limits<uint32_t>::max())
        return nullptr;
    auto *fb = new (std::nothrow) kms_framebuffer;
    if (!fb)
        return nullptr;
    fb->device = device;
    fb->width = width;
    fb->height = height;
    fb->format = format;

    DumbBuffer buffer;
    if (create_dumb_buffer(device->fd, width, static_cast<uint32_t>(buffer_rows),
                           planes->bits_per_pixel[0], buffer) < 0) {
        delete fb;
        return nullptr;
    }
    fb->pitch = buffer.pitch;
    fb->handle = buffer.handle;
    fb->size = buffer.size;
    fb->planes = planes->count;
    fb->pitches[0] = buffer.pitch;
    const uint64_t chroma_rows = divide_up(height, planes->ysub);
    uint64_t offset = uint64_t{buffer.pitch} * height;
    for (uint32_t i = 1; i < planes->count; ++i) {
        const uint64_t pitch = uint64_t{buffer.pitch} * planes->bits_per_pixel[i] /
                               (uint64_t{planes->bits_per_pixel[0]} * planes->xsub);
        fb->pitches[i] = static_cast<uint32_t>(pitch);
        fb->offsets[i] = static_cast<uint32_t>(offset);
        offset += pitch * chroma_rows;
    }
    if (offset > buffer.size || offset > std::numeric_limits<uint32_t>::max()) {
        kms_framebuffer_destroy(fb);
        return nullptr;
    }

    uint32_t handles[4] = {}, pitches[4] = {}, offsets[4] = {};
    for (uint32_t i = 0; i < planes->count; ++i) {
        handles[i] = fb->handle;
        pitches[i] = fb->pitches[i];
        offsets[i] = fb->offsets[i];
    }
    if (drmModeAddFB2(device->fd, width, height, format, handles, pitches, offsets, &fb->id, 0) <
        0) {
        fb->id = 0;
        kms_framebuffer_destroy(fb);
        return nullptr;
    }
    return fb;
}

int kms_framebuffer_read_state(const kms_framebuffer *fb, kms_framebuffer_state *out) {
    if (!fb || !fb->device || !out)
        return -EINVAL;
    drmModeFB2 *state = drmModeGetFB2(fb->device->fd, fb->id);
    if (!state)
        return negated_errno();
    *out = {};
    out->width = state->width;
    out->height = state->height;
    out->format = state->pixel_format;
    out->modifier = (state->flags & DRM_MODE_FB_MODIFIERS) ? state->modifier : 0;
    for (int i = 0; i < 4; ++i) {
        out->pitches[i] = state->pitches[i];
        out->offsets[i] = state->offsets[i];
    }
    // GETFB2 hands the DRM master new handles to the buffers; they are
    // ours to close (ours from the creation is never among them).
    for (int i = 0; i < 4; ++i) {
        bool seen = state->handles[i] == 0 || state->handles[i] == fb->handle;
        for (int j = 0; j < i; ++j)
            seen = seen || state->handles[j] == state->handles[i];
        if (!seen)
            drmCloseBufferHandle(fb->device->fd, state->handles[i]);
    }
    drmModeFreeFB2(state);
    return 0;
}
