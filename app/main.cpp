// SPDX-License-Identifier: MIT
// crtc-relay: shows SMPTE colour bars on one screen of a DRM device and
// hands that screen from CRTC to CRTC every period until a key, SIGINT,
// SIGTERM, SIGHUP, the last handover or a failure ends it. See --help.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <xf86drm.h>

#include "failure.h"
#include "kms_objects.h"
#include "listing.h"
#include "options.h"
#include "picture.h"
#include "picture_run.h"
#include "run_end.h"
#include "relay.h"
#include "report.h"
#include "selection.h"
#include "signals.h"

namespace {

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// While it lives, descriptors 0 to 2 are in use (closed ones hold
// /dev/null), so that a file opened meanwhile lands above 2. A program
// started with standard input, output or error closed would otherwise get
// the device or the report in their place: its wait on "standard input"
// would watch it, and its messages would be written into it.
class LowDescriptorGuard {
public:
    LowDescriptorGuard() {
        for (;;) {
            const int placeholder = open("/dev/null", O_RDWR);
            if (placeholder < 0)
                break;
            if (placeholder > 2) {
                close(placeholder);
                break;
            }
            placeholders_.push_back(placeholder);
        }
    }
    ~LowDescriptorGuard() {
        const int saved = errno;
        for (const int placeholder : placeholders_)
            close(placeholder);
        errno = saved;
    }
    LowDescriptorGuard(const LowDescriptorGuard &) = delete;
    LowDescriptorGuard &operator=(const LowDescriptorGuard &) = delete;

private:
    std::vector<int> placeholders_;
};

struct DeviceCloser {
    void operator()(kms_device *device) const { kms_device_close(device); }
};
struct AtomicDestroyer {
    void operator()(kms_atomic *atomic) const { kms_atomic_destroy(atomic); }
};

int usage_error(const std::string &message) {
    std::fprintf(stderr, "crtc-relay: %s\n", message.c_str());
    return exit_usage;
}

StartEvent start_event(const RelayOptions &options, const RelayPlan &plan, int fd) {
    StartEvent event;
    event.device = options.device;
    event.screen = plan.screen;
    event.crtcs = plan.crtcs;
    for (size_t i = 0; i < plan.crtcs.size(); ++i)
        if (std::find(plan.crtcs.begin(), plan.crtcs.begin() + long(i), plan.crtcs[i]) ==
            plan.crtcs.begin() + long(i))
            ++event.distinct_crtcs;
    event.period = plan.period;
    event.handovers = plan.handovers;
    event.verify = plan.verify;
    event.atomic = plan.atomic != nullptr;
    event.capable = options.capable;
    if (drmVersionPtr version = drmGetVersion(fd)) {
        event.driver_name.assign(version->name, size_t(std::max(version->name_len, 0)));
        event.driver_version = std::to_string(version->version_major) + "." +
                               std::to_string(version->version_minor) + "." +
                               std::to_string(version->version_patchlevel);
        event.driver_date.assign(version->date, size_t(std::max(version->date_len, 0)));
        drmFreeVersion(version);
    }
    return event;
}

} // namespace

