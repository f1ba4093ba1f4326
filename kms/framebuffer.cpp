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
    if (!device || !is_supported_format(format))
        return nullptr;
    auto *fb = new (std::nothrow) kms_framebuffer;
    if (!fb)
        return nullptr;
    fb->device = device;
    fb->width = width;
    fb->height = height;
    fb->format = format;

    DumbBuffer buffer;
    if (create_dumb_buffer(device->fd, width, height, kBitsPerPixel, buffer) < 0) {
        delete fb;
        return nullptr;
    }
    fb->pitch = buffer.pitch;
    fb->handle = buffer.handle;
    fb->size = buffer.size;
    fb->pitches[0] = buffer.pitch;

    const uint32_t handles[4] = {fb->handle, 0, 0, 0};
    const uint32_t pitches[4] = {fb->pitch, 0, 0, 0};
    const uint32_t offsets[4] = {0, 0, 0, 0};
    if (drmModeAddFB2(device->fd, width, height, format, handles, pitches, offsets, &fb->id, 0) <
        0) {
        fb->id = 0; // nothing was registered, whatever the call left there
        kms_framebuffer_destroy(fb);
        return nullptr;
    }
    return fb;
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
