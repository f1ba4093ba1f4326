// SPDX-License-Identifier: MIT
// The picture: SMPTE bars drawn into a new dumb framebuffer, or any pattern
// in any format; the colour tables C8 needs.
#include "picture.h"

#include <cstdio>
#include <vector>

#include "failure.h"
#include "format_planes.h"
#include "pixel_formats.h"
#include "smpte.h"
#include "test_pattern.h"

namespace {

constexpr uint32_t scanout_format = pattern::fourcc_code('X', 'R', '2', '4');
constexpr uint32_t kPaletteEntries = 22; // the SMPTE colours C8 indexes

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

std::string format_name(uint32_t fourcc) {
    std::string name;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = char(fourcc >> shift & 0xff);
        if (!(c == ' ' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
              (c >= 'a' && c <= 'z'))) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08x", fourcc);
            return hex;
        }
        name += c;
    }
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name;
}

bool is_indexed(uint32_t fourcc) {
    const pattern::PixelFormatInfo *format = pattern::find_pixel_format(fourcc);
    return format && pattern::format_layout(*format).family == pattern::PixelFamily::indexed;
}

FramebufferPtr create_picture(kms_device *device, uint32_t width, uint32_t height,
                              uint32_t fourcc, pattern::TestPattern pattern, std::string &error) {
    const pattern::PixelFormatInfo *format = pattern::find_pixel_format(fourcc);
    if (!format) {
        error = "the generator cannot draw " + format_name(fourcc);
        return nullptr;
    }
    const kms_format_planes planes = format_planes(*format);
    FramebufferPtr fb(kms_framebuffer_create_format(device, width, height, fourcc, &planes));
    if (!fb) {
        error = "kms_framebuffer_create_format() failed";
        return nullptr;
    }
    void *map = nullptr;
    if (int err = kms_framebuffer_map(fb.get(), &map); err < 0) {
        error = "kms_framebuffer_map() failed: " + std::to_string(err);
        return nullptr;
    }
    pattern::fill_test_pattern(fourcc, pattern, plane_pointers(*fb, map), width, height,
                               fb->pitch);
    kms_framebuffer_unmap(fb.get());
    return fb;
}

std::string Palettes::load(const kms_crtc *crtc, uint32_t crtc_index) {
    if (saved_.count(crtc))
        return {};
    const std::string name = "CRTC " + std::to_string(crtc_index);
    kms_gamma old;
    if (int err = kms_crtc_read_gamma(crtc, &old); err < 0)
        return "kms_crtc_read_gamma() failed: " + std::to_string(err);
    if (old.red.size() < kPaletteEntries)
        return name + " has a colour table of " + std::to_string(old.red.size()) +
               " entries; C8 needs " + std::to_string(kPaletteEntries);
    std::vector<pattern::ColorLutEntry> lut(old.red.size());
    pattern::build_smpte_c8_palette(uint32_t(lut.size()), lut.data());
    kms_gamma palette;
    for (const pattern::ColorLutEntry &entry : lut) {
        palette.red.push_back(entry.red);
        palette.green.push_back(entry.green);
        palette.blue.push_back(entry.blue);
    }
    if (int err = kms_crtc_set_gamma(crtc, &palette); err < 0)
        return "kms_crtc_set_gamma() failed: " + std::to_string(err);
    saved_[crtc] = std::move(old);
    return {};
}

void Palettes::restore() {
    for (const auto &[crtc, gamma] : saved_)
        if (int err = kms_crtc_set_gamma(crtc, &gamma); err < 0)
            std::fprintf(stderr, "kms_crtc_set_gamma() failed: %d (the old table stays lost)\n",
                         err);
    saved_.clear();
}