int main(int argc, char **argv) {
    const ParsedCommandLine parsed = parse_relay_options(argc, argv);
    if (std::holds_alternative<MissingOperand>(parsed)) {
        std::fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
        return exit_failure;
    }
    if (std::holds_alternative<ShowHelp>(parsed)) {
        std::fputs(relay_help(argv[0]).c_str(), stdout);
        return 0;
    }
    if (std::holds_alternative<ShowVersion>(parsed)) {
        std::printf("crtc-relay %s\n", CRTC_RELAY_VERSION);
        return 0;
    }
    if (const auto *error = std::get_if<UsageError>(&parsed))
        return usage_error(error->message);
    const RelayOptions &options = std::get<RelayOptions>(parsed);

    // Blocked before anything is created: an ending signal from here on
    // ends the run through its teardown, never midway.
    sigset_t wait_mask;
    if (!block_ending_signals(&wait_mask))
        return exit_failure;
    if (!options.plain && !ignore_write_signals())
        return exit_failure;
    const bool stdin_open = fcntl(0, F_GETFD) >= 0 || errno != EBADF;

    Report report;
    int fd = -1;
    {
        const LowDescriptorGuard guard;
        if (options.report && !options.list) {
            std::string error;
            struct stat device_stat {};
            const bool known = stat(options.device.c_str(), &device_stat) == 0;
            std::optional<Report> opened =
                Report::open(*options.report, known ? &device_stat : nullptr, error);
            if (!opened)
                return usage_error(error);
            report = std::move(*opened);
        }
        fd = open(options.device.c_str(), O_RDWR);
        if (fd < 0) {
            print_system_failure("open()");
            return exit_failure;
        }
    }

    // Declared before the framebuffer so that it is closed after it.
    std::unique_ptr<kms_device, DeviceCloser> device{kms_device_open(fd)};
    if (!device) {
        print_system_failure("kms_device_open()");
        return exit_failure;
    }
    if (!options.plain && device->resources_error) {
        std::fprintf(stderr, "drmModeGetResources() failed: %s\n",
                     std::strerror(-device->resources_error));
        return exit_failure;
    }
    if (options.list) {
        // A device without connectors still lists its CRTCs and planes.
        SelectionError error;
        const kms_screen *only =
            options.screen ? select_screen(device.get(), options.screen, error) : nullptr;
        if (options.screen && !only) {
            std::fprintf(stderr, "crtc-relay: %s\n", error.message.c_str());
            return error.status;
        }
        (options.json ? print_listing_json : print_listing)(device.get(), only, stdout);
        return 0;
    }
    if (device->screens.empty()) {
        std::fprintf(stderr, "no screens found\n");
        return exit_failure;
    }

    SelectionError error;
    RelayPlan plan;
    plan.period = options.period;
    plan.handovers = options.handovers;
    plan.verify = options.verify;
    plan.plain = options.plain;
    plan.watch_input = options.plain || stdin_open;
    plan.screen = select_screen(device.get(), options.screen, error);
    // The plain run keeps its first mode and finds out about it from the
    // framebuffer; options check the mode first.
    if (!plan.screen || (!options.plain && !select_mode(plan.screen, options.mode, error))) {
        std::fprintf(stderr, "crtc-relay: %s\n", error.message.c_str());
        return error.status;
    }
    if (!device->crtcs.empty()) {
        plan.crtcs = select_crtcs(plan.screen, options, error);
        if (plan.crtcs.empty()) {
            std::fprintf(stderr, "crtc-relay: %s\n", error.message.c_str());
            return error.status;
        }
    }
    std::optional<PictureChoice> picture;
    if (wants_picture(options) && !device->crtcs.empty()) {
        std::string picture_error;
        picture = choose_picture(options, plan, picture_error);
        if (!picture)
            return usage_error(picture_error);
    }

    // With the report on standard output, that stays JSON Lines only.
    std::fprintf(report.writes_to_stdout() ? stderr : stdout, "Using screen %s, resolution %ux%u\n",
                 plan.screen->name.c_str(), plan.screen->width, plan.screen->height);
    std::fflush(stdout);

    if (device->crtcs.empty()) {
        std::fprintf(stderr, "no CRTCs found\n");
        return exit_failure;
    }
    // Declared before the framebuffer so that it goes after it.
    std::unique_ptr<kms_atomic, AtomicDestroyer> atomic;
    if (options.atomic || options.verify_writeback) {
        kms_atomic *enabled = nullptr;
        if (int err = kms_device_enable_atomic(device.get(), &enabled); err < 0) {
            if (!options.atomic)
                return usage_error("--verify=writeback needs atomic mode setting, which this "
                                   "device refuses: " + std::string(std::strerror(-err)));
            if (err == -EOPNOTSUPP)
                std::fprintf(stderr, "atomic mode setting not supported by this device\n");
            else
                print_kms_failure("kms_device_enable_atomic()", err);
            return exit_failure;
        }
        atomic.reset(enabled);
        plan.atomic = atomic.get();
    }
    // The pixel checks, refused here when the device cannot run them.
    std::optional<CrcCheck> crc;
    if (options.verify_crc) {
        crc = CrcCheck::prepare(*device, plan.crtcs, options.debugfs, options.verify_timeout,
                                error.message);
        if (!crc)
            return usage_error(error.message);
        plan.crc = &*crc;
    }
    std::unique_ptr<WritebackCheck> writeback;
    if (options.verify_writeback) {
        writeback = WritebackCheck::prepare(atomic.get(), *plan.screen, plan.crtcs,
                                            options.verify_timeout, options.save, error.message);
        if (!writeback)
            return usage_error(error.message);
        plan.writeback = writeback.get();
    }

    if (!options.plain) {
        const StartEvent start = start_event(options, plan, fd);
        if (start.distinct_crtcs < 2)
            std::fprintf(stderr,
                         "crtc-relay: the cycle has one distinct CRTC (%u): each handover sets "
                         "it again\n",
                         plan.crtcs[0]);
        if (!report.start(start)) {
            std::fprintf(stderr, "crtc-relay: %s\n", report.error().c_str());
            return exit_failure;
        }
    }
    if (picture)
        return run_picture(options, plan, *picture, report, wait_mask);
    kms_framebuffer *raw_fb = nullptr;
    const bool drawn = draw_smpte(device.get(), plan.screen, &raw_fb);
    FramebufferPtr fb{raw_fb};
    Relay relay(plan, fb.get(), report);
    const EndReason reason =
        drawn && relay.show_first() ? relay.cycle(wait_mask) : EndReason::failure;
    if (options.plain) {
        fb.reset();
        return reason == EndReason::failure ? exit_failure : 0;
    }
    // The teardown comes before the report's last line.
    EndEvent end = run_end(options, reason, false, relay);
    tear_down(fb, end);
    return finish(report, end);
}
