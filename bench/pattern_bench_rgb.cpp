// SPDX-License-Identifier: MIT
// Plain fill and SMPTE bars in the RGB, half-float and C8 families.
#include "bench_support.h"

namespace {

const bool registered = [] {
    using namespace pattern_bench;
    using pattern::TestPattern;
    for (const auto &size : sizes) {
        for (const char *format : {"XR24", "RG16", "RG24", "XR30", "AR4H", "C8"})
            register_case(TestPattern::plain, format, size.width, size.height);
        for (const char *format : {"XR24", "RG16", "RG24", "XR30", "AR4H", "C8"})
            register_case(TestPattern::smpte, format, size.width, size.height);
    }
    return true;
}();

} // namespace
