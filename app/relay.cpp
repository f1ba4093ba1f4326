#include "relay.h"

#include <cerrno>
#include <cstdio>
#include <sys/select.h>

#include "pixel_formats.h"
#include "test_pattern.h"

namespace {

constexpr uint32_t scanout_format = pattern::fourcc_code('X', 'R', '2', '4');
constexpr time_t handover_period_s = 5;

} // namespace

bool show_smpte_on_first_crtc(kms_device *device, kms_screen *screen, kms_framebuffer **fb_out) {
    kms_framebuffer *fb =
        kms_framebuffer_create(device, screen->width, screen->height, scanout_format);
    *fb_out = fb;
    if (fb == nullptr) {
        std::fprintf(stderr, "kms_framebuffer_create() failed\n");
        return false;
    }

    void *map = nullptr;
    if (int err = kms_framebuffer_map(fb, &map); err < 0) {
        std::fprintf(stderr, "kms_framebuffer_map() failed: %d\n", err);
        return false;
    }
    pattern::fill_test_pattern(fb->format, pattern::TestPattern::smpte,
                               {static_cast<uint8_t *>(map), nullptr, nullptr}, fb->width,
                               fb->height, fb->pitch);
    kms_framebuffer_unmap(fb);

    if (int err = kms_screen_set(screen, device->crtcs[0].get(), fb); err < 0) {
        std::fprintf(stderr, "kms_screen_set() failed: %d\n", err);
        return false;
    }
    return true;
}

bool cycle_crtcs(kms_device *device, kms_screen *screen, kms_framebuffer *fb,
                 const sigset_t &wait_mask) {
    uint32_t cursor = 1;
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(0, &readable);
        const timespec timeout{handover_period_s, 0};

        // SIGINT is blocked everywhere but here, so one that arrived while
        // drawing or mode setting is delivered now and ends the loop.
        const int ready = pselect(1, &readable, nullptr, nullptr, &timeout, &wait_mask);
        if (ready < 0) {
            if (errno == EINTR)
                return true;
            std::fprintf(stderr, "select() failed: %d\n", errno);
            return false;
        }
        if (ready > 0)
            return true; // input on stdin; it is left unread

        if (cursor >= device->num_crtcs())
            cursor = 0;
        if (int err = kms_screen_set(screen, device->crtcs[cursor].get(), fb); err < 0) {
            std::fprintf(stderr, "kms_screen_set() failed: %d\n", err);
            return false;
        }
        ++cursor;
    }
}
