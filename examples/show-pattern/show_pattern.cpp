// SPDX-License-Identifier: MIT
// show-pattern: crtc-relay's libraries used from another program. Opens a
// DRM device, lists its screens, draws a test pattern into a framebuffer
// at the first screen's size and shows it through the first CRTC until
// Enter (or end of input).
//   usage: show-pattern DEVICE [tiles|plain|smpte|gradient]
#include <crtc-relay/kms_objects.h>
#include <crtc-relay/pixel_formats.h>
#include <crtc-relay/test_pattern.h>

#include <cstdio>
#include <fcntl.h>

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: show-pattern DEVICE [tiles|plain|smpte|gradient]\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    kms_device *device = kms_device_open(fd); // owns fd from here on
    if (!device)
        return 1;
    for (const auto &screen : device->screens)
        std::printf("%s: %s, %ux%u\n", screen->name.c_str(),
                    screen->connected ? "connected" : "disconnected", screen->width, screen->height);

    int status = 1;
    if (device->num_screens() > 0 && device->num_crtcs() > 0) {
        kms_screen *screen = device->screens[0].get();
        const uint32_t format = pattern::fourcc_code('X', 'R', '2', '4');
        kms_framebuffer *fb = kms_framebuffer_create(device, screen->width, screen->height, format);
        void *pixels = nullptr;
        if (fb && kms_framebuffer_map(fb, &pixels) == 0) {
            const auto chosen = pattern::pattern_from_name(argc > 2 ? argv[2] : "smpte");
            pattern::fill_test_pattern(format, chosen, {static_cast<uint8_t *>(pixels)}, fb->width,
                                       fb->height, fb->pitch);
            if (int err = kms_screen_set(screen, device->crtcs[0].get(), fb); err == 0) {
                std::printf("showing %s on %s; Enter ends\n", pattern::pattern_name(chosen),
                            screen->name.c_str());
                std::fflush(stdout);
                std::getchar();
                status = 0;
            } else {
                std::fprintf(stderr, "kms_screen_set() failed: %d\n", err);
            }
        } else {
            std::fprintf(stderr, "no framebuffer of %ux%u\n", screen->width, screen->height);
        }
        kms_framebuffer_destroy(fb);
    }
    kms_device_close(device);
    return status;
}
