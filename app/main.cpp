// crtc-relay: shows SMPTE colour bars on a DRM device's first screen and hands
// that screen from CRTC to CRTC every five seconds until a key, SIGINT or a
// failure ends it.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

#include "kms_objects.h"
#include "relay.h"

namespace {

// Does nothing: its only effect is that SIGINT ends the wait with EINTR
// instead of killing the process, so teardown runs.
void on_sigint(int) {}

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
struct FramebufferDestroyer {
    void operator()(kms_framebuffer *fb) const { kms_framebuffer_destroy(fb); }
};

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = on_sigint;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGINT, &action, nullptr) < 0) {
        std::fprintf(stderr, "sigaction() failed: %m\n");
        return 1;
    }
    // Keep SIGINT pending outside the wait of the cycling loop, so that a
    // Ctrl-C during start-up or a slow mode set is never lost.
    sigset_t sigint_only, wait_mask;
    sigemptyset(&sigint_only);
    sigaddset(&sigint_only, SIGINT);
    if (sigprocmask(SIG_BLOCK, &sigint_only, &wait_mask) < 0) {
        std::fprintf(stderr, "sigprocmask() failed: %m\n");
        return 1;
    }
    sigdelset(&wait_mask, SIGINT);

    const int fd = open_device_node(argv[1]);
    if (fd < 0) {
        std::fprintf(stderr, "open() failed: %m\n");
        return 1;
    }

    // Declared before the framebuffer so that it is closed after it.
    std::unique_ptr<kms_device, DeviceCloser> device{kms_device_open(fd)};
    if (!device) {
        std::fprintf(stderr, "kms_device_open() failed: %m\n");
        return 1;
    }
    if (device->screens.empty()) {
        std::fprintf(stderr, "no screens found\n");
        return 1;
    }

    kms_screen *screen = device->screens[0].get();
    std::printf("Using screen %s, resolution %ux%u\n", screen->name.c_str(), screen->width,
                screen->height);
    std::fflush(stdout);

    if (device->crtcs.empty()) {
        std::fprintf(stderr, "no CRTCs found\n");
        return 1;
    }

    kms_framebuffer *raw_fb = nullptr;
    const bool shown = show_smpte_on_first_crtc(device.get(), screen, &raw_fb);
    std::unique_ptr<kms_framebuffer, FramebufferDestroyer> fb{raw_fb};
    if (!shown)
        return 1;

    return cycle_crtcs(device.get(), screen, fb.get(), wait_mask) ? 0 : 1;
}
