#include "verify.h"

#include "selection.h"

namespace {

std::string crtc_name(const kms_device &device, uint32_t id) {
    for (uint32_t i = 0; i < device.num_crtcs(); ++i)
        if (device.crtcs[i]->id == id)
            return "CRTC " + std::to_string(i) + " (id " + std::to_string(id) + ")";
    return "CRTC id " + std::to_string(id);
}

// The timings, not the name or the refresh rate: the kernel recomputes
// those when it reports a mode.
bool same_timings(const drmModeModeInfo &a, const drmModeModeInfo &b) {
    return a.clock == b.clock && a.hdisplay == b.hdisplay && a.hsync_start == b.hsync_start &&
           a.hsync_end == b.hsync_end && a.htotal == b.htotal && a.hskew == b.hskew &&
           a.vdisplay == b.vdisplay && a.vsync_start == b.vsync_start &&
           a.vsync_end == b.vsync_end && a.vtotal == b.vtotal && a.vscan == b.vscan &&
           a.flags == b.flags;
}

const kms_encoder_state *find_encoder(const kms_screen_state &state, uint32_t id) {
    for (const kms_encoder_state &encoder : state.encoders)
        if (encoder.id == id)
            return &encoder;
    return nullptr;
}

} // namespace

std::string verify_handover(const HandoverCheck &check) {
    const kms_device &device = *check.screen->device;
    const std::string crtc = crtc_name(device, check.crtc->id);

    kms_crtc_state shown;
    if (int err = kms_crtc_read_state(check.crtc, &shown); err < 0)
        return "cannot read " + crtc + ": " + std::to_string(err);
    if (shown.fb_id != check.fb->id)
        return crtc + " shows framebuffer " + std::to_string(shown.fb_id) + ", not " +
               std::to_string(check.fb->id);
    if (shown.x != 0 || shown.y != 0)
        return crtc + " shows the framebuffer from " + std::to_string(shown.x) + "," +
               std::to_string(shown.y) + ", not 0,0";
    if (!shown.mode_valid)
        return crtc + " has no mode";
    if (!same_timings(shown.mode, check.screen->mode))
        return crtc + " runs " + mode_text(shown.mode) + " (clock " +
               std::to_string(shown.mode.clock) + "), not " + mode_text(check.screen->mode) +
               " (clock " + std::to_string(check.screen->mode.clock) + ")";

    kms_screen_state screen;
    if (int err = kms_screen_read_state(check.screen, &screen); err < 0)
        return "cannot read screen " + check.screen->name + ": " + std::to_string(err);
    if (screen.encoder_id == 0)
        return "screen " + check.screen->name + " has no encoder in use";
    const kms_encoder_state *in_use = find_encoder(screen, screen.encoder_id);
    if (!in_use)
        return "screen " + check.screen->name + " names encoder " +
               std::to_string(screen.encoder_id) + ", which is not one of its own";
    if (in_use->crtc_id != check.crtc->id)
        return "encoder " + std::to_string(in_use->id) + " of screen " + check.screen->name +
               " is fed by " +
               (in_use->crtc_id ? crtc_name(device, in_use->crtc_id) : std::string("no CRTC")) +
               ", not " + crtc;
    if (check.previous_crtc_id != 0 && check.previous_crtc_id != check.crtc->id)
        for (const kms_encoder_state &encoder : screen.encoders)
            if (encoder.crtc_id == check.previous_crtc_id)
                return crtc_name(device, check.previous_crtc_id) + " still drives screen " +
                       check.screen->name + " through encoder " + std::to_string(encoder.id);
    return {};
}

uint32_t crtc_driving(const kms_screen *screen) {
    kms_screen_state state;
    if (kms_screen_read_state(screen, &state) < 0)
        return 0;
    const kms_encoder_state *in_use = find_encoder(state, state.encoder_id);
    return in_use ? in_use->crtc_id : 0;
}
