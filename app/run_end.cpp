// SPDX-License-Identifier: MIT
// The end of a run with options (run_end.h).
#include "run_end.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "signals.h"

namespace {

constexpr int exit_failure = 1;

} // namespace

EndEvent run_end(const RelayOptions &options, EndReason reason, bool failed, const Relay &relay) {
    EndEvent end;
    end.reason = reason;
    end.signal = ending_signal();
    end.status = reason == EndReason::failure || failed ? exit_failure : 0;
    end.requested = options.handovers;
    end.done = relay.handovers_done();
    // With --handovers N, only N handovers made are a pass.
    if (options.handovers && end.done < *options.handovers &&
        (reason == EndReason::input || reason == EndReason::signal)) {
        const char *abbreviation = reason == EndReason::signal ? sigabbrev_np(end.signal) : nullptr;
        std::fprintf(stderr, "crtc-relay: stopped after %llu of %llu handovers (%s%s)\n",
                     static_cast<unsigned long long>(end.done),
                     static_cast<unsigned long long>(*options.handovers),
                     abbreviation ? "SIG" : "", abbreviation ? abbreviation : "input");
        end.status = exit_failure;
    }
    return end;
}

void tear_down(FramebufferPtr &fb, EndEvent &end) {
    const size_t before = end.teardown_failures.size();
    kms_framebuffer_destroy_checked(fb.release(), &end.teardown_failures);
    for (size_t i = before; i < end.teardown_failures.size(); ++i) {
        std::fprintf(stderr, "crtc-relay: teardown: %s failed: %d\n",
                     end.teardown_failures[i].request, end.teardown_failures[i].error);
        end.status = exit_failure;
    }
}

int finish(Report &report, const EndEvent &end) {
    if (!report.error().empty() || !report.end(end)) {
        std::fprintf(stderr, "crtc-relay: %s\n", report.error().c_str());
        return exit_failure;
    }
    return end.status;
}
