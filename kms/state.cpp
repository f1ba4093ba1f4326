// SPDX-License-Identifier: MIT
// Reading back what the kernel reports about CRTCs, screens and planes.
#include <cerrno>
#include <new>
#include <string_view>

#include "drm_owners.h"
#include "negated_errno.h"
#include "kms_objects.h"

using namespace kms_detail;

int kms_crtc_read_state(const kms_crtc *crtc, kms_crtc_state *out) {
    if (!crtc || !crtc->device || !out)
        return -EINVAL;
    const CrtcOwner state = read_crtc(crtc->device->fd, crtc->id);
    if (!state)
        return negated_errno();
    *out = {};
    out->fb_id = state->buffer_id;
    out->x = state->x;
    out->y = state->y;
    out->mode_valid = state->mode_valid != 0;
    if (out->mode_valid)
        out->mode = state->mode;
    return 0;
}

int kms_screen_read_state(const kms_screen *screen, kms_screen_state *out) {
    if (!screen || !screen->device || !out)
        return -EINVAL;
    const int fd = screen->device->fd;
    const ConnectorOwner connector = read_connector_current(fd, screen->id);
    if (!connector)
        return negated_errno();
    try {
        kms_screen_state state;
        state.connected = connector->connection == DRM_MODE_CONNECTED;
        state.encoder_id = connector->encoder_id;
        if (connector->modes && connector->count_modes > 0)
            state.modes.assign(connector->modes, connector->modes + connector->count_modes);
        for (int i = 0; connector->encoders && i < connector->count_encoders; ++i) {
            const EncoderOwner encoder = read_encoder(fd, connector->encoders[i]);
            if (!encoder)
                return negated_errno();
            state.encoders.push_back(
                {encoder->encoder_id, encoder->crtc_id, encoder->possible_crtcs});
        }
        *out = std::move(state);
    } catch (const std::bad_alloc &) {
        return -ENOMEM;
    }
    return 0;
}

int kms_plane_read_state(const kms_plane *plane, kms_plane_state *out) {
    if (!plane || !plane->device || !out)
        return -EINVAL;
    const PlaneOwner state = read_plane(plane->device->fd, plane->id);
    if (!state)
        return negated_errno();
    *out = {state->crtc_id, state->fb_id, state->possible_crtcs};
    return 0;
}

uint32_t kms_screen_state_possible_crtcs(const kms_screen_state *state) {
    uint32_t mask = 0;
    if (state)
        for (const kms_encoder_state &encoder : state->encoders)
            mask |= encoder.possible_crtcs;
    return mask;
}

int kms_plane_read_position(const kms_plane *plane, kms_plane_position *out) {
    if (!plane || !plane->device || !out)
        return -EINVAL;
    const int fd = plane->device->fd;
    const ObjectPropertiesOwner props = read_object_properties(fd, plane->id,
                                                               DRM_MODE_OBJECT_PLANE);
    if (!props)
        return negated_errno();
    kms_plane_position position;
    int found = 0;
    for (uint32_t i = 0; i < props->count_props; ++i) {
        const PropertyOwner property = read_property(fd, props->props[i]);
        if (!property)
            return negated_errno();
        const std::string_view name = property->name;
        const uint64_t value = props->prop_values[i];
        struct Field {
            std::string_view name;
            uint32_t *unsigned_field;
            int32_t *signed_field;
        };
        const Field fields[] = {
            {"CRTC_X", nullptr, &position.crtc_x}, {"CRTC_Y", nullptr, &position.crtc_y},
            {"CRTC_W", &position.crtc_w, nullptr}, {"CRTC_H", &position.crtc_h, nullptr},
            {"SRC_X", &position.src_x, nullptr},   {"SRC_Y", &position.src_y, nullptr},
            {"SRC_W", &position.src_w, nullptr},   {"SRC_H", &position.src_h, nullptr},
        };
        for (const Field &field : fields) {
            if (field.name != name)
                continue;
            ++found;
            if (field.signed_field)
                *field.signed_field = static_cast<int32_t>(static_cast<int64_t>(value));
            else
                *field.unsigned_field = static_cast<uint32_t>(value);
        }
    }
    if (found != 8)
        return -ENOENT; // not an atomic client, or not a plane the kernel positions
    *out = position;
    return 0;
}
