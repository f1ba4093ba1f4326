// SPDX-License-Identifier: MIT
// Dumb buffers, framebuffers and the memory behind them.
#include <sys/mman.h>

#include <cerrno>
#include <climits>

#include "device.h"
#include "real_calls.h"

namespace drmsim {
namespace {

constexpr uint64_t kPageSize = 4096;
uint64_t page_align(uint64_t n) {
    return (n + kPageSize - 1) & ~(kPageSize - 1);
}

} // namespace

std::shared_ptr<BufferObject> BufferObject::create(uint64_t size) {
    void *view =
        real::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (view == MAP_FAILED)
        return nullptr;
    return std::shared_ptr<BufferObject>(new BufferObject(static_cast<uint8_t *>(view), size));
}

BufferObject::~BufferObject() {
    real::munmap(view_, size_);
}

void *BufferObject::map(void *addr, size_t length, int prot, int flags) const {
    // mremap of a shared mapping with old size 0 maps the same pages again.
    int how = MREMAP_MAYMOVE;
    void *target = nullptr;
    if (flags & MAP_FIXED)
        how |= MREMAP_FIXED, target = addr;
    void *p = mremap(view_, 0, length, how, target);
    if (p == MAP_FAILED)
        return p;
    if (prot != (PROT_READ | PROT_WRITE) && mprotect(p, length, prot) != 0) {
        int e = errno;
        real::munmap(p, length);
        errno = e;
        return MAP_FAILED;
    }
    return p;
}

int Device::create_dumb(drm_mode_create_dumb &c) {
    if (!c.width || !c.height || !c.bpp)
        return -EINVAL;
    // The kernel's overflow checks for 32-bit size arithmetic.
    if (c.bpp > UINT32_MAX - 8)
        return -EINVAL;
    uint32_t cpp = (c.bpp + 7) / 8;
    if (cpp > UINT32_MAX / c.width)
        return -EINVAL;
    uint64_t stride = uint64_t(cpp) * c.width;
    uint64_t pitch = (stride + dumb_pitch_align_ - 1) / dumb_pitch_align_ * dumb_pitch_align_;
    if (pitch > UINT32_MAX || c.height > UINT32_MAX / pitch)
        return -EINVAL;
    uint64_t size = page_align(pitch * c.height);
    if (size == 0 || size > UINT32_MAX)
        return -EINVAL;

    auto bo = BufferObject::create(size);
    if (!bo)
        return -ENOMEM;
    bo->map_offset = next_map_offset_;
    next_map_offset_ += size + kPageSize; // keep offsets of buffers apart
    uint32_t handle = 1;                  // lowest free handle, as idr gives
    while (handles_.count(handle))
        ++handle;
    handles_[handle] = std::move(bo);
    c.handle = handle;
    c.pitch = uint32_t(pitch);
    c.size = size;
    return 0;
}

int Device::map_dumb(drm_mode_map_dumb &m) {
    auto it = handles_.find(m.handle);
    if (it == handles_.end())
        return -ENOENT;
    m.offset = it->second->map_offset;
    return 0;
}

int Device::release_handle(uint32_t handle) {
    // Only the handle goes: framebuffers and mappings keep the memory.
    return handles_.erase(handle) ? 0 : -ENOENT;
}

int Device::destroy_dumb(drm_mode_destroy_dumb &d) {
    return release_handle(d.handle);
}

int Device::gem_close(drm_gem_close &g) {
    return release_handle(g.handle);
}

int Device::find_mapping(uint64_t offset, uint64_t length,
                         std::shared_ptr<BufferObject> &out) const {
    auto check = [&](const std::shared_ptr<BufferObject> &bo) {
        if (bo->map_offset != offset)
            return false;
        out = bo;
        return true;
    };
    for (const auto &[h, bo] : handles_)
        if (check(bo))
            return length > bo->size() ? -EINVAL : 0;
    // A buffer whose handle is gone can still be mapped while a framebuffer
    // holds it (its fake offset lives as long as the object).
    for (const auto &[id, fb] : framebuffers_)
        for (const auto &bo : fb->buffers)
            if (bo && check(bo))
                return length > bo->size() ? -EINVAL : 0;
    return -EINVAL;
}

int Device::add_framebuffer(const drm_mode_fb_cmd2 &f, uint32_t &id_out) {
    if (f.flags & ~uint32_t(DRM_MODE_FB_INTERLACED | DRM_MODE_FB_MODIFIERS))
        return -EINVAL;
    if (f.flags & DRM_MODE_FB_MODIFIERS)
        return -EINVAL; // no modifier support
    if (f.width > max_width_ || f.height > max_height_)
        return -EINVAL;
    const FormatInfo *info = find_format(f.pixel_format);
    if (!info)
        return -EINVAL;
    if (!f.width || !f.height)
        return -EINVAL;
    for (unsigned i = 0; i < info->num_planes; ++i) {
        // framebuffer_check: chroma planes cover a partial last block.
        uint32_t width = i ? (f.width + info->hsub - 1) / info->hsub : f.width;
        uint32_t height = i ? (f.height + info->vsub - 1) / info->vsub : f.height;
        uint64_t min_pitch = uint64_t(width) * info->cpp[i];
        if (!f.handles[i])
            return -EINVAL;
        if (min_pitch > UINT_MAX)
            return -ERANGE;
        if (uint64_t(height) * f.pitches[i] + f.offsets[i] > UINT_MAX)
            return -ERANGE;
        if (f.pitches[i] < min_pitch)
            return -EINVAL;
    }
    bool some_plane_has_it = false;
    for (const Plane &p : planes_)
        for (uint32_t fmt : p.formats)
            some_plane_has_it = some_plane_has_it || fmt == f.pixel_format;
    if (!some_plane_has_it)
        return -EINVAL;

    auto fb = std::make_shared<Framebuffer>();
    fb->width = f.width;
    fb->height = f.height;
    fb->format = f.pixel_format;
    fb->info = info;
    for (unsigned i = 0; i < info->num_planes; ++i) {
        auto it = handles_.find(f.handles[i]);
        if (it == handles_.end())
            return -ENOENT;
        // drm_gem_fb_init_with_funcs rounds the chroma plane down here.
        uint32_t width = i ? f.width / info->hsub : f.width;
        uint32_t height = i ? f.height / info->vsub : f.height;
        uint64_t min_size =
            uint64_t(height - 1) * f.pitches[i] + uint64_t(width) * info->cpp[i] + f.offsets[i];
        if (it->second->size() < min_size)
            return -EINVAL;
        fb->buffers[i] = it->second;
        fb->pitches[i] = f.pitches[i];
        fb->offsets[i] = f.offsets[i];
    }
    fb->id = new_object_id();
    framebuffers_[fb->id] = fb;
    id_out = fb->id;
    return 0;
}

int Device::add_fb2(drm_mode_fb_cmd2 &f) {
    return add_framebuffer(f, f.fb_id);
}

int Device::add_fb(drm_mode_fb_cmd &f) {
    // The legacy call names a format by bits per pixel and colour depth.
    uint32_t format = 0;
    if (f.bpp == 32 && f.depth == 24)
        format = fourcc('X', 'R', '2', '4');
    else if (f.bpp == 32 && f.depth == 32)
        format = fourcc('A', 'R', '2', '4');
    else if (f.bpp == 32 && f.depth == 30)
        format = fourcc('X', 'R', '3', '0');
    else if (f.bpp == 24 && f.depth == 24)
        format = fourcc('R', 'G', '2', '4');
    else if (f.bpp == 16 && f.depth == 16)
        format = fourcc('R', 'G', '1', '6');
    else if (f.bpp == 16 && f.depth == 15)
        format = fourcc('X', 'R', '1', '5');
    else if (f.bpp == 8 && f.depth == 8)
        format = fourcc('C', '8', ' ', ' ');
    else
        return -EINVAL;
    drm_mode_fb_cmd2 f2{};
    f2.width = f.width;
    f2.height = f.height;
    f2.pixel_format = format;
    f2.handles[0] = f.handle;
    f2.pitches[0] = f.pitch;
    return add_framebuffer(f2, f.fb_id);
}

int Device::remove_fb(unsigned int &id) {
    auto it = framebuffers_.find(id);
    if (it == framebuffers_.end())
        return -ENOENT;
    remove_framebuffer(it->second);
    return 0;
}

void Device::remove_framebuffer(const std::shared_ptr<Framebuffer> &fb) {
    // As the kernel does: whatever shows the framebuffer is turned off, and
    // a CRTC whose primary plane showed it is switched off altogether.
    auto keep = fb; // the map entry may be the caller's only reference
    for (size_t i = 0; i < crtcs_.size(); ++i)
        if (crtcs_[i].active && crtc_framebuffer(unsigned(i)) == keep)
            disable_crtc(unsigned(i));
    for (Plane &p : planes_)
        if (p.fb == keep) {
            p.fb.reset();
            p.crtc = -1;
        }
    for (Crtc &c : crtcs_)
        if (c.fb == keep)
            c.fb.reset();
    framebuffers_.erase(keep->id);
}

} // namespace drmsim
