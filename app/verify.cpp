// SPDX-License-Identifier: MIT
// --verify: the handover read back from the kernel, as a list of checks.
#include "verify.h"

#include <cerrno>
#include <optional>

#include "kms_text.h"
#include "picture.h"

namespace {

// What a check reads back; each is read once per handover, when the first
// check that needs it comes up, so that a failed check reads nothing more.
enum class Source { crtc_state, screen_state, plane_state };

struct ReadBack {
    const HandoverCheck &check;
    const kms_device &device;
    std::string crtc; // "CRTC 1 (id 37)": the CRTC just given the screen
    std::optional<kms_crtc_state> shown;
    std::optional<kms_screen_state> screen;
    std::optional<kms_plane_state> plane;
    std::optional<kms_plane_position> plane_at;

    std::string crtc_named(uint32_t id) const { return "CRTC " + crtc_text(device, id); }
    const std::string &screen_name() const { return check.screen->name; }
};

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

const kms_encoder_state *encoder_in_use(const ReadBack &r) {
    return find_encoder(*r.screen, r.screen->encoder_id);
}

// One of the screen's encoders still fed by the CRTC that drove it before,
// or null.
const kms_encoder_state *left_behind(const ReadBack &r) {
    const uint32_t previous = r.check.previous_crtc_id;
    if (previous == 0 || previous == r.check.crtc->id)
        return nullptr;
    for (const kms_encoder_state &encoder : r.screen->encoders)
        if (encoder.crtc_id == previous)
            return &encoder;
    return nullptr;
}

// Whether a check runs for this handover: the CRTC's own report of its
// framebuffer, or the committed plane's.
bool crtc_reports(const ReadBack &r) { return r.check.plane == nullptr; }
bool plane_reports(const ReadBack &r) { return r.check.plane != nullptr; }
bool always(const ReadBack &) { return true; }

struct Check {
    bool (*applies)(const ReadBack &);
    Source reads;
    bool (*holds)(const ReadBack &);
    std::string (*mismatch)(const ReadBack &); // what differed, when it does not hold
};

// In the order they run; the first that does not hold is the verdict.
constexpr Check kChecks[] = {
    {plane_reports, Source::plane_state,
     [](const ReadBack &r) {
         return r.plane->fb_id == r.check.fb->id && r.plane->crtc_id == r.check.crtc->id;
     },
     [](const ReadBack &r) {
         return "plane " + std::to_string(r.check.plane->id) + " shows framebuffer " +
                std::to_string(r.plane->fb_id) + " on " +
                (r.plane->crtc_id ? r.crtc_named(r.plane->crtc_id) : std::string("no CRTC")) +
                ", not " + std::to_string(r.check.fb->id) + " on " + r.crtc;
     }},
    {plane_reports, Source::plane_state,
     [](const ReadBack &r) {
         const kms_plane_position &at = *r.plane_at;
         return at.src_x == 0 && at.src_y == 0 && at.crtc_x == 0 && at.crtc_y == 0;
     },
     [](const ReadBack &r) {
         const kms_plane_position &at = *r.plane_at;
         return "plane " + std::to_string(r.check.plane->id) + " shows the framebuffer from " +
                std::to_string(at.src_x >> 16) + "," + std::to_string(at.src_y >> 16) + " at " +
                std::to_string(at.crtc_x) + "," + std::to_string(at.crtc_y) + ", not 0,0 at 0,0";
     }},
    {crtc_reports, Source::crtc_state, [](const ReadBack &r) { return r.shown->fb_id == r.check.fb->id; },
     [](const ReadBack &r) {
         return r.crtc + " shows framebuffer " + std::to_string(r.shown->fb_id) + ", not " +
                std::to_string(r.check.fb->id);
     }},
    {crtc_reports, Source::crtc_state, [](const ReadBack &r) { return r.shown->x == 0 && r.shown->y == 0; },
     [](const ReadBack &r) {
         return r.crtc + " shows the framebuffer from " + std::to_string(r.shown->x) + "," +
                std::to_string(r.shown->y) + ", not 0,0";
     }},
    {always, Source::crtc_state, [](const ReadBack &r) { return r.shown->mode_valid != 0; },
     [](const ReadBack &r) { return r.crtc + " has no mode"; }},
    {always, Source::crtc_state,
     [](const ReadBack &r) { return same_timings(r.shown->mode, r.check.screen->mode); },
     [](const ReadBack &r) {
         const drmModeModeInfo &want = r.check.screen->mode;
         return r.crtc + " runs " + mode_text(r.shown->mode) + " (clock " +
                std::to_string(r.shown->mode.clock) + "), not " + mode_text(want) + " (clock " +
                std::to_string(want.clock) + ")";
     }},
    {always, Source::screen_state, [](const ReadBack &r) { return r.screen->encoder_id != 0; },
     [](const ReadBack &r) { return "screen " + r.screen_name() + " has no encoder in use"; }},
    {always, Source::screen_state, [](const ReadBack &r) { return encoder_in_use(r) != nullptr; },
     [](const ReadBack &r) {
         return "screen " + r.screen_name() + " names encoder " +
                std::to_string(r.screen->encoder_id) + ", which is not one of its own";
     }},
    {always, Source::screen_state,
     [](const ReadBack &r) { return encoder_in_use(r)->crtc_id == r.check.crtc->id; },
     [](const ReadBack &r) {
         const kms_encoder_state &in_use = *encoder_in_use(r);
         return "encoder " + std::to_string(in_use.id) + " of screen " + r.screen_name() +
                " is fed by " +
                (in_use.crtc_id ? r.crtc_named(in_use.crtc_id) : std::string("no CRTC")) +
                ", not " + r.crtc;
     }},
    {always, Source::screen_state, [](const ReadBack &r) { return left_behind(r) == nullptr; },
     [](const ReadBack &r) {
         return r.crtc_named(r.check.previous_crtc_id) + " still drives screen " + r.screen_name() +
                " through encoder " + std::to_string(left_behind(r)->id);
     }},
};

// Reads `source` unless it was read already; empty, or why it cannot be read.
std::string read(Source source, ReadBack &r) {
    if (source == Source::crtc_state && !r.shown) {
        kms_crtc_state state;
        if (int err = kms_crtc_read_state(r.check.crtc, &state); err < 0)
            return "cannot read " + r.crtc + ": " + std::to_string(err);
        r.shown = state;
    }
    if (source == Source::screen_state && !r.screen) {
        kms_screen_state state;
        if (int err = kms_screen_read_state(r.check.screen, &state); err < 0)
            return "cannot read screen " + r.screen_name() + ": " + std::to_string(err);
        r.screen = std::move(state);
    }
    if (source == Source::plane_state && !r.plane) {
        const std::string name = "plane " + std::to_string(r.check.plane->id);
        kms_plane_state state;
        if (int err = kms_plane_read_state(r.check.plane, &state); err < 0)
            return "cannot read " + name + ": " + std::to_string(err);
        kms_plane_position at;
        if (int err = kms_plane_read_position(r.check.plane, &at); err < 0)
            return "cannot read " + name + "'s position: " + std::to_string(err);
        r.plane = state;
        r.plane_at = at;
    }
    return {};
}

} // namespace

