// Plain fill and SMPTE bars in the RGB, half-float and C8 families, with the
// memory-speed baselines they are measured against.
#include <string>

#include "bench_support.h"

namespace {

const bool registered = [] {
    using namespace pattern_bench;
    using pattern::TestPattern;
    for (const auto &size : sizes) {
        // Memory speed over an XR24 buffer of this size, for reference.
        const std::string label = std::to_string(size.width) + "x" + std::to_string(size.height);
        register_baselines(size_t{size.width} * size.height * 4, (label + "x4").c_str());
        for (const char *format : {"XR24", "RG16", "RG24", "XR30", "AR4H", "C8"})
            register_case(TestPattern::plain, format, size.width, size.height);
        for (const char *format : {"XR24", "RG16", "RG24", "XR30", "AR4H", "C8"})
            register_case(TestPattern::smpte, format, size.width, size.height);
    }
    return true;
}();

} // namespace
