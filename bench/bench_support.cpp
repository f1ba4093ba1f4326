// SPDX-License-Identifier: MIT
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "format_layout.h"
#include "pixel_formats.h"
#include "plane_layout.h"

namespace pattern_bench {

using namespace pattern;

namespace {

constexpr size_t page = 4096;

size_t round_to_page(uint64_t bytes) {
    return std::max<size_t>(page, (bytes + page - 1) / page * page);
}

struct FreeDeleter {
    void operator()(uint8_t *p) const { std::free(p); }
};

// Page-aligned like a framebuffer mapping, and touched once so that page
// faults stay out of the timings.
std::unique_ptr<uint8_t, FreeDeleter> make_buffer(size_t bytes) {
    std::unique_ptr<uint8_t, FreeDeleter> buffer(
        static_cast<uint8_t *>(std::aligned_alloc(page, round_to_page(bytes))));
    if (!buffer)
        throw std::bad_alloc();
    std::memset(buffer.get(), 0, round_to_page(bytes));
    return buffer;
}

// The cold runs' memory, shared by every case: twice the last-level cache
// and at least four sets of the largest planes, so that every set has left
// the cache before it is written again.
std::span<uint8_t> cold_arena() {
    static const auto arena = [] {
        long llc = sysconf(_SC_LEVEL3_CACHE_SIZE);
        if (llc <= 0)
            llc = 64L << 20;
        const size_t largest_set = size_t{3840} * 2160 * 8 + page;
        const size_t bytes = std::max<size_t>(2 * static_cast<size_t>(llc), 4 * largest_set);
        return std::pair{make_buffer(bytes), bytes};
    }();
    return {arena.first.get(), arena.second};
}

// The baselines: the same number of bytes as the pattern writes, through
// one of three store routines. The stored bytes come through a volatile
// pointer, so the compiler can neither fold the loops into memset nor
// into byte stores.
constexpr uint8_t store_bytes[32] = {1,   8,   15,  22,  29,  36,  43,  50,  57,  64,  71,
                                     78,  85,  92,  99,  106, 113, 120, 127, 134, 141, 148,
                                     155, 162, 169, 176, 183, 190, 197, 204, 211, 218};
const uint8_t *volatile store_source = store_bytes;

void memset_fill(uint8_t *dst, size_t bytes) {
    std::memset(dst, 0x5A, bytes);
}

void sse2_loop(uint8_t *dst, size_t bytes) {
    using Block16 = uint8_t __attribute__((vector_size(16)));
    const uint8_t *block = store_source;
    Block16 low, high;
    std::memcpy(&low, block, 16);
    std::memcpy(&high, block + 16, 16);
    size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        std::memcpy(dst + i, &low, 16);
        std::memcpy(dst + i + 16, &high, 16);
    }
    std::memcpy(dst + i, block, bytes - i);
}

#if defined(__x86_64__)
// With Prefetch, each line is asked for a page ahead as the pattern's own
// stores do: not a baseline, but it shows how much of a cold lead over the
// baselines is that prefetch.
template <bool Prefetch>
__attribute__((target("avx2"))) void avx2_loop(uint8_t *dst, size_t bytes) {
    using Block32 = uint8_t __attribute__((vector_size(32)));
    const uint8_t *block = store_source;
    Block32 v;
    std::memcpy(&v, block, 32);
    size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        if constexpr (Prefetch)
            __builtin_prefetch(reinterpret_cast<const void *>(
                                   reinterpret_cast<uintptr_t>(dst + i) + 4096),
                               0, 3);
        std::memcpy(dst + i, &v, 32);
        std::memcpy(dst + i + 32, &v, 32);
    }
    for (; i + 32 <= bytes; i += 32)
        std::memcpy(dst + i, &v, 32);
    std::memcpy(dst + i, block, bytes - i);
}

bool has_avx2() {
    return __builtin_cpu_supports("avx2");
}
#else
template <bool Prefetch>
void avx2_loop(uint8_t *, size_t) {}

bool has_avx2() {
    return false;
}
#endif

