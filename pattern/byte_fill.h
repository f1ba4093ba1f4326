// SPDX-License-Identifier: MIT
// Stores runs of one repeated pixel straight from vector registers, and the
// rows of a band that all look alike. Pixels are given byte by byte, so the
// memory layout never depends on the host's byte order, and the buffer is
// only ever written, front to back: scan-out memory is often write-combined
// and slow or uncached for reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace pattern {

// The bytes of one pixel, least significant first.
template <size_t N>
using PixelBytes = std::array<uint8_t, N>;

template <size_t N>
constexpr PixelBytes<N> little_endian_bytes(uint64_t value) {
    PixelBytes<N> bytes{};
    for (size_t i = 0; i < N; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

// A pixel of 1, 2, 3, 4 or 8 bytes (or a 4-byte packed YUV pair) repeated
// over 128 bytes. Every such size divides 24, so the 96 bytes (three 32-byte
// registers) from any offset below 24 continue a run whose bytes so far
// are a multiple of 24 plus that offset: the registers are loaded, never
// assembled, for each run, whatever the alignment the stores start from.
struct RepeatedPixel {
    alignas(32) std::array<uint8_t, 128> bytes{};
};

// Drawing builds a few dozen of these per picture: counted through the
// pixel's bytes, without a division per byte.
constexpr RepeatedPixel repeat_pixel(const uint8_t *pixel, size_t size) {
    RepeatedPixel repeated;
    size_t at = 0;
    for (uint8_t &byte : repeated.bytes) {
        byte = pixel[at];
        at = at + 1 == size ? 0 : at + 1;
    }
    return repeated;
}

template <size_t N>
constexpr RepeatedPixel repeat_pixel(const PixelBytes<N> &pixel) {
    static_assert(24 % N == 0, "the pixel size must divide 24");
    return repeat_pixel(pixel.data(), N);
}

// `size` bytes of `value`, least significant first, repeated.
constexpr RepeatedPixel repeat_value(uint64_t value, size_t size) {
    const PixelBytes<8> bytes = little_endian_bytes<8>(value);
    return repeat_pixel(bytes.data(), size);
}

// `bytes` bytes of a run of whole pixels from row + offset on.
struct ByteRun {
    uint64_t offset;
    uint64_t bytes;
    const RepeatedPixel *pixel;
};

// Stores `bytes` bytes (whole pixels) of `pixel` from dst on and nothing
// past them: whole vector stores, the run's end covered by one store that
// overlaps the one before it.
void store_repeated(uint8_t *dst, uint64_t bytes, const RepeatedPixel &pixel);

// Stores every run of `runs` into the row, in order.
void store_runs(uint8_t *row, std::span<const ByteRun> runs);

// Stores `count` runs of run_bytes bytes each back to back from dst on, the
// k-th of them of pixels[k], whose pixels are pixel_bytes long.
void store_run_sequence(uint8_t *dst, const RepeatedPixel *pixels, size_t count,
                        uint64_t run_bytes, uint32_t pixel_bytes);

// Copies `bytes` bytes from src (which they must not overlap) to dst, in
// the same pure, front-to-back stream of stores as a run.
void store_copy(uint8_t *dst, const uint8_t *src, uint64_t bytes);

// Rows [first, end) of a plane, `step` bytes apart, that all look alike:
// `draw_row(row)` draws each of them in place, top to bottom, so that rows
// that overlap (a step below the row's bytes) end as drawn last.
template <typename DrawRow>
void draw_equal_rows(uint8_t *plane, uint64_t step, uint32_t first, uint32_t end,
                     DrawRow draw_row) {
    for (uint64_t y = first; y < end; ++y)
        draw_row(plane + y * step);
}

} // namespace pattern
