#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "pixel_formats.h"
#include "plane_layout.h"

namespace pattern_bench {

namespace {

struct FreeDeleter {
    void operator()(uint8_t *p) const { std::free(p); }
};
using AlignedBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Page-aligned like a framebuffer mapping, and touched once so that page
// faults stay out of the timings.
AlignedBuffer make_buffer(size_t bytes)
{
    constexpr size_t page = 4096;
    const size_t rounded = std::max<size_t>(page, (bytes + page - 1) / page * page);
    AlignedBuffer buffer(static_cast<uint8_t *>(std::aligned_alloc(page, rounded)));
    if (!buffer)
        throw std::bad_alloc();
    std::memset(buffer.get(), 0, rounded);
    return buffer;
}

// A simple vectorised store loop: 32-byte blocks, then the tail. The block's
// bytes differ so that the compiler cannot turn the loop into memset.
void store_loop(uint8_t *dst, size_t bytes)
{
    typedef uint8_t block32 __attribute__((vector_size(32)));
    block32 block;
    for (int i = 0; i < 32; ++i)
        block[i] = static_cast<uint8_t>(i * 7 + 1);
    size_t i = 0;
    for (; i + 32 <= bytes; i += 32)
        __builtin_memcpy(dst + i, &block, 32);
    for (; i < bytes; ++i)
        dst[i] = static_cast<uint8_t>(i);
}

void memset_fill(uint8_t *dst, size_t bytes)
{
    std::memset(dst, 0x5A, bytes);
}

double best_rate(void (*fill)(uint8_t *, size_t), uint8_t *dst, size_t bytes)
{
    using clock = std::chrono::steady_clock;
    double best = 0;
    // Enough repetitions for about 0.3 s of stores, at least 10.
    const size_t rounds = std::max<size_t>(10, size_t{3} * 1000 * 1000 * 1000 / 10 / std::max<size_t>(bytes, 1));
    for (size_t r = 0; r < rounds; ++r) {
        const auto start = clock::now();
        fill(dst, bytes);
        benchmark::ClobberMemory();
        const std::chrono::duration<double> took = clock::now() - start;
        best = std::max(best, static_cast<double>(bytes) / took.count());
    }
    return best;
}

} // namespace

double baseline_bytes_per_second(size_t bytes)
{
    static std::mutex lock;
    static std::map<size_t, double> measured;
    const std::lock_guard<std::mutex> guard(lock);
    if (auto it = measured.find(bytes); it != measured.end())
        return it->second;
    AlignedBuffer buffer = make_buffer(bytes);
    const double rate = std::max(best_rate(memset_fill, buffer.get(), bytes),
                                 best_rate(store_loop, buffer.get(), bytes));
    measured[bytes] = rate;
    return rate;
}

void register_case(TestPattern pattern, const char *format_name, uint32_t width, uint32_t height)
{
    const uint32_t fourcc = pixel_format_from_name(format_name);
    const PixelFormatInfo *format = find_pixel_format(fourcc);
    if (format == nullptr)
        throw std::invalid_argument(std::string("no pixel format ") + format_name);
    const auto stride = static_cast<uint32_t>(tightest_stride(*format, width));
    const PlaneLayout layout = plane_layout(*format, width, height, stride);
    // The plain pattern writes plane 0 only; the others every used plane.
    uint64_t written = layout.bytes[0];
    if (pattern != TestPattern::plain)
        for (uint32_t i = 1; i < layout.count; ++i)
            written += layout.bytes[i];

    const std::string name = std::string(pattern_name(pattern)) + "/" + format_name + "/" +
                             std::to_string(width) + "x" + std::to_string(height);
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State &state) {
        std::array<AlignedBuffer, 3> buffers;
        PlanePointers planes{};
        for (uint32_t i = 0; i < layout.count; ++i) {
            buffers[i] = make_buffer(layout.bytes[i]);
            planes[i] = buffers[i].get();
        }
        const double baseline = baseline_bytes_per_second(written);
        for (auto _ : state) {
            fill_test_pattern(fourcc, pattern, planes, width, height, stride);
            benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
        // (written / baseline) per iteration, times iterations, over seconds:
        // the case's rate divided by the baseline's.
        state.counters["vs_baseline"] = benchmark::Counter(
            static_cast<double>(written) / baseline, benchmark::Counter::kIsIterationInvariantRate);
    })->Unit(benchmark::kMillisecond)->UseRealTime();
}

void register_baselines(size_t bytes, const char *label)
{
    auto add = [&](const char *what, void (*fill)(uint8_t *, size_t)) {
        const std::string name = std::string("baseline/") + what + "/" + label;
        benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State &state) {
            AlignedBuffer buffer = make_buffer(bytes);
            for (auto _ : state) {
                fill(buffer.get(), bytes);
                benchmark::ClobberMemory();
            }
            state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
        })->Unit(benchmark::kMillisecond)->UseRealTime();
    };
    add("memset", memset_fill);
    add("store_loop", store_loop);
}

} // namespace pattern_bench
