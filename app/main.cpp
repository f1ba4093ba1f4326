// SPDX-License-Identifier: MIT
// crtc-relay: shows SMPTE colour bars on one screen of a DRM device and
// hands that screen from CRTC to CRTC every period until a key, SIGINT,
// SIGTERM, SIGHUP, the last handover or a failure ends it. See --help.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

#include "failure.h"
#include "kms_objects.h"
#include "listing.h"
#include "options.h"
#include "picture.h"
#include "picture_run.h"
#include "relay.h"
#include "report.h"
#include "selection.h"
#include "signals.h"

namespace {

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// Opens the device node read-write on a descriptor above 2. A program started
// with standard input, output or error closed would otherwise get the device
// in their place: its wait on "standard input" would watch the device, and
// its messages would be written to the device.
int open_device_node(const char *path) {
    std::vector<int> placeholders;
    for (;;) {
        const int placeholder = open("/dev/null", O_RDWR);
        if (placeholder < 0)
            break;
        if (placeholder > 2) {
            close(placeholder);
            break;
        }
        placeholders.push_back(placeholder);
    }
    const int fd = open(path, O_RDWR);
    const int open_errno = errno;
    for (const int placeholder : placeholders)
        close(placeholder);
    errno = open_errno;
    return fd;
}

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

    Report report;
    if (options.report && !options.list) {
        std::string error;
        std::optional<Report> opened = Report::open(*options.report, error);
        if (!opened)
            return usage_error(error);
        report = std::move(*opened);
    }

    sigset_t wait_mask;
    if (!block_ending_signals(&wait_mask))
        return exit_failure;

    const int fd = open_device_node(options.device.c_str());
    if (fd < 0) {
        print_system_failure("open()");
        return exit_failure;
    }

    // Declared before the framebuffer so that it is closed after it.
    std::unique_ptr<kms_device, DeviceCloser> device{kms_device_open(fd)};
    if (!device) {
        print_system_failure("kms_device_open()");
        return exit_failure;
    }
    if (device->screens.empty()) {
        std::fprintf(stderr, "no screens found\n");
        return exit_failure;
    }
    if (options.list) {
        print_listing(device.get(), stdout);
        return 0;
    }

    std::string error;
    RelayPlan plan;
    plan.period = options.period;
    plan.handovers = options.handovers;
    plan.verify = options.verify;
    plan.screen = select_screen(device.get(), options.screen, error);
    if (!plan.screen || !select_mode(plan.screen, options.mode, error))
        return usage_error(error);
    if (!device->crtcs.empty()) {
        plan.crtcs = select_crtcs(plan.screen, options, error);
        if (plan.crtcs.empty())
            return usage_error(error);
    }
    std::optional<PictureChoice> picture;
    if (wants_picture(options) && !device->crtcs.empty()) {
        picture = choose_picture(options, plan, error);
        if (!picture)
            return usage_error(error);
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
        crc = CrcCheck::prepare(*device, plan.crtcs, options.debugfs, options.verify_timeout, error);
        if (!crc)
            return usage_error(error);
        plan.crc = &*crc;
    }
    std::unique_ptr<WritebackCheck> writeback;
    if (options.verify_writeback) {
        writeback = WritebackCheck::prepare(atomic.get(), *plan.screen, plan.crtcs,
                                            options.verify_timeout, options.save, error);
        if (!writeback)
            return usage_error(error);
        plan.writeback = writeback.get();
    }

    report.start(options.device, *plan.screen, plan.crtcs);
    if (picture)
        return run_picture(options, plan, *picture, report, wait_mask);
    kms_framebuffer *raw_fb = nullptr;
    const bool drawn = draw_smpte(device.get(), plan.screen, &raw_fb);
    FramebufferPtr fb{raw_fb};
    Relay relay(plan, fb.get(), report);
    const EndReason reason =
        drawn && relay.show_first() ? relay.cycle(wait_mask) : EndReason::failure;
    const int status = reason == EndReason::failure ? exit_failure : 0;
    fb.reset(); // the teardown comes before the report's last line
    report.end(reason, ending_signal(), status);
    return status;
}
