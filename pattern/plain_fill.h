// SPDX-License-Identifier: MIT
// The plain pattern: one byte value over every row of plane 0, padding
// included.
#pragma once

#include <cstdint>

#include "pixel_formats.h"

namespace pattern {

// 0x38 for the half-float formats (0.527 in every component), 0x77 for all
// others.
uint8_t plain_fill_value(const PixelFormatInfo &format);

// height x stride, formed in 64 bits: a tall buffer with a wide stride
// passes 4 GiB, where a 32-bit product would wrap and fill only a sliver.
constexpr uint64_t plain_fill_bytes(uint32_t height, uint32_t stride) {
    return uint64_t{height} * stride;
}

void fill_plain(const PixelFormatInfo &format, uint8_t *mem, uint32_t height, uint32_t stride);

} // namespace pattern
