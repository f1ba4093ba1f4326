// SPDX-License-Identifier: MIT
// The three dumb-buffer requests, issued through drmIoctl with the kernel's
// own request records. Each returns 0 or a negated errno value.
#pragma once

#include <cstdint>

#include <drm.h>
#include <drm_mode.h>

namespace kms_detail {

inline constexpr unsigned long kCreateDumbRequest = DRM_IOCTL_MODE_CREATE_DUMB;
inline constexpr unsigned long kMapDumbRequest = DRM_IOCTL_MODE_MAP_DUMB;
inline constexpr unsigned long kDestroyDumbRequest = DRM_IOCTL_MODE_DESTROY_DUMB;

struct DumbBuffer {
    uint32_t handle = 0;
    uint32_t pitch = 0;
    uint64_t size = 0;
};

int create_dumb_buffer(int fd, uint32_t width, uint32_t height, uint32_t bpp, DumbBuffer &out);
// Offset at which the buffer can be mapped through the device descriptor.
int map_dumb_buffer(int fd, uint32_t handle, uint64_t &offset);
int destroy_dumb_buffer(int fd, uint32_t handle);

} // namespace kms_detail
