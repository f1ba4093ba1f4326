// SPDX-License-Identifier: MIT
// A generator format's planes as the object layer takes them, and the
// generator's plane pointers into a mapped framebuffer of that format.
#pragma once

#include <cstdint>

#include "format_layout.h"
#include "kms_objects.h"
#include "test_pattern.h"

inline kms_format_planes format_planes(const pattern::PixelFormatInfo &format) {
    const pattern::FormatLayout layout = pattern::format_layout(format);
    kms_format_planes planes;
    planes.count = layout.planes;
    for (uint32_t i = 0; i < layout.planes; ++i)
        planes.bits_per_pixel[i] = layout.bytes_per_pixel[i] * 8;
    if (layout.planes > 1) {
        planes.xsub = layout.xsub;
        planes.ysub = layout.ysub;
    }
    return planes;
}

inline pattern::PlanePointers plane_pointers(const kms_framebuffer &fb, void *map) {
    pattern::PlanePointers planes{};
    for (uint32_t i = 0; i < fb.planes && i < planes.size(); ++i)
        planes[i] = static_cast<uint8_t *>(map) + fb.offsets[i];
    return planes;
}
