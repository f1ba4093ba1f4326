// SPDX-License-Identifier: MIT
// Buffers of a pattern drawn the way the testpattern tool describes it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "plane_layout.h"
#include "options.h"

struct RenderedPicture {
    const pattern::PixelFormatInfo *format;
    uint32_t width;
    uint32_t height;
    uint32_t stride;
    pattern::PlaneLayout layout;
    std::array<std::vector<uint8_t>, 3> planes; // the used ones, plane 0 first
};

// Allocates the format's planes, sets every byte to options.fill and draws.
RenderedPicture render_test_pattern(const TestpatternOptions &options);
