// SPDX-License-Identifier: MIT
// Small helpers for the worked-value tests: format rows by name, a drawing
// into guarded planes of the documented size, and little-endian reads.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "guarded_planes.h"
#include "plane_bounds.h"
#include "test_pattern.h"

inline const pattern::PixelFormatInfo &format_named(const std::string &name) {
    const pattern::PixelFormatInfo *format =
        pattern::find_pixel_format(pattern::pixel_format_from_name(name.c_str()));
    if (format == nullptr)
        throw std::invalid_argument("no pixel format " + name);
    return *format;
}

// A drawing by fill_test_pattern into planes of the documented size.
struct Drawing {
    Drawing(const std::string &format_name, pattern::TestPattern pattern, uint32_t width,
            uint32_t height, uint32_t stride)
        : planes(plane_bounds::describe(format_named(format_name), pattern, width, height, stride)),
          stride(stride) {
        pattern::fill_test_pattern(format_named(format_name).fourcc, pattern, planes.pointers(),
                                   width, height, stride);
    }

    std::span<const uint8_t> plane(size_t p) const { return planes.plane(p); }

    uint8_t byte(size_t p, uint64_t offset) const { return plane(p)[offset]; }

    // The bytes [offset, offset + count) of plane p.
    std::vector<int> bytes(size_t p, uint64_t offset, size_t count) const {
        std::vector<int> out;
        for (size_t i = 0; i < count; ++i)
            out.push_back(plane(p)[offset + i]);
        return out;
    }

    // Pixel x of row y of plane 0, `size` bytes read least significant first.
    uint64_t pixel(uint32_t x, uint32_t y, unsigned size) const {
        uint64_t value = 0;
        for (unsigned i = 0; i < size; ++i)
            value |= uint64_t{plane(0)[uint64_t{y} * stride + uint64_t{x} * size + i]} << (8 * i);
        return value;
    }

    GuardedPlanes planes;
    uint32_t stride;
};

inline std::vector<int> repeat(std::initializer_list<int> bytes, size_t times) {
    std::vector<int> out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), bytes);
    return out;
}
