// SPDX-License-Identifier: MIT
// Shared machinery of the pattern benchmarks: page-aligned plane buffers,
// the store-speed baseline and the registration of one pattern case.
#pragma once

#include <cstddef>
#include <cstdint>

#include "test_pattern.h"

namespace pattern_bench {

// Registers "<pattern>/<format>/<W>x<H>/hot" and ".../cold": fill_test_pattern
// into the format's planes at the tightest stride, timed in rounds
// interleaved with the baselines over the same bytes: glibc memset, a loop
// of 16-byte (SSE2) stores and, where the CPU has AVX2, a loop of 32-byte
// stores. "hot" reuses one set of planes (cache-resident when they fit),
// "cold" walks a ring of sets larger than the last-level cache, as a
// scan-out buffer is. Reports bytes/s of the planes written and, as
// vs_baseline, the baseline's time (the fastest of the three) over the
// pattern's; and, as vs_prefetching_loop, the same for the AVX2 loop
// asking for each line a page ahead as the pattern does.
void register_case(pattern::TestPattern pattern, const char *format, uint32_t width,
                   uint32_t height);

inline constexpr struct { uint32_t width, height; } sizes[] = {{1920, 1080}, {3840, 2160}};

} // namespace pattern_bench
