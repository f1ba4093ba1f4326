// Shared machinery of the pattern benchmarks: page-aligned plane buffers,
// the memory-speed baseline and the registration of one pattern case.
#pragma once

#include <cstddef>
#include <cstdint>

#include "test_pattern.h"

namespace pattern_bench {

// Registers "<pattern>/<format>/<W>x<H>": fill_test_pattern into buffers of
// the format's plane sizes at the tightest stride. Reports bytes/s of the
// planes written and, as vs_baseline, the pattern's speed over that of the
// faster of memset and a loop of 32-byte stores writing the same planes.
void register_case(pattern::TestPattern pattern, const char *format, uint32_t width,
                   uint32_t height);

// Registers the two baseline cases over a buffer of `bytes` bytes.
void register_baselines(size_t bytes, const char *label);

inline constexpr struct { uint32_t width, height; } sizes[] = {{1920, 1080}, {3840, 2160}};

} // namespace pattern_bench
