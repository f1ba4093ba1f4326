// SPDX-License-Identifier: MIT
// The vector stores behind byte_fill.h. Written with the compiler's generic
// vector types, so the same code builds for any target; on x86-64 with GCC
// a second copy is built for AVX2 and picked at load time when the CPU has
// it, so the binary still runs on every x86-64.
#include "byte_fill.h"

#include <cstdint>
#include <cstring>

namespace pattern {
namespace {

using Words4 = uint64_t __attribute__((vector_size(32)));

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PATTERN_MULTI_VERSIONED __attribute__((target_clones("avx2", "default")))
#else
#define PATTERN_MULTI_VERSIONED
#endif

template <typename Vector>
[[gnu::always_inline]] inline void store(uint8_t *dst, const Vector &v) {
    std::memcpy(dst, &v, sizeof v);
}

// A buffer that is not in cache (a scan-out buffer seldom is) makes every
// store of a new line wait for the cache to fetch that line first, one line
// after another. Asking for the line a few pages ahead keeps many fetches
// in flight at once; on an x86 read prefetch the line arrives exclusive, so
// the store needs no second request. Prefetches are hints: they never fault,
// and the CPU drops them for write-combined and uncached memory, so a
// scan-out mapping is still never read. The address is formed as an
// integer, since it may lie past the end of the buffer.
constexpr uintptr_t prefetch_distance = 4096;

[[gnu::always_inline]] inline void prefetch_ahead(const uint8_t *p) {
    __builtin_prefetch(
        reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(p) + prefetch_distance), 0, 3);
}

// The bytes are moved, never computed on, so they stay in memory order on
// every host. A run's last store ends on a whole pixel, so it needs the
// phase -32 modulo 24 for 32 bytes (found at offset 64), -16 for 16 bytes
// (at 32), -8 for 8 bytes (at 16), and so on.
[[gnu::always_inline]] inline void store_repeated_inline(uint8_t *dst, uint64_t bytes,
                                                         const RepeatedPixel &pixel) {
    const uint8_t *p = pixel.bytes.data();
    if (bytes >= 64) {
        // One unaligned store for the head, then 32-byte aligned stores, so
        // that no store but the first and the last splits a cache line.
        Words4 head;
        std::memcpy(&head, p, 32);
        store(dst, head);
        const uint64_t skip = 32 - (reinterpret_cast<uintptr_t>(dst) & 31);
        const uint8_t *q = p + skip % 24;
        Words4 r0, r1, r2, tail;
        std::memcpy(&r0, q, 32);
        std::memcpy(&r1, q + 32, 32);
        std::memcpy(&r2, q + 64, 32);
        std::memcpy(&tail, p + 64, 32);
        prefetch_ahead(dst);
        uint64_t at = skip;
        // Two requests per 96 bytes: one the busy CPU drops gets a second chance.
        for (; at + 96 <= bytes; at += 96) {
            prefetch_ahead(dst + at);
            prefetch_ahead(dst + at + 64);
            store(dst + at, r0);
            store(dst + at + 32, r1);
            store(dst + at + 64, r2);
        }
        prefetch_ahead(dst + at);
        if (at + 32 <= bytes)
            store(dst + at, r0);
        if (at + 64 <= bytes)
            store(dst + at + 32, r1);
        prefetch_ahead(dst + bytes - 32);
        store(dst + bytes - 32, tail);
        return;
    }
    if (bytes >= 32) {
        Words4 head, tail;
        std::memcpy(&head, p, 32);
        std::memcpy(&tail, p + 64, 32);
        prefetch_ahead(dst);
        prefetch_ahead(dst + bytes - 32);
        store(dst, head);
        store(dst + bytes - 32, tail);
        return;
    }
    prefetch_ahead(dst);
    if (bytes >= 16) {
        std::memcpy(dst, p, 16);
        std::memcpy(dst + bytes - 16, p + 32, 16);
        return;
    }
    if (bytes >= 8) {
        std::memcpy(dst, p, 8);
        std::memcpy(dst + bytes - 8, p + 16, 8);
        return;
    }
    // Below 8 bytes the pixel is 1, 2, 3 or 4 bytes long, and the phases
    // -4 and -2 modulo 24 sit at 20 and 22.
    if (bytes >= 4) {
        std::memcpy(dst, p, 4);
        std::memcpy(dst + bytes - 4, p + 20, 4);
        return;
    }
    if (bytes >= 2) {
        std::memcpy(dst, p, 2);
        std::memcpy(dst + bytes - 2, p + 22, 2);
        return;
    }
    if (bytes == 1)
        dst[0] = p[0];
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

PATTERN_MULTI_VERSIONED
void store_run_sequence(uint8_t *dst, const RepeatedPixel *pixels, size_t count,
                        uint64_t run_bytes, uint32_t pixel_bytes) {
    if (run_bytes % 32 != 0 || 32 % pixel_bytes != 0) {
        for (size_t k = 0; k < count; ++k)
            store_repeated_inline(dst + k * run_bytes, run_bytes, pixels[k]);
        return;
    }
    // Runs of whole 32-byte blocks of a pixel that divides 32 (the tiles of
    // the 1-, 2-, 4- and 8-byte formats): every block of a run is the first
    // 32 bytes of its repeated pixel, so each run is one load and plain
    // stores, without the edge handling a run of any length needs.
    for (size_t k = 0; k < count; ++k) {
        Words4 block;
        std::memcpy(&block, pixels[k].bytes.data(), 32);
        uint8_t *run = dst + k * run_bytes;
        for (uint64_t at = 0; at < run_bytes; at += 64) {
            prefetch_ahead(run + at);
            store(run + at, block);
            if (at + 32 < run_bytes)
                store(run + at + 32, block);
        }
    }
}

PATTERN_MULTI_VERSIONED
void store_copy(uint8_t *dst, const uint8_t *src, uint64_t bytes) {
    if (bytes < 64) {
        std::memcpy(dst, src, bytes);
        return;
    }
    // As for a run: one unaligned store for the head, aligned stores after
    // it, one overlapping store for the end.
    Words4 low, high;
    std::memcpy(&low, src, 32);
    prefetch_ahead(dst);
    store(dst, low);
    uint64_t at = 32 - (reinterpret_cast<uintptr_t>(dst) & 31);
    for (; at + 64 <= bytes; at += 64) {
        prefetch_ahead(dst + at);
        std::memcpy(&low, src + at, 32);
        std::memcpy(&high, src + at + 32, 32);
        store(dst + at, low);
        store(dst + at + 32, high);
    }
    if (at + 32 <= bytes) {
        std::memcpy(&low, src + at, 32);
        store(dst + at, low);
    }
    std::memcpy(&high, src + bytes - 32, 32);
    prefetch_ahead(dst + bytes - 32);
    store(dst + bytes - 32, high);
}

} // namespace pattern
