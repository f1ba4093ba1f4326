// SPDX-License-Identifier: MIT
// The picture a CRTC should send out, for the pixel checks: each layer is
// the generator's own RGB rendering of what was drawn (testpattern's PNG
// conversion), and the layers are composed from the bottom over black as
// the kernel's default blend mode (premultiplied alpha) composes planes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "test_pattern.h"

// What a framebuffer holds, as drawn.
struct Drawing {
    pattern::TestPattern pattern = pattern::TestPattern::smpte;
    uint32_t format = 0; // a generator format's fourcc
    uint32_t width = 0, height = 0;
};

// A drawing shown whole and unscaled at x, y of the CRTC.
struct Layer {
    Drawing drawing;
    int32_t x = 0, y = 0;
};

struct ExpectedPicture {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> pixels; // 0xRRGGBB, rows top to bottom
    // Levels per colour by which a faithful device may differ from it:
    // the largest of its layers' (format_tolerance), at least 1 where a
    // translucent pixel is blended (drivers round the blend their own way).
    int tolerance = 0;
};

ExpectedPicture compose_expected(uint32_t width, uint32_t height, std::span<const Layer> layers);

// Levels per colour by which a device may show `format` differently from
// the generator's 8-bit rendering: 0 for 8-bit RGB and C8 (an 8-bit
// capture holds them exactly), 1 for narrower or wider components and
// half floats (drivers widen by repeating bits or by scaling, and narrow
// by truncating or by rounding), 2 for YUV (BT.601 converted in integers
// or in floating point).
int format_tolerance(uint32_t format);

// What the CRTC shows, as a CRC reference's name: layers that every
// device shows alike give the same text, so their CRCs must be equal;
// formats of 8-bit opaque RGB (XR24, XB24, RG24...) differ only in byte
// order and share one name.
std::string picture_key(std::span<const Layer> layers);
