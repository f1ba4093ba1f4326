#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "pixel_formats.h"
#include "plane_layout.h"

namespace pattern_bench {

using namespace pattern;

namespace {

struct FreeDeleter {
    void operator()(uint8_t *p) const { std::free(p); }
};
using AlignedBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Page-aligned like a framebuffer mapping, and touched once so that page
// faults stay out of the timings.
AlignedBuffer make_buffer(size_t bytes) {
    constexpr size_t page = 4096;
    const size_t rounded = std::max<size_t>(page, (bytes + page - 1) / page * page);
    AlignedBuffer buffer(static_cast<uint8_t *>(std::aligned_alloc(page, rounded)));
    if (!buffer)
        throw std::bad_alloc();
    std::memset(buffer.get(), 0, rounded);
    return buffer;
}

// A simple vectorised store loop: 32 bytes per step as two 16-byte vector
// stores, then the tail. The block is read through a volatile pointer, so the
// compiler can neither fold it into byte stores nor turn the loop into memset.
void store_loop(uint8_t *dst, size_t bytes) {
    typedef uint8_t block16 __attribute__((vector_size(16)));
    static constexpr uint8_t pattern[32] = {1,   8,   15,  22,  29,  36,  43,  50,  57,  64,  71,
                                            78,  85,  92,  99,  106, 113, 120, 127, 134, 141, 148,
                                            155, 162, 169, 176, 183, 190, 197, 204, 211, 218};
    static const uint8_t *volatile source = pattern;
    const uint8_t *block = source;
    block16 low, high;
    std::memcpy(&low, block, 16);
    std::memcpy(&high, block + 16, 16);
    size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        std::memcpy(dst + i, &low, 16);
        std::memcpy(dst + i + 16, &high, 16);
    }
    std::memcpy(dst + i, block, bytes - i);
}

void memset_fill(uint8_t *dst, size_t bytes) {
    std::memset(dst, 0x5A, bytes);
}

using clock = std::chrono::steady_clock;

double seconds_since(clock::time_point start) {
    return std::chrono::duration<double>(clock::now() - start).count();
}

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
    benchmark::RegisterBenchmark(
        name.c_str(),
        [=](benchmark::State &state) {
            std::array<AlignedBuffer, 3> buffers;
            PlanePointers planes{};
            for (uint32_t i = 0; i < layout.count; ++i) {
                buffers[i] = make_buffer(layout.bytes[i]);
                planes[i] = buffers[i].get();
            }
            // The baselines run in every iteration, right after the pattern and
            // over the same planes, so that both see the same machine load and
            // cache state; only the pattern's time is reported as the case's.
            auto run_baseline = [&](void (*fill)(uint8_t *, size_t)) {
                const auto start = clock::now();
                for (uint32_t i = 0; i < written_planes; ++i)
                    fill(planes[i], layout.bytes[i]);
                benchmark::ClobberMemory();
                return seconds_since(start);
            };
            double pattern_seconds = 0, memset_seconds = 0, loop_seconds = 0;
            for (auto _ : state) {
                const auto start = clock::now();
                fill_test_pattern(fourcc, pattern, planes, width, height, stride);
                benchmark::ClobberMemory();
                const double took = seconds_since(start);
                state.SetIterationTime(took);
                pattern_seconds += took;
                memset_seconds += run_baseline(memset_fill);
                loop_seconds += run_baseline(store_loop);
            }
            state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
            state.counters["vs_baseline"] =
                std::min(memset_seconds, loop_seconds) / pattern_seconds;
        })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
}

void register_baselines(size_t bytes, const char *label) {
    auto add = [&](const char *what, void (*fill)(uint8_t *, size_t)) {
        const std::string name = std::string("baseline/") + what + "/" + label;
        benchmark::RegisterBenchmark(name.c_str(),
                                     [=](benchmark::State &state) {
                                         AlignedBuffer buffer = make_buffer(bytes);
                                         for (auto _ : state) {
                                             fill(buffer.get(), bytes);
                                             benchmark::ClobberMemory();
                                         }
                                         state.SetBytesProcessed(
                                             static_cast<int64_t>(state.iterations() * bytes));
                                     })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    };
    add("memset", memset_fill);
    add("store_loop", store_loop);
}

} // namespace pattern_bench
