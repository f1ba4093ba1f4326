// SPDX-License-Identifier: MIT
// Turns a drawn buffer of any format into 8-bit RGB pixels, for viewing.
#pragma once

#include <cstdint>
#include <vector>

#include "render.h"

struct Rgb8 {
    uint8_t r, g, b;
};

// Rows top to bottom, width x height x 3 bytes (r, g, b), alpha dropped.
std::vector<uint8_t> picture_to_rgb8(const RenderedPicture &picture);

// Each pixel's alpha as 8 bits, rows top to bottom: 255 for formats
// without an alpha component (YUV, C8, X formats).
std::vector<uint8_t> picture_alpha8(const RenderedPicture &picture);

// An n-bit component value as 8 bits: fewer bits repeated, more truncated.
uint8_t component_to_8bit(uint32_t value, uint32_t length);

// A binary16 component c as round(c x 256), capped at 255: the inverse of
// the generator's c / 256.
uint8_t half_to_8bit(uint16_t half);

// Limited-range BT.601 to RGB.
Rgb8 yuv601_to_rgb(uint8_t y, uint8_t cb, uint8_t cr);
