// SPDX-License-Identifier: MIT
// The --formats sweep: one format per period, each reported (sweep.h).
#include "sweep.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string joined(const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

} // namespace

EndReason run_sweep(const Sweep &sweep, const sigset_t &wait_mask, FramebufferPtr &shown,
                    bool &any_failed) {
    const RelayPlan &plan = sweep.plan;
    const uint32_t crtc_index = plan.crtcs[0];
    kms_crtc *crtc = plan.screen->device->crtcs[crtc_index].get();
    std::vector<std::string> passed, failed, skipped;
    EndReason reason = EndReason::formats;
    auto event_of = [&](uint32_t code) {
        FormatEvent event;
        event.format = format_name(code);
        event.crtc_index = crtc_index;
        event.crtc_id = crtc->id;
        event.plane_id = sweep.plane.id;
        return event;
    };

    for (const uint32_t code : sweep.list.skipped) {
        skipped.push_back(format_name(code));
        FormatEvent event = event_of(code);
        event.result = "skip";
        event.reason = "not drawn by the generator";
        sweep.report.format(event);
    }
    for (const uint32_t code : sweep.list.formats) {
        FormatEvent event = event_of(code);
        event.result = "fail";
        FramebufferPtr fb = create_picture(plan.screen->device, sweep.width, sweep.height, code,
                                           sweep.pattern, event.reason);
        if (fb && is_indexed(code))
            event.reason = sweep.palettes.load(crtc, crtc_index);
        if (fb && event.reason.empty()) {
            const bool ok = sweep.relay.show_picture(
                fb.get(), {sweep.pattern, code, sweep.width, sweep.height});
            const SetEvent &set = sweep.relay.last_set();
            if (ok) {
                event.result = "pass";
                shown = std::move(fb);
            } else {
                event.reason = sweep.relay.last_failure(); // printed as it happened
            }
            // A step its checks got to: what they found and compared with.
            if (ok || set.verified) {
                event.verified = set.verified;
                event.step = set.step;
                if (set.crc && !set.crc->empty())
                    event.crc = set.crc->front();
                event.references = set.references;
            }
        } else {
            std::fprintf(stderr, "format %s: %s\n", event.format.c_str(), event.reason.c_str());
        }
        (event.reason.empty() ? passed : failed).push_back(event.format);
        sweep.report.format(event);
        fb.reset(); // a framebuffer that failed; what shows stays
        const std::optional<EndReason> ended = sweep.relay.wait_period(wait_mask);
        // Hardware puts every format through the colour table, not C8 only.
        if (is_indexed(code))
            sweep.palettes.restore();
        if (ended) {
            reason = *ended;
            break;
        }
    }
    any_failed = !failed.empty();
    std::string summary = "formats: " + std::to_string(passed.size()) + " passed, " +
                          std::to_string(failed.size()) + " failed";
    if (!failed.empty())
        summary += " (" + joined(failed) + ")";
    summary += ", " + std::to_string(skipped.size()) + " skipped";
    if (!skipped.empty())
        summary += " (not drawn by the generator: " + joined(skipped) + ")";
    std::fprintf(sweep.report.writes_to_stdout() ? stderr : stdout, "%s\n", summary.c_str());
    return reason;
}
