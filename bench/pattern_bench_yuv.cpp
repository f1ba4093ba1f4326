// SPDX-License-Identifier: MIT
// SMPTE bars in the YUV families, tiles in YUV and RGB, and the gradient.
#include "bench_support.h"

namespace {

const bool registered = [] {
    using namespace pattern_bench;
    using pattern::TestPattern;
    for (const auto &size : sizes) {
        for (const char *format : {"YUYV", "UYVY", "NV12", "NV16", "YU12"})
            register_case(TestPattern::smpte, format, size.width, size.height);
        for (const char *format : {"YUYV", "UYVY", "NV12", "NV16", "YU12", "XR24", "XR30", "AR4H"})
            register_case(TestPattern::tiles, format, size.width, size.height);
        // The gradient draws the 32-bit and half-float RGB formats only.
        for (const char *format : {"XR24", "XR30", "AR4H"})
            register_case(TestPattern::gradient, format, size.width, size.height);
    }
    return true;
}();

} // namespace
