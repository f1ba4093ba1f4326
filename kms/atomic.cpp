// SPDX-License-Identifier: MIT
// Atomic mode setting: the property ids of every object, read once, and the
// handover of a screen as a single commit.
#include <cerrno>
#include <iterator>
#include <new>
#include <span>
#include <string_view>

#include <xf86drm.h>

#include "drm_owners.h"
#include "negated_errno.h"
#include "kms_objects.h"

using namespace kms_detail;

namespace {

constexpr uint32_t kPrimaryPlane = 1; // "type" property value

// The kernel's names, in the order of each kind's enum.
constexpr const char *kScreenPropertyNames[] = {"CRTC_ID"};
constexpr const char *kCrtcPropertyNames[] = {"ACTIVE", "MODE_ID"};
constexpr const char *kPlanePropertyNames[] = {"FB_ID", "CRTC_ID", "SRC_X",  "SRC_Y",  "SRC_W",
                                               "SRC_H", "CRTC_X",  "CRTC_Y", "CRTC_W", "CRTC_H"};
constexpr const char *kWritebackPropertyNames[] = {"CRTC_ID", "WRITEBACK_FB_ID",
                                                   "WRITEBACK_OUT_FENCE_PTR"};
static_assert(std::size(kScreenPropertyNames) == size_t(kms_screen_property::count));
static_assert(std::size(kWritebackPropertyNames) == size_t(kms_writeback_property::count));
static_assert(std::size(kCrtcPropertyNames) == size_t(kms_crtc_property::count));
static_assert(std::size(kPlanePropertyNames) == size_t(kms_plane_property::count));

constexpr std::span<const char *const> property_names(kms_screen_property) {
    return kScreenPropertyNames;
}
constexpr std::span<const char *const> property_names(kms_crtc_property) {
    return kCrtcPropertyNames;
}
constexpr std::span<const char *const> property_names(kms_plane_property) {
    return kPlanePropertyNames;
}

// Reads the object's properties: the ids of those of its kind, and the CRTC
// it is on now (screens and planes).
template <typename Property>
int read_object(int fd, uint32_t id, uint32_t type, kms_atomic_object<Property> &out) {
    out.id = id;
    const ObjectPropertiesOwner props = read_object_properties(fd, id, type);
    if (!props)
        return negated_errno();
    const std::span<const char *const> names = property_names(Property{});
    for (uint32_t i = 0; i < props->count_props; ++i) {
        const PropertyOwner property = read_property(fd, props->props[i]);
        if (!property)
            return negated_errno();
        for (size_t k = 0; k < names.size(); ++k) {
            if (std::string_view(property->name) != names[k])
                continue;
            out.property_ids[k] = property->prop_id;
            if constexpr (requires { Property::crtc_id; })
                if (Property(k) == Property::crtc_id)
                    out.crtc_id = static_cast<uint32_t>(props->prop_values[i]);
        }
    }
    return 0;
}

int read_objects(kms_atomic &atomic) {
    const int fd = atomic.device->fd;
    const kms_device &device = *atomic.device;
    atomic.screens.resize(device.screens.size());
    atomic.crtcs.resize(device.crtcs.size());
    atomic.planes.resize(device.planes.size());
    for (size_t i = 0; i < device.screens.size(); ++i)
        if (int e = read_object(fd, device.screens[i]->id, DRM_MODE_OBJECT_CONNECTOR,
                                atomic.screens[i]))
            return e;
    for (size_t i = 0; i < device.crtcs.size(); ++i)
        if (int e = read_object(fd, device.crtcs[i]->id, DRM_MODE_OBJECT_CRTC, atomic.crtcs[i]))
            return e;
    for (size_t i = 0; i < device.planes.size(); ++i) {
        if (int e = read_object(fd, device.planes[i]->id, DRM_MODE_OBJECT_PLANE, atomic.planes[i]))
            return e;
        const PlaneOwner plane = read_plane(fd, device.planes[i]->id);
        if (!plane)
            return negated_errno();
        atomic.planes[i].possible_crtcs = plane->possible_crtcs;
    }
    return 0;
}

// Index of the record with this id, or -1.
template <typename Records>
int index_of(const Records &records, uint32_t id) {
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i]->id == id)
            return static_cast<int>(i);
    return -1;
}