std::string verify_handover(const HandoverCheck &check) {
    const kms_device &device = *check.screen->device;
    ReadBack r{check, device, "CRTC " + crtc_text(device, check.crtc->id), {}, {}, {}, {}};
    for (const Check &c : kChecks) {
        if (!c.applies(r))
            continue;
        if (std::string failed = read(c.reads, r); !failed.empty())
            return failed;
        if (!c.holds(r))
            return c.mismatch(r);
    }
    return {};
}

uint32_t crtc_driving(const kms_screen *screen) {
    kms_screen_state state;
    if (kms_screen_read_state(screen, &state) < 0)
        return 0;
    const kms_encoder_state *in_use = find_encoder(state, state.encoder_id);
    return in_use ? in_use->crtc_id : 0;
}

std::string verify_framebuffer(const kms_framebuffer &fb) {
    kms_framebuffer_state state;
    const std::string name = "framebuffer " + std::to_string(fb.id);
    if (int err = kms_framebuffer_read_state(&fb, &state); err < 0)
        return "cannot read " + name + ": " + std::to_string(err);
    if (state.width != fb.width || state.height != fb.height)
        return name + " is " + std::to_string(state.width) + "x" + std::to_string(state.height) +
               ", not " + std::to_string(fb.width) + "x" + std::to_string(fb.height);
    if (state.format != fb.format)
        return name + " has format " + format_name(state.format) + ", not " +
               format_name(fb.format);
    if (state.modifier != 0)
        return name + " has modifier " + std::to_string(state.modifier) + ", not linear";
    for (uint32_t i = 0; i < 4; ++i) {
        const uint32_t pitch = i < fb.planes ? fb.pitches[i] : 0;
        const uint32_t offset = i < fb.planes ? fb.offsets[i] : 0;
        if (state.pitches[i] != pitch || state.offsets[i] != offset)
            return name + " plane " + std::to_string(i) + " has pitch " +
                   std::to_string(state.pitches[i]) + " at offset " +
                   std::to_string(state.offsets[i]) + ", not " + std::to_string(pitch) + " at " +
                   std::to_string(offset);
    }
    return {};
}

std::string verify_plane(const PlaneCheck &check) {
    const std::string name = "plane id " + std::to_string(check.plane->id);
    kms_plane_state state;
    if (int err = kms_plane_read_state(check.plane, &state); err < 0)
        return "cannot read " + name + ": " + std::to_string(err);
    if (state.crtc_id != check.crtc->id || state.fb_id != check.fb->id)
        return name + " shows framebuffer " + std::to_string(state.fb_id) + " on CRTC id " +
               std::to_string(state.crtc_id) + ", not " + std::to_string(check.fb->id) +
               " on " + std::to_string(check.crtc->id);
    kms_plane_position at;
    const int err = kms_plane_read_position(check.plane, &at);
    if (err == -ENOENT)
        return {}; // a legacy client cannot see where the plane is
    if (err < 0)
        return "cannot read " + name + "'s position: " + std::to_string(err);
    if (at.crtc_x != check.x || at.crtc_y != check.y || at.crtc_w != check.fb->width ||
        at.crtc_h != check.fb->height || at.src_x != 0 || at.src_y != 0 ||
        at.src_w != check.fb->width << 16 || at.src_h != check.fb->height << 16)
        return name + " shows " + std::to_string(at.src_w >> 16) + "x" +
               std::to_string(at.src_h >> 16) + " from " + std::to_string(at.src_x >> 16) + "," +
               std::to_string(at.src_y >> 16) + " at " + std::to_string(at.crtc_x) + "," +
               std::to_string(at.crtc_y) + " size " + std::to_string(at.crtc_w) + "x" +
               std::to_string(at.crtc_h) + ", not the whole " + std::to_string(check.fb->width) +
               "x" + std::to_string(check.fb->height) + " at " + std::to_string(check.x) + "," +
               std::to_string(check.y);
    return {};
}
