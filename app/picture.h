// SPDX-License-Identifier: MIT
// The picture the relay shows: SMPTE colour bars in an XR24 dumb
// framebuffer at the screen's mode, or, when a pattern or format is chosen,
// a framebuffer of that format with the pattern drawn into it, and for C8
// the SMPTE palette loaded into each CRTC's colour table, the old tables
// put back when the run ends.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "kms_objects.h"
#include "test_pattern.h"

struct FramebufferDestroyer {
    void operator()(kms_framebuffer *fb) const { kms_framebuffer_destroy(fb); }
};
using FramebufferPtr = std::unique_ptr<kms_framebuffer, FramebufferDestroyer>;

// Creates and draws the framebuffer at the screen's mode. On success stores
// it in *fb_out and returns true; on failure prints the failed operation and
// returns false (with *fb_out set to whatever must still be destroyed).
bool draw_smpte(kms_device *device, kms_screen *screen, kms_framebuffer **fb_out);

// A framebuffer of `fourcc` (one of the generator's formats) at width x
// height with `pattern` drawn in it. nullptr with `error` set to the failed
// call ("kms_framebuffer_map() failed: -12") otherwise.
FramebufferPtr create_picture(kms_device *device, uint32_t width, uint32_t height,
                              uint32_t fourcc, pattern::TestPattern pattern, std::string &error);

// "XR24"; a code with characters outside ASCII letters, digits and blanks
// as hex. Trailing blanks dropped ("C8").
std::string format_name(uint32_t fourcc);

// Whether pixels of this format index the CRTC's colour table.
bool is_indexed(uint32_t fourcc);

class Palettes {
public:
    Palettes() = default;
    Palettes(const Palettes &) = delete;
    Palettes &operator=(const Palettes &) = delete;
    ~Palettes() { restore(); }

    // Puts back every table it replaced; a failure is printed.
    void restore();

    // Loads the SMPTE palette into the CRTC's colour table (once per CRTC),
    // keeping the old table. Empty, or what failed.
    std::string load(const kms_crtc *crtc, uint32_t crtc_index);

private:
    std::map<const kms_crtc *, kms_gamma> saved_;
};