// Records where a call failed and returns its result.
int fail(kms_atomic &atomic, kms_atomic_step step, int result) {
    atomic.failed_step = step;
    return result;
}

// Collects the properties of one commit; the first property an object lacks
// makes the whole commit -ENOENT, and is named. Each failure is recorded in
// the atomic record with the step it arose in.
class Commit {
public:
    Commit(kms_atomic &atomic, AtomicRequestOwner request)
        : atomic_(atomic), request_(std::move(request)) {}
    template <typename Property>
    void set(const kms_atomic_object<Property> &object, Property property, uint64_t value) {
        const uint32_t property_id = object.property_id(property);
        if (property_id == 0) {
            if (!error_) {
                error_ = -ENOENT;
                step_ = kms_atomic_step::property;
                atomic_.missing_property = kms_property_name(property);
            }
            return;
        }
        if (!error_ && drmModeAtomicAddProperty(request_.get(), object.id, property_id, value) < 0) {
            error_ = -ENOMEM;
            step_ = kms_atomic_step::request;
        }
    }
    int commit(int fd, uint32_t flags) {
        if (error_)
            return fail(atomic_, step_, error_);
        if (drmModeAtomicCommit(fd, request_.get(), flags, nullptr))
            return fail(atomic_, kms_atomic_step::commit, negated_errno());
        return 0;
    }

private:
    kms_atomic &atomic_;
    AtomicRequestOwner request_;
    int error_ = 0;
    kms_atomic_step step_ = kms_atomic_step::none;
};

// The primary plane to show the picture on `crtc`: the one already there;
// else a free one, the CRTC's own first (drivers create the Nth CRTC with the
// Nth primary plane, and the kernel reports a CRTC's framebuffer from that
// plane); else the one on the CRTC being left.
int choose_plane(const kms_atomic &atomic, int crtc, uint32_t crtc_id, uint32_t leaving_id) {
    int own = -1, spare = -1, leaving = -1, rank = 0;
    for (size_t i = 0; i < atomic.planes.size(); ++i) {
        const auto &plane = atomic.planes[i];
        if (atomic.device->planes[i]->type != kPrimaryPlane)
            continue;
        const bool owns = rank++ == crtc;
        if (!(plane.possible_crtcs >> crtc & 1))
            continue;
        if (plane.crtc_id == crtc_id)
            return static_cast<int>(i);
        if (plane.crtc_id == 0 && owns)
            own = static_cast<int>(i);
        else if (plane.crtc_id == 0 && spare < 0)
            spare = static_cast<int>(i);
        else if (plane.crtc_id == leaving_id && leaving < 0)
            leaving = static_cast<int>(i);
    }
    return own >= 0 ? own : spare >= 0 ? spare : leaving;
}

// The writeback connector follows `crtc_id`; with a framebuffer it
// captures the commit's frame, its fence asked for in a real commit only.
void attach_capture(Commit &commit, kms_writeback_job &job, uint32_t crtc_id, bool test_only) {
    const auto &capture = job.connector->object;
    commit.set(capture, kms_writeback_property::crtc_id, crtc_id);
    job.out_fence = -1;
    if (!job.fb)
        return;
    commit.set(capture, kms_writeback_property::writeback_fb_id, job.fb->id);
    if (!test_only)
        commit.set(capture, kms_writeback_property::writeback_out_fence_ptr,
                   reinterpret_cast<uintptr_t>(&job.out_fence));
}

} // namespace

const char *kms_property_name(kms_screen_property property) {
    return kScreenPropertyNames[static_cast<size_t>(property)];
}
const char *kms_property_name(kms_crtc_property property) {
    return kCrtcPropertyNames[static_cast<size_t>(property)];
}
const char *kms_property_name(kms_plane_property property) {
    return kPlanePropertyNames[static_cast<size_t>(property)];
}
const char *kms_property_name(kms_writeback_property property) {
    return kWritebackPropertyNames[static_cast<size_t>(property)];
}

int kms_device_enable_atomic(kms_device *device, kms_atomic **out) {
    if (!device || !out)
        return -EINVAL;
    *out = nullptr;
    if (drmSetClientCap(device->fd, DRM_CLIENT_CAP_ATOMIC, 1) != 0)
        return negated_errno();
    std::unique_ptr<kms_atomic> atomic(new (std::nothrow) kms_atomic);
    if (!atomic)
        return -ENOMEM;
    atomic->device = device;
    // The capability implies universal planes: a device that refused those
    // earlier lists its primary and cursor planes now.
    if (int e = kms_device_read_planes(device))
        return e;
    try {
        if (int e = read_objects(*atomic))
            return e;
    } catch (const std::bad_alloc &) {
        return -ENOMEM;
    }
    *out = atomic.release();
    return 0;
}

