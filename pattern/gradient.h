// SPDX-License-Identifier: MIT
// Gradient: a horizontal grey ramp, 10-bit in the upper half of the picture
// and 8-bit in the lower half. Drawn into the 32-bit RGB and half-float
// formats only; every other format is left untouched.
#pragma once

#include <cstdint>

#include "pixel_formats.h"

namespace pattern {

void draw_gradient(const PixelFormatInfo &format, uint8_t *mem, uint32_t width, uint32_t height,
                   uint32_t stride);

} // namespace pattern
