// The vector stores behind byte_fill.h. Written with the compiler's generic
// vector types, so the same code builds for any target; on x86-64 with GCC
// a second copy is built for AVX2 and picked at load time when the CPU has
// it, so the binary still runs on every x86-64.
#include "byte_fill.h"

#include <cstring>

namespace pattern {
namespace {

using Words4 = uint64_t __attribute__((vector_size(32)));
using Words2 = uint64_t __attribute__((vector_size(16)));

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PATTERN_MULTI_VERSIONED __attribute__((target_clones("avx2", "default")))
#else
#define PATTERN_MULTI_VERSIONED
#endif

template <typename Vector>
[[gnu::always_inline]] inline void store(uint8_t *dst, const Vector &v) {
    std::memcpy(dst, &v, sizeof v);
}

// The words are moved, never computed on, so their bytes stay in memory
// order on every host.
[[gnu::always_inline]] inline void store_repeated_inline(uint8_t *dst, uint64_t bytes,
                                                         const RepeatedPixel &pixel) {
    uint64_t w[3];
    std::memcpy(w, pixel.bytes.data(), sizeof w);
    if (bytes >= 32) {
        // Three registers cover 96 bytes, a whole number of pixels of any
        // size; the last store ends at the run's end, 16 bytes (a whole
        // number of pixels modulo 24) into the pattern.
        const Words4 r0{w[0], w[1], w[2], w[0]};
        const Words4 r1{w[1], w[2], w[0], w[1]};
        const Words4 r2{w[2], w[0], w[1], w[2]};
        uint64_t at = 0;
        for (; at + 96 <= bytes; at += 96) {
            store(dst + at, r0);
            store(dst + at + 32, r1);
            store(dst + at + 64, r2);
        }
        if (at + 32 <= bytes)
            store(dst + at, r0);
        if (at + 64 <= bytes)
            store(dst + at + 32, r1);
        if (at != bytes)
            store(dst + bytes - 32, r2);
        return;
    }
    if (bytes >= 16) {
        store(dst, Words2{w[0], w[1]});
        store(dst + bytes - 16, Words2{w[1], w[2]});
        return;
    }
    if (bytes >= 8) {
        std::memcpy(dst, &w[0], 8);
        std::memcpy(dst + bytes - 8, &w[2], 8);
        return;
    }
    for (uint64_t i = 0; i < bytes; ++i)
        dst[i] = pixel.bytes[i];
}

} // namespace

PATTERN_MULTI_VERSIONED
void store_repeated(uint8_t *dst, uint64_t bytes, const RepeatedPixel &pixel) {
    store_repeated_inline(dst, bytes, pixel);
}

PATTERN_MULTI_VERSIONED
void store_runs(uint8_t *row, std::span<const ByteRun> runs) {
    for (const ByteRun &run : runs)
        store_repeated_inline(row + run.offset, run.bytes, *run.pixel);
}

} // namespace pattern
