// SPDX-License-Identifier: MIT
// Shared helpers of the simulated-device tests.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <drm_fourcc.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "drmsim.h"

namespace drmsim_test {

inline std::string device_path(const std::string &name) {
    return std::string(DRMSIM_DEVICES_DIR) + "/" + name;
}

// Owns one simulated device descriptor; every test starts from a reset
// session.
class Device {
public:
    explicit Device(const std::string &file) : fd_(drmsim::open_device_file(device_path(file))) {}
    static Device from_text(const std::string &json) {
        return Device(drmsim::open_device(json), 0);
    }
    Device(Device &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ~Device() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;
    int fd() const { return fd_; }

private:
    Device(int fd, int) : fd_(fd) {}
    int fd_;
};

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { drmsim::reset(); }
    void TearDown() override { drmsim::reset(); }
};

// A dumb buffer of one colour registered as a framebuffer; removed and
// destroyed on scope exit.
class SolidFb {
public:
    // 0xAARRGGBB in XR24/AR24, XB24 or RG16.
    SolidFb(int fd, uint32_t w, uint32_t h, uint32_t format, uint32_t argb)
        : SolidFb(fd, w, h, format, format == DRM_FORMAT_RGB565 ? 2 : 4, word_of(format, argb)) {}
    // Every pixel the `cpp`-byte word `word`, least significant byte first.
    SolidFb(int fd, uint32_t w, uint32_t h, uint32_t format, uint32_t cpp, uint64_t word)
        : fd_(fd) {
        drm_mode_create_dumb c{};
        c.width = w;
        c.height = h;
        c.bpp = cpp * 8;
        if (drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &c))
            return;
        handle_ = c.handle;
        drm_mode_map_dumb m{};
        m.handle = c.handle;
        if (drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &m))
            return;
        auto *p = static_cast<uint8_t *>(
            mmap(nullptr, c.size, PROT_WRITE, MAP_SHARED, fd, off_t(m.offset)));
        if (p == MAP_FAILED)
            return;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (uint32_t i = 0; i < cpp; ++i)
                    p[size_t(y) * c.pitch + size_t(x) * cpp + i] = uint8_t(word >> (8 * i));
        munmap(p, c.size);
        uint32_t handles[4] = {c.handle}, pitches[4] = {c.pitch}, offsets[4] = {};
        drmModeAddFB2(fd, w, h, format, handles, pitches, offsets, &id_, 0);
    }
    ~SolidFb() {
        if (id_)
            drmModeRmFB(fd_, id_);
        drm_mode_destroy_dumb d{};
        d.handle = handle_;
        if (handle_)
            drmIoctl(fd_, DRM_IOCTL_MODE_DESTROY_DUMB, &d);
    }
    SolidFb(const SolidFb &) = delete;
    SolidFb &operator=(const SolidFb &) = delete;
    uint32_t id() const { return id_; }

private:
    static uint64_t word_of(uint32_t format, uint32_t argb) {
        const uint32_t r = argb >> 16 & 0xff, g = argb >> 8 & 0xff, b = argb & 0xff;
        if (format == DRM_FORMAT_RGB565)
            return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
        if (format == DRM_FORMAT_XBGR8888)
            return (argb & 0xff000000u) | b << 16 | g << 8 | r;
        return argb;
    }

    int fd_;
    uint32_t handle_ = 0;
    uint32_t id_ = 0;
};

// Property ids of one object, by name.
inline std::map<std::string, uint32_t> property_ids(int fd, uint32_t object) {
    std::map<std::string, uint32_t> ids;
    drmModeObjectProperties *props = drmModeObjectGetProperties(fd, object, DRM_MODE_OBJECT_ANY);
    for (uint32_t i = 0; props && i < props->count_props; ++i)
        if (drmModePropertyRes *p = drmModeGetProperty(fd, props->props[i])) {
            ids[p->name] = p->prop_id;
            drmModeFreeProperty(p);
        }
    drmModeFreeObjectProperties(props);
    return ids;
}

inline uint64_t property_value(int fd, uint32_t object, const std::string &name) {
    uint64_t value = UINT64_MAX;
    const uint32_t id = property_ids(fd, object)[name];
    drmModeObjectProperties *props = drmModeObjectGetProperties(fd, object, DRM_MODE_OBJECT_ANY);
    for (uint32_t i = 0; props && i < props->count_props; ++i)
        if (props->props[i] == id)
            value = props->prop_values[i];
    drmModeFreeObjectProperties(props);
    return value;
}

// One commit under construction; properties named as the kernel names them.
class Commit {
public:
    explicit Commit(int fd) : fd_(fd), req_(drmModeAtomicAlloc()) {}
    ~Commit() { drmModeAtomicFree(req_); }
    Commit &set(uint32_t object, const std::string &name, uint64_t value) {
        auto ids = property_ids(fd_, object);
        // An unknown name goes out as property id 1 ("type"), which the
        // object then does not carry or cannot change.
        drmModeAtomicAddProperty(req_, object, ids.count(name) ? ids[name] : 1, value);
        return *this;
    }
    int commit(uint32_t flags) {
        return drmModeAtomicCommit(fd_, req_, flags, nullptr) ? errno : 0;
    }

private:
    int fd_;
    drmModeAtomicReq *req_;
};

inline drmModeModeInfo first_mode(int fd, unsigned connector) {
    drmModeConnector *c = drmModeGetConnector(fd, drmsim::connector_id(fd, connector));
    drmModeModeInfo m{};
    if (c && c->count_modes > 0)
        m = c->modes[0];
    drmModeFreeConnector(c);
    return m;
}

} // namespace drmsim_test
