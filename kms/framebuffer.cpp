// SPDX-License-Identifier: MIT
// 32-bpp dumb buffers registered as KMS framebuffers, mapped on demand.
#include <cerrno>
#include <cstdint>
#include <limits>
#include <new>
#include <sys/mman.h>

#include <drm_fourcc.h>
#include <xf86drmMode.h>

#include "dumb_buffer.h"
#include "negated_errno.h"
#include "kms_objects.h"

using namespace kms_detail;

namespace {

constexpr uint32_t kBitsPerPixel = 32;

bool is_supported_format(uint32_t format) {
    return format == DRM_FORMAT_XRGB8888 || format == DRM_FORMAT_XBGR8888 ||
           format == DRM_FORMAT_RGBA8888;
}

} // namespace

kms_framebuffer *kms_framebuffer_create(kms_device *device, uint32_t width, uint32_t height,
                                        uint32_t format) {
    if (!is_supported_format(format))
        return nullptr;
    // One plane of 32-bit pixels: the same dumb buffer and ADDFB2 as any format.
    const kms_format_planes planes{.count = 1, .bits_per_pixel = {kBitsPerPixel, 0, 0}};
    return kms_framebuffer_create_format(device, width, height, format, &planes);
}

int kms_framebuffer_map(kms_framebuffer *fb, void **out) {
    if (!fb || !out)
        return -EINVAL;
    if (fb->map) {
        *out = fb->map;
        return 0;
    }
    uint64_t offset = 0;
    if (const int ret = map_dumb_buffer(fb->device->fd, fb->handle, offset); ret < 0)
        return ret;
    if (fb->size > std::numeric_limits<size_t>::max() ||
        offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
        return -EOVERFLOW;
    void *map = mmap(nullptr, static_cast<size_t>(fb->size), PROT_READ | PROT_WRITE, MAP_SHARED,
                     fb->device->fd, static_cast<off_t>(offset));
    if (map == MAP_FAILED)
        return negated_errno();
    fb->map = map;
    *out = map;
    return 0;
}

void kms_framebuffer_unmap(kms_framebuffer *fb) {
    if (!fb || !fb->map)
        return;
    munmap(fb->map, static_cast<size_t>(fb->size));
    fb->map = nullptr;
}

void kms_framebuffer_destroy(kms_framebuffer *fb) {
    kms_framebuffer_destroy_checked(fb, nullptr);
}

int kms_framebuffer_destroy_checked(kms_framebuffer *fb,
                                    std::vector<kms_release_failure> *failures) {
    if (!fb)
        return 0;
    int first = 0;
    const auto note = [&](const char *request, int error) {
        if (error >= 0)
            return;
        if (first == 0)
            first = error;
        if (failures)
            failures->push_back({request, error});
    };
    // A mapping left behind would outlive the buffer it shows.
    kms_framebuffer_unmap(fb);
    if (fb->id != 0)
        note("RMFB", drmModeRmFB(fb->device->fd, fb->id) < 0 ? negated_errno() : 0);
    note("DESTROY_DUMB", destroy_dumb_buffer(fb->device->fd, fb->handle));
    delete fb;
    return first;
}
