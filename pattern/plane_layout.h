// SPDX-License-Identifier: MIT
// How many bytes each plane of a buffer needs so that every pattern can be
// drawn into it at a given size and plane-0 stride. For callers that
// allocate buffers for the generator (tools, benchmarks, tests).
#pragma once

#include <array>
#include <cstdint>

#include "format_layout.h"
#include "pixel_formats.h"

namespace pattern {

struct PlaneLayout {
    uint32_t count;                // planes the format uses, 1 to 3
    std::array<uint64_t, 3> bytes; // size of each used plane, 0 for the others
    uint32_t chroma_rows;          // rows of each chroma plane
    uint32_t chroma_step;          // bytes from one chroma row to the next
};

// The tightest plane-0 stride: width times the bytes of one plane-0 pixel
// (the luma plane for semi-planar and planar YUV).
inline uint64_t tightest_stride(const PixelFormatInfo &format, uint32_t width) {
    return uint64_t{width} * format_layout(format).bytes_per_pixel[0];
}

// Plane 0: height rows of stride bytes. Chroma planes: ceil(height / ysub)
// rows, chroma_step = stride * chroma_stride / xsub apart. With an odd width
// a chroma row reaches one byte past what a tight stride provides (its last
// Cb/Cr pair, or its last planar sample, sits on the half pixel past the
// edge), so each chroma plane then gets one byte of slack.
inline PlaneLayout plane_layout(const PixelFormatInfo &format, uint32_t width, uint32_t height,
                                uint32_t stride) {
    PlaneLayout layout{1, {uint64_t{height} * stride, 0, 0}, 0, 0};
    const FormatLayout format_planes = format_layout(format);
    if (!has_chroma_planes(format_planes))
        return layout;

    const uint32_t ysub = format_planes.ysub;
    layout.chroma_rows = height / ysub + (height % ysub != 0 ? 1 : 0);
    layout.chroma_step =
        static_cast<uint32_t>(uint64_t{stride} * format_planes.chroma_step / format_planes.xsub);
    const uint64_t chroma_bytes =
        uint64_t{layout.chroma_rows} * layout.chroma_step + (width % 2 != 0 ? 1 : 0);
    layout.count = format_planes.planes;
    for (uint32_t i = 1; i < layout.count; ++i)
        layout.bytes[i] = chroma_bytes;
    return layout;
}

} // namespace pattern