void kms_atomic_destroy(kms_atomic *atomic) {
    delete atomic;
}

int kms_atomic_screen_set(kms_atomic *atomic, const kms_screen *screen, const kms_crtc *crtc,
                          const kms_framebuffer *fb, bool test_only) {
    return kms_atomic_screen_set_writeback(atomic, screen, crtc, fb, nullptr, test_only);
}

int kms_atomic_screen_set_writeback(kms_atomic *atomic, const kms_screen *screen,
                                    const kms_crtc *crtc, const kms_framebuffer *fb,
                                    kms_writeback_job *job, bool test_only) {
    if (!atomic || !atomic->device)
        return -EINVAL;
    atomic->failed_step = kms_atomic_step::none;
    atomic->missing_property = nullptr;
    if (!screen || !crtc || !fb)
        return fail(*atomic, kms_atomic_step::arguments, -EINVAL);
    const kms_device &device = *atomic->device;
    const int screen_index = index_of(device.screens, screen->id);
    const int crtc_index = index_of(device.crtcs, crtc->id);
    if (screen_index < 0 || crtc_index < 0 || crtc_index >= 32)
        return fail(*atomic, kms_atomic_step::arguments, -EINVAL);
    // 16.16 source coordinates cannot express wider buffers.
    if (fb->width > 0xFFFF || fb->height > 0xFFFF)
        return fail(*atomic, kms_atomic_step::arguments, -EINVAL);
    auto &target = atomic->crtcs[static_cast<size_t>(crtc_index)];
    auto &connector = atomic->screens[static_cast<size_t>(screen_index)];
    const uint32_t leaving = connector.crtc_id != crtc->id ? connector.crtc_id : 0;
    const int plane = choose_plane(*atomic, crtc_index, crtc->id, leaving);
    if (plane < 0)
        return fail(*atomic, kms_atomic_step::plane, -EINVAL);

    try {
        AtomicRequestOwner request(drmModeAtomicAlloc());
        if (!request)
            return fail(*atomic, kms_atomic_step::request, -ENOMEM);
        uint32_t blob_id = 0;
        if (drmModeCreatePropertyBlob(device.fd, &screen->mode, sizeof screen->mode, &blob_id))
            return fail(*atomic, kms_atomic_step::mode_blob, negated_errno());
        const BlobOwner mode_blob(device.fd, blob_id);

        Commit commit(*atomic, std::move(request));
        if (leaving) {
            const int old = index_of(device.crtcs, leaving);
            if (old >= 0) {
                commit.set(atomic->crtcs[static_cast<size_t>(old)], kms_crtc_property::active, 0);
                commit.set(atomic->crtcs[static_cast<size_t>(old)], kms_crtc_property::mode_id, 0);
            }
            for (size_t i = 0; i < atomic->planes.size(); ++i)
                if (atomic->planes[i].crtc_id == leaving && static_cast<int>(i) != plane) {
                    commit.set(atomic->planes[i], kms_plane_property::fb_id, 0);
                    commit.set(atomic->planes[i], kms_plane_property::crtc_id, 0);
                }
        }
        commit.set(connector, kms_screen_property::crtc_id, crtc->id);
        commit.set(target, kms_crtc_property::mode_id, mode_blob.id());
        commit.set(target, kms_crtc_property::active, 1);
        const auto &shown = atomic->planes[static_cast<size_t>(plane)];
        commit.set(shown, kms_plane_property::fb_id, fb->id);
        commit.set(shown, kms_plane_property::crtc_id, crtc->id);
        commit.set(shown, kms_plane_property::src_x, 0);
        commit.set(shown, kms_plane_property::src_y, 0);
        commit.set(shown, kms_plane_property::src_w, uint64_t{fb->width} << 16);
        commit.set(shown, kms_plane_property::src_h, uint64_t{fb->height} << 16);
        commit.set(shown, kms_plane_property::crtc_x, 0);
        commit.set(shown, kms_plane_property::crtc_y, 0);
        commit.set(shown, kms_plane_property::crtc_w, fb->width);
        commit.set(shown, kms_plane_property::crtc_h, fb->height);
        if (job)
            attach_capture(commit, *job, crtc->id, test_only);
        const uint32_t flags =
            DRM_MODE_ATOMIC_ALLOW_MODESET | (test_only ? DRM_MODE_ATOMIC_TEST_ONLY : 0);
        if (int e = commit.commit(device.fd, flags))
            return e;
    } catch (const std::bad_alloc &) {
        return fail(*atomic, kms_atomic_step::request, -ENOMEM);
    }
    if (test_only)
        return 0;
    // What the kernel now holds.
    for (auto &p : atomic->planes)
        if (leaving && p.crtc_id == leaving)
            p.crtc_id = 0;
    atomic->planes[static_cast<size_t>(plane)].crtc_id = crtc->id;
    connector.crtc_id = crtc->id;
    return 0;
}

