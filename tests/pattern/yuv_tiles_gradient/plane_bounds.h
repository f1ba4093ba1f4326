// SPDX-License-Identifier: MIT
// The planes a drawing may use, as their documented sizes, and which of
// their bytes it may write. Everything else must keep its contents.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "format_layout.h"
#include "pixel_formats.h"
#include "test_pattern.h"

namespace plane_bounds {

using namespace pattern;

struct Planes {
    std::array<size_t, 3> bytes{};             // size of each plane; 0 = not used
    std::array<std::vector<bool>, 3> writable; // per byte of each plane
};

inline bool is_yuv(const PixelFormatInfo &format) {
    return pattern::is_yuv(format_layout(format));
}

// Rows `count` long, `step` apart, each with `span` bytes from its start.
inline size_t rows_size(uint64_t rows, uint64_t step, uint64_t span) {
    return rows == 0 || span == 0 ? 0 : static_cast<size_t>((rows - 1) * step + span);
}

inline void mark_rows(std::vector<bool> &mask, uint64_t rows, uint64_t step, uint64_t span) {
    for (uint64_t r = 0; r < rows; ++r)
        for (uint64_t i = 0; i < span; ++i)
            mask[r * step + i] = true;
}

// Planes of `pattern` in `format` at this size. Planes a pattern does not use
// (or a format it does not draw) are still given a size, so that a test can
// check they stay untouched: such planes have no writable byte.
inline Planes describe(const PixelFormatInfo &format, TestPattern pattern, uint32_t width,
                       uint32_t height, uint32_t stride) {
    Planes p;
    const FormatLayout l = format_layout(format);
    const uint64_t bpp = l.bytes_per_pixel[0];
    const uint64_t row_bytes = uint64_t{width} * bpp;
    constexpr size_t unused_plane = 64;

    p.bytes[0] = rows_size(height, stride, row_bytes);
    const bool planar = has_chroma_planes(l);
    uint64_t chroma_rows = 0, chroma_step = 0, chroma_span = 0;
    if (planar) {
        chroma_rows = (uint64_t{height} + l.ysub - 1) / l.ysub;
        chroma_step = uint32_t(stride * l.chroma_step) / l.xsub;
        const uint64_t samples = (uint64_t{width} + l.xsub - 1) / l.xsub;
        // In the semi-planar plane each sample is a Cb-and-Cr pair.
        chroma_span = samples * l.chroma_step;
        for (uint32_t i = 1; i < l.planes; ++i)
            p.bytes[i] = rows_size(chroma_rows, chroma_step, chroma_span);
    }
    if (pattern == TestPattern::plain)
        p.bytes[0] = static_cast<size_t>(uint64_t{height} * stride);
    for (size_t i = 0; i < 3; ++i) {
        if (p.bytes[i] == 0)
            p.bytes[i] = unused_plane;
        p.writable[i].assign(p.bytes[i], false);
    }
    // The plain fill covers height x stride bytes whatever the width.
    if (pattern == TestPattern::plain && height != 0 && stride != 0)
        std::fill(p.writable[0].begin(), p.writable[0].end(), true);
    if (width == 0 || height == 0)
        return p;

    switch (pattern) {
    case TestPattern::plain:
        break;
    case TestPattern::smpte:
    case TestPattern::tiles:
        if (pattern == TestPattern::tiles && l.family == PixelFamily::indexed)
            break;
        mark_rows(p.writable[0], height, stride, row_bytes);
        if (planar) {
            // SMPTE draws height / ysub chroma rows; tiles draws all of them.
            const uint64_t drawn = pattern == TestPattern::smpte ? height / l.ysub : chroma_rows;
            for (uint32_t i = 1; i < l.planes; ++i)
                mark_rows(p.writable[i], drawn, chroma_step, chroma_span);
        }
        break;
    case TestPattern::gradient:
        if (l.family == PixelFamily::rgb32 || l.family == PixelFamily::rgb_half)
            mark_rows(p.writable[0], height, stride, uint64_t{width / 2} * 2 * bpp);
        break;
    }
    return p;
}

} // namespace plane_bounds
