// SPDX-License-Identifier: MIT
// The three dumb-buffer requests, issued through drmIoctl (dumb_buffer.h).
#include "dumb_buffer.h"

#include "negated_errno.h"

#include <cerrno>

#include <xf86drm.h>

namespace kms_detail {

int create_dumb_buffer(int fd, uint32_t width, uint32_t height, uint32_t bpp, DumbBuffer &out) {
    drm_mode_create_dumb request{};
    request.height = height;
    request.width = width;
    request.bpp = bpp;
    request.flags = 0;
    if (drmIoctl(fd, kCreateDumbRequest, &request) < 0)
        return negated_errno();
    out.handle = request.handle;
    out.pitch = request.pitch;
    out.size = request.size;
    return 0;
}

int map_dumb_buffer(int fd, uint32_t handle, uint64_t &offset) {
    drm_mode_map_dumb request{};
    request.handle = handle;
    request.pad = 0;
    if (drmIoctl(fd, kMapDumbRequest, &request) < 0)
        return negated_errno();
    offset = request.offset;
    return 0;
}

int destroy_dumb_buffer(int fd, uint32_t handle) {
    drm_mode_destroy_dumb request{};
    request.handle = handle;
    if (drmIoctl(fd, kDestroyDumbRequest, &request) < 0)
        return negated_errno();
    return 0;
}

} // namespace kms_detail