using Fill = void (*)(uint8_t *, size_t);

using clock = std::chrono::steady_clock;

double seconds_since(clock::time_point start) {
    return std::chrono::duration<double>(clock::now() - start).count();
}

// One set of planes at a base address, each plane starting on a page.
struct PlaneSet {
    std::array<size_t, 3> offsets{};
    size_t bytes = 0;

    explicit PlaneSet(const PlaneLayout &layout) {
        for (uint32_t i = 0; i < layout.count; ++i) {
            offsets[i] = bytes;
            bytes += round_to_page(layout.bytes[i]);
        }
    }

    PlanePointers at(uint8_t *base) const {
        return {base + offsets[0], base + offsets[1], base + offsets[2]};
    }
};

} // namespace

void register_case(TestPattern pattern, const char *format_name, uint32_t width, uint32_t height) {
    const uint32_t fourcc = pixel_format_from_name(format_name);
    const PixelFormatInfo *format = find_pixel_format(fourcc);
    if (format == nullptr)
        throw std::invalid_argument(std::string("no pixel format ") + format_name);
    const auto stride = static_cast<uint32_t>(tightest_stride(*format, width));
    const PlaneLayout layout = plane_layout(*format, width, height, stride);
    // The plain pattern writes plane 0 only; the others every used plane.
    const uint32_t written_planes = pattern == TestPattern::plain ? 1 : layout.count;
    uint64_t written = 0;
    for (uint32_t i = 0; i < written_planes; ++i)
        written += layout.bytes[i];

    const std::string name = std::string(pattern_name(pattern)) + "/" + format_name + "/" +
                             std::to_string(width) + "x" + std::to_string(height);
    for (const bool cold : {false, true}) {
        benchmark::RegisterBenchmark(
            (name + (cold ? "/cold" : "/hot")).c_str(),
            [=](benchmark::State &state) {
                const PlaneSet set(layout);
                std::unique_ptr<uint8_t, FreeDeleter> hot_buffer;
                std::span<uint8_t> ring;
                if (cold)
                    ring = cold_arena();
                else
                    hot_buffer = make_buffer(set.bytes);
                const size_t ring_sets = cold ? ring.size() / set.bytes : 1;
                size_t next = 0;
                auto next_planes = [&] {
                    uint8_t *base = cold ? ring.data() + next * set.bytes : hot_buffer.get();
                    next = (next + 1) % ring_sets;
                    return set.at(base);
                };
                std::vector<Fill> baselines{memset_fill, sse2_loop};
                if (has_avx2())
                    baselines.push_back(avx2_loop<false>);
                const size_t baseline_count = baselines.size();
                if (has_avx2())
                    baselines.push_back(avx2_loop<true>);
                // Each round times the pattern and then every baseline (and
                // the prefetching loop) over the same bytes, so that all see
                // the same machine load.
                std::vector<double> baseline_seconds(baselines.size(), 0.0);
                double pattern_seconds = 0;
                for (auto _ : state) {
                    const PlanePointers planes = next_planes();
                    const auto start = clock::now();
                    fill_test_pattern(fourcc, pattern, planes, width, height, stride);
                    benchmark::ClobberMemory();
                    const double took = seconds_since(start);
                    state.SetIterationTime(took);
                    pattern_seconds += took;
                    for (size_t b = 0; b < baselines.size(); ++b) {
                        const PlanePointers target = next_planes();
                        const auto baseline_start = clock::now();
                        for (uint32_t i = 0; i < written_planes; ++i)
                            baselines[b](target[i], layout.bytes[i]);
                        benchmark::ClobberMemory();
                        baseline_seconds[b] += seconds_since(baseline_start);
                    }
                }
                state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
                state.counters["vs_baseline"] =
                    *std::min_element(baseline_seconds.begin(),
                                      baseline_seconds.begin() + baseline_count) /
                    pattern_seconds;
                if (baselines.size() > baseline_count)
                    state.counters["vs_prefetching_loop"] =
                        baseline_seconds[baseline_count] / pattern_seconds;
            })
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
    }
}

} // namespace pattern_bench
