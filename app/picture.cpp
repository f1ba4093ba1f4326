// The picture: SMPTE bars drawn into a new dumb framebuffer.
#include "picture.h"

#include <cstdio>

#include "failure.h"
#include "pixel_formats.h"
#include "test_pattern.h"

namespace {

constexpr uint32_t scanout_format = pattern::fourcc_code('X', 'R', '2', '4');

} // namespace

bool draw_smpte(kms_device *device, kms_screen *screen, kms_framebuffer **fb_out) {
    kms_framebuffer *fb =
        kms_framebuffer_create(device, screen->width, screen->height, scanout_format);
    *fb_out = fb;
    if (fb == nullptr) {
        std::fprintf(stderr, "kms_framebuffer_create() failed\n");
        return false;
    }

    void *map = nullptr;
    if (int err = kms_framebuffer_map(fb, &map); err < 0) {
        print_kms_failure("kms_framebuffer_map()", err);
        return false;
    }
    pattern::fill_test_pattern(fb->format, pattern::TestPattern::smpte,
                               {static_cast<uint8_t *>(map), nullptr, nullptr}, fb->width,
                               fb->height, fb->pitch);
    kms_framebuffer_unmap(fb);
    return true;
}
