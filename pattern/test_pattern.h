// SPDX-License-Identifier: MIT
// The test-pattern generator's single entry: draws one of four patterns into
// caller-owned planes described by a fourcc, three plane pointers, a size and
// the byte stride of plane 0. It allocates nothing and never fails by result.
#pragma once

// Installed for other programs, which need C++20 as the library does.
#if __cplusplus < 202002L
#error "crtc-relay's headers need C++20 or later (-std=c++20)"
#endif

#include <array>
#include <cstdint>

namespace pattern {

enum class TestPattern : uint32_t {
    tiles = 0,
    plain = 1,
    smpte = 2,
    gradient = 3,
};

// Plane 0 first; only the planes the format uses are read.
using PlanePointers = std::array<uint8_t *, 3>;

// Draws `pattern` in format `fourcc`. An unknown fourcc writes nothing; an
// unknown pattern value prints "Error: unsupported test pattern %u." on
// standard output and writes nothing.
void fill_test_pattern(uint32_t fourcc, TestPattern pattern, const PlanePointers &planes,
                       uint32_t width, uint32_t height, uint32_t stride);

// "tiles", "plain", "smpte" or "gradient"; anything else prints
// "Error: unsupported test pattern %s." on standard output and yields smpte.
TestPattern pattern_from_name(const char *name);

// The name of a pattern value, or nullptr for a value outside the four.
const char *pattern_name(TestPattern pattern);

} // namespace pattern
