// SPDX-License-Identifier: MIT
// The runs that show a chosen pattern, format or plane (picture_run.h).
#include "picture_run.h"

#include <cstdio>

#include "picture.h"
#include "run_end.h"
#include "pixel_formats.h"
#include "plane_choice.h"
#include "signals.h"
#include "sweep.h"

namespace {

constexpr int exit_failure = 1;
constexpr uint32_t kCursorPlane = 2; // "type" property value

// Without --format: XR24 where the plane lists it, else AR24 (a cursor's
// usual one), else the plane's first format the generator draws.
std::string default_format(const kms_plane &plane) {
    for (const char *name : {"XR24", "AR24"})
        if (kms_plane_supports_format(&plane, pattern::pixel_format_from_name(name)))
            return name;
    for (const uint32_t code : plane.formats)
        if (pattern::find_pixel_format(code))
            return format_name(code);
    return "XR24";
}

// The pattern's picture and, for C8, the palette in the colour table of
// every CRTC that shows it. Prints what failed.
FramebufferPtr prepare_picture(const RelayPlan &plan, const PictureChoice &choice,
                               Palettes &palettes) {
    std::string error;
    FramebufferPtr fb = create_picture(plan.screen->device, choice.width, choice.height,
                                       choice.format, choice.pattern, error);
    for (size_t i = 0; fb && error.empty() && is_indexed(choice.format) && i < plan.crtcs.size();
         ++i)
        error = palettes.load(plan.screen->device->crtcs[plan.crtcs[i]].get(), plan.crtcs[i]);
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return nullptr;
    }
    return fb;
}

} // namespace

bool wants_picture(const RelayOptions &options) {
    return options.pattern || options.format || options.formats ||
           options.plane.kind != PlaneRequest::Kind::primary;
}

std::optional<PictureChoice> choose_picture(const RelayOptions &options, RelayPlan &plan,
                                            std::string &error) {
    kms_device *device = plan.screen->device;
    std::optional<std::vector<kms_plane *>> planes =
        select_planes(device, options.plane, options.capable, plan.crtcs, error);
    if (!planes)
        return std::nullopt;
    plan.planes = std::move(*planes);
    plan.verify_framebuffer = true;
    if (options.plane_pos) {
        plan.plane_x = options.plane_pos->first;
        plan.plane_y = options.plane_pos->second;
    }

    PictureChoice choice;
    choice.pattern = *pattern_by_name(options.pattern.value_or("smpte"));
    for (size_t i = 0; i < (options.formats ? 1 : plan.crtcs.size()); ++i) {
        kms_plane *plane =
            plan.planes.empty() ? primary_plane_of(device, plan.crtcs[i]) : plan.planes[i];
        if (!plane) {
            error = "CRTC " + std::to_string(plan.crtcs[i]) +
                    " has no primary plane listed, so its formats are unknown";
            return std::nullopt;
        }
        if (i == 0)
            choice.plane = plane;
        if (options.formats)
            break;
        const std::optional<uint32_t> code =
            select_format(*plane, options.format.value_or(default_format(*plane)), error);
        if (!code) {
            error = "CRTC " + std::to_string(plan.crtcs[i]) + ": " + error;
            return std::nullopt;
        }
        choice.format = *code;
    }
    if (options.formats) {
        std::optional<SweepList> sweep = select_sweep(*choice.plane, *options.formats, error);
        if (!sweep)
            return std::nullopt;
        choice.sweep = std::move(*sweep);
    }

    choice.width = plan.screen->width;
    choice.height = plan.screen->height;
    if (options.plane_size) {
        choice.width = options.plane_size->first;
        choice.height = options.plane_size->second;
    } else if (choice.plane->type == kCursorPlane) {
        if (int err = kms_device_cursor_size(device, &choice.width, &choice.height); err < 0) {
            error = "cannot read the cursor size for --plane cursor: " + std::to_string(err);
            return std::nullopt;
        }
    }
    return choice;
}

int run_picture(const RelayOptions &options, RelayPlan &plan, const PictureChoice &choice,
                Report &report, const sigset_t &wait_mask) {
    // Declared before the framebuffers so that the old colour tables come
    // back after they are gone.
    Palettes palettes;
    FramebufferPtr screen_fb, fb;
    EndReason reason = EndReason::failure;
    bool any_failed = false;
    bool ready = true;
    if (!plan.planes.empty()) {
        // The screen shows its SMPTE bars as the plain run does; the plane
        // shows the pattern over them.
        kms_framebuffer *raw = nullptr;
        ready = draw_smpte(plan.screen->device, plan.screen, &raw);
        screen_fb.reset(raw);
    }
    Relay relay(plan, screen_fb.get(), report);
    if (ready && options.formats) {
        reason = run_sweep({plan, relay, *choice.plane, choice.sweep, choice.pattern, palettes,
                            report, choice.width, choice.height},
                           wait_mask, fb, any_failed);
    } else if (ready) {
        fb = prepare_picture(plan, choice, palettes);
        if (fb && relay.show_picture(fb.get(), {choice.pattern, choice.format, choice.width,
                                                choice.height}))
            reason = relay.cycle(wait_mask);
    }
    EndEvent end = run_end(options, reason, any_failed, relay);
    tear_down(fb, end);
    tear_down(screen_fb, end);
    palettes.restore();
    return finish(report, end);
}
