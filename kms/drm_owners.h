// SPDX-License-Identifier: MIT
// Owners for the structures libdrm allocates: each pointer is released with
// its matching drmModeFree* call whichever way the owning scope is left.
#pragma once

#include <memory>

#include <xf86drmMode.h>

namespace kms_detail {

template <typename T, void (*Free)(T *)>
struct DrmFree {
    void operator()(T *ptr) const noexcept { Free(ptr); }
};

template <typename T, void (*Free)(T *)>
using DrmOwner = std::unique_ptr<T, DrmFree<T, Free>>;

using ResourcesOwner = DrmOwner<drmModeRes, drmModeFreeResources>;
using ConnectorOwner = DrmOwner<drmModeConnector, drmModeFreeConnector>;
using PlaneResourcesOwner = DrmOwner<drmModePlaneRes, drmModeFreePlaneResources>;
using PlaneOwner = DrmOwner<drmModePlane, drmModeFreePlane>;
using CrtcOwner = DrmOwner<drmModeCrtc, drmModeFreeCrtc>;
using EncoderOwner = DrmOwner<drmModeEncoder, drmModeFreeEncoder>;
using ObjectPropertiesOwner = DrmOwner<drmModeObjectProperties, drmModeFreeObjectProperties>;
using PropertyOwner = DrmOwner<drmModePropertyRes, drmModeFreeProperty>;
using AtomicRequestOwner = DrmOwner<drmModeAtomicReq, drmModeAtomicFree>;

// A property blob this file created; destroyed with the owner. The kernel
// keeps the blob alive for as long as a CRTC still uses it.
class BlobOwner {
public:
    BlobOwner() = default;
    BlobOwner(int fd, uint32_t id) : fd_(fd), id_(id) {}
    BlobOwner(BlobOwner &&other) noexcept : fd_(other.fd_), id_(other.id_) { other.id_ = 0; }
    BlobOwner &operator=(BlobOwner &&) = delete;
    ~BlobOwner() {
        if (id_)
            drmModeDestroyPropertyBlob(fd_, id_);
    }
    uint32_t id() const { return id_; }

private:
    int fd_ = -1;
    uint32_t id_ = 0;
};

inline ResourcesOwner read_resources(int fd) {
    return ResourcesOwner(drmModeGetResources(fd));
}

inline ConnectorOwner read_connector(int fd, uint32_t id) {
    return ConnectorOwner(drmModeGetConnector(fd, id));
}

// Without the probe that drmModeGetConnector asks for: the state as it is.
inline ConnectorOwner read_connector_current(int fd, uint32_t id) {
    return ConnectorOwner(drmModeGetConnectorCurrent(fd, id));
}

inline CrtcOwner read_crtc(int fd, uint32_t id) {
    return CrtcOwner(drmModeGetCrtc(fd, id));
}

inline EncoderOwner read_encoder(int fd, uint32_t id) {
    return EncoderOwner(drmModeGetEncoder(fd, id));
}

inline PlaneResourcesOwner read_plane_resources(int fd) {
    return PlaneResourcesOwner(drmModeGetPlaneResources(fd));
}

inline PlaneOwner read_plane(int fd, uint32_t id) {
    return PlaneOwner(drmModeGetPlane(fd, id));
}

inline ObjectPropertiesOwner read_object_properties(int fd, uint32_t id, uint32_t type) {
    return ObjectPropertiesOwner(drmModeObjectGetProperties(fd, id, type));
}

inline PropertyOwner read_property(int fd, uint32_t id) {
    return PropertyOwner(drmModeGetProperty(fd, id));
}

} // namespace kms_detail