const kms_plane *kms_atomic_primary_plane(const kms_atomic *atomic, const kms_crtc *crtc) {
    if (!atomic || !atomic->device || !crtc)
        return nullptr;
    const kms_device &device = *atomic->device;
    for (size_t i = 0; i < atomic->planes.size() && i < device.planes.size(); ++i)
        if (device.planes[i]->type == kPrimaryPlane && atomic->planes[i].crtc_id == crtc->id)
            return device.planes[i].get();
    return nullptr;
}

int kms_atomic_plane_set(kms_atomic *atomic, const kms_plane *plane, const kms_crtc *crtc,
                         const kms_framebuffer *fb, int32_t x, int32_t y, bool test_only) {
    return kms_atomic_plane_set_writeback(atomic, plane, crtc, fb, x, y, nullptr, test_only);
}

int kms_atomic_plane_set_writeback(kms_atomic *atomic, const kms_plane *plane,
                                   const kms_crtc *crtc, const kms_framebuffer *fb, int32_t x,
                                   int32_t y, kms_writeback_job *job, bool test_only) {
    if (!atomic || !atomic->device)
        return -EINVAL;
    atomic->failed_step = kms_atomic_step::none;
    atomic->missing_property = nullptr;
    if (!plane || (fb && !crtc) || (job && !crtc))
        return fail(*atomic, kms_atomic_step::arguments, -EINVAL);
    const kms_device &device = *atomic->device;
    const int plane_index = index_of(device.planes, plane->id);
    if (plane_index < 0)
        return fail(*atomic, kms_atomic_step::arguments, -EINVAL);
    if (fb && (fb->width > 0xFFFF || fb->height > 0xFFFF))
        return fail(*atomic, kms_atomic_step::arguments, -EINVAL);
    auto &object = atomic->planes[static_cast<size_t>(plane_index)];
    try {
        AtomicRequestOwner request(drmModeAtomicAlloc());
        if (!request)
            return fail(*atomic, kms_atomic_step::request, -ENOMEM);
        Commit commit(*atomic, std::move(request));
        commit.set(object, kms_plane_property::fb_id, fb ? fb->id : 0);
        commit.set(object, kms_plane_property::crtc_id, fb ? crtc->id : 0);
        if (fb) {
            commit.set(object, kms_plane_property::src_x, 0);
            commit.set(object, kms_plane_property::src_y, 0);
            commit.set(object, kms_plane_property::src_w, uint64_t{fb->width} << 16);
            commit.set(object, kms_plane_property::src_h, uint64_t{fb->height} << 16);
            // Signed range properties carry the value sign-extended to 64 bits.
            commit.set(object, kms_plane_property::crtc_x, static_cast<uint64_t>(int64_t{x}));
            commit.set(object, kms_plane_property::crtc_y, static_cast<uint64_t>(int64_t{y}));
            commit.set(object, kms_plane_property::crtc_w, fb->width);
            commit.set(object, kms_plane_property::crtc_h, fb->height);
        }
        if (job)
            attach_capture(commit, *job, crtc->id, test_only);
        const uint32_t flags = test_only ? DRM_MODE_ATOMIC_TEST_ONLY : 0;
        if (int e = commit.commit(device.fd, flags))
            return e;
    } catch (const std::bad_alloc &) {
        return fail(*atomic, kms_atomic_step::request, -ENOMEM);
    }
    if (!test_only)
        object.crtc_id = fb ? crtc->id : 0;
    return 0;
}
