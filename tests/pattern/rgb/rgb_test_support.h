// SPDX-License-Identifier: MIT
// Helpers shared by the RGB pattern tests: format rows by name, guarded
// buffers, little-endian pixel reads and a direct call of the SMPTE routine
// of a format's family.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format_layout.h"
#include "pixel_formats.h"
#include "smpte.h"

namespace rgb_test {

using namespace pattern;

inline constexpr uint8_t sentinel = 0xA5;

inline const PixelFormatInfo &format_named(const char *name) {
    const uint32_t code = pixel_format_from_name(name);
    const PixelFormatInfo *format = find_pixel_format(code);
    if (format == nullptr)
        throw std::runtime_error(std::string("no format named ") + name);
    return *format;
}

inline bool is_yuv(const PixelFormatInfo &format) {
    return pattern::is_yuv(format_layout(format));
}

// The 41 rows that the RGB/C8 SMPTE routines draw.
inline std::vector<const PixelFormatInfo *> rgb_and_indexed_formats() {
    std::vector<const PixelFormatInfo *> formats;
    for (const PixelFormatInfo &row : pixel_format_table)
        if (!is_yuv(row))
            formats.push_back(&row);
    return formats;
}

// A plane of `rows` rows of `stride` bytes, every byte preset to `fill`,
// with `guard` extra sentinel bytes after the last row.
struct GuardedPlane {
    GuardedPlane(uint32_t rows, uint32_t stride, uint8_t fill = sentinel, size_t guard = 64)
        : bytes(size_t{rows} * stride + guard, fill), payload(size_t{rows} * stride) {}
    uint8_t *data() { return bytes.data(); }
    bool guard_intact() const {
        for (size_t i = payload; i < bytes.size(); ++i)
            if (bytes[i] != sentinel)
                return false;
        return true;
    }
    std::vector<uint8_t> bytes;
    size_t payload;
};

// Reads `size` bytes at p as a little-endian word.
inline uint64_t read_le(const uint8_t *p, uint32_t size) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < size; ++i)
        v |= uint64_t{p[i]} << (8 * i);
    return v;
}

// Calls the SMPTE routine directly, without the lookup by code.
inline void draw_smpte_direct(const PixelFormatInfo &format, uint8_t *mem, uint32_t width,
                              uint32_t height, uint32_t stride) {
    draw_smpte(format, {mem, nullptr, nullptr}, width, height, stride);
}

} // namespace rgb_test
