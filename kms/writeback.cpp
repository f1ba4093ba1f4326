// SPDX-License-Identifier: MIT
// Writeback connectors: found once the kernel is asked to list them, with
// the CRTCs their encoders can be fed by, their formats and property ids.
#include <cerrno>
#include <cstring>
#include <new>

#include <xf86drm.h>

#include "drm_owners.h"
#include "negated_errno.h"
#include "kms_objects.h"

using namespace kms_detail;

namespace {

// WRITEBACK_PIXEL_FORMATS: a blob of 32-bit fourcc codes.
int read_formats(int fd, uint32_t connector, std::vector<uint32_t> &out) {
    const ObjectPropertiesOwner props =
        read_object_properties(fd, connector, DRM_MODE_OBJECT_CONNECTOR);
    if (!props)
        return negated_errno();
    for (uint32_t i = 0; i < props->count_props; ++i) {
        const PropertyOwner property = read_property(fd, props->props[i]);
        if (!property || std::strcmp(property->name, "WRITEBACK_PIXEL_FORMATS") != 0)
            continue;
        drmModePropertyBlobRes *blob =
            drmModeGetPropertyBlob(fd, static_cast<uint32_t>(props->prop_values[i]));
        if (!blob)
            return negated_errno();
        out.resize(blob->length / sizeof(uint32_t));
        std::memcpy(out.data(), blob->data, out.size() * sizeof(uint32_t));
        drmModeFreePropertyBlob(blob);
        return 0;
    }
    return -ENOENT;
}

} // namespace

int kms_device_find_writebacks(kms_atomic *atomic, std::vector<kms_writeback> *out) {
    if (!atomic || !atomic->device || !out)
        return -EINVAL;
    out->clear();
    const int fd = atomic->device->fd;
    if (drmSetClientCap(fd, DRM_CLIENT_CAP_WRITEBACK_CONNECTORS, 1) != 0)
        return negated_errno();
    try {
        const ResourcesOwner resources = read_resources(fd);
        if (!resources)
            return negated_errno();
        for (int i = 0; i < resources->count_connectors; ++i) {
            const ConnectorOwner connector = read_connector_current(fd, resources->connectors[i]);
            if (!connector || connector->connector_type != DRM_MODE_CONNECTOR_WRITEBACK)
                continue;
            kms_writeback writeback;
            writeback.id = connector->connector_id;
            for (int e = 0; e < connector->count_encoders; ++e)
                if (const EncoderOwner encoder = read_encoder(fd, connector->encoders[e]))
                    writeback.possible_crtcs |= encoder->possible_crtcs;
            if (int err = read_formats(fd, writeback.id, writeback.formats))
                return err;
            writeback.object.id = writeback.id;
            const ObjectPropertiesOwner props =
                read_object_properties(fd, writeback.id, DRM_MODE_OBJECT_CONNECTOR);
            if (!props)
                return negated_errno();
            for (uint32_t p = 0; p < props->count_props; ++p)
                if (const PropertyOwner property = read_property(fd, props->props[p]))
                    for (size_t k = 0; k < size_t(kms_writeback_property::count); ++k)
                        if (std::strcmp(property->name,
                                        kms_property_name(kms_writeback_property(k))) == 0)
                            writeback.object.property_ids[k] = property->prop_id;
            out->push_back(std::move(writeback));
        }
    } catch (const std::bad_alloc &) {
        return -ENOMEM;
    }
    return 0;
}
