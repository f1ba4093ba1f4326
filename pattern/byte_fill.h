// Stores runs of identical pixels and runs of identical rows. Pixels are
// given byte by byte, so the memory layout never depends on the host's byte
// order, and the buffer is never read back.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Room for one row drawn ahead in local memory and then copied into the
// buffer: copies from a small local line run near memory speed.
inline constexpr size_t scratch_line_bytes = 32 * 1024;

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

// Stores `count` copies of `pixel` from dst on, and nothing past them.
template <size_t N>
inline void fill_pixels(uint8_t *dst, const PixelBytes<N> &pixel, size_t count) {
    if constexpr (N == 1) {
        std::memset(dst, pixel[0], count);
    } else {
        // Whole pixels per block, at least 32 bytes, so that the block
        // copies become a few wide stores.
        constexpr size_t block_bytes = N * ((32 + N - 1) / N);
        const size_t bytes = count * N;
        if (bytes < block_bytes) {
            for (size_t i = 0; i < count; ++i)
                std::memcpy(dst + i * N, pixel.data(), N);
            return;
        }
        uint8_t block[block_bytes];
        for (size_t i = 0; i < block_bytes; ++i)
            block[i] = pixel[i % N];
        size_t at = 0;
        for (; at + block_bytes <= bytes; at += block_bytes)
            std::memcpy(dst + at, block, block_bytes);
        // The tail: one more block ending at the run's end. It starts on a
        // pixel boundary, so it rewrites the bytes it overlaps unchanged.
        if (at != bytes)
            std::memcpy(dst + bytes - block_bytes, block, block_bytes);
    }
}

// Stores samples [first, last) of one chroma row, sample k at byte
// k x chroma_stride of both component rows. Where Cb and Cr alternate in one
// plane the pair is stored as one 2-byte pixel.
inline void fill_chroma_samples(uint8_t *cb_row, uint8_t *cr_row, uint32_t chroma_stride,
                                uint32_t first, uint32_t last, uint8_t cb, uint8_t cr) {
    if (first >= last)
        return;
    const size_t count = last - first;
    const uint64_t at = uint64_t{first} * chroma_stride;
    if (chroma_stride == 1) {
        fill_pixels(cb_row + at, PixelBytes<1>{cb}, count);
        fill_pixels(cr_row + at, PixelBytes<1>{cr}, count);
    } else if (chroma_stride == 2 && cr_row == cb_row + 1) {
        fill_pixels(cb_row + at, PixelBytes<2>{cb, cr}, count);
    } else if (chroma_stride == 2 && cb_row == cr_row + 1) {
        fill_pixels(cr_row + at, PixelBytes<2>{cr, cb}, count);
    } else {
        for (uint64_t i = at; i < at + uint64_t{count} * chroma_stride; i += chroma_stride) {
            cb_row[i] = cb;
            cr_row[i] = cr;
        }
    }
}

// Rows [first, end) of a plane, `step` bytes apart, that all look alike:
// `draw_row(row)` draws one of them into local memory, which is then copied
// to each row, top to bottom. Rows too wide for the scratch line are drawn
// one by one in place.
template <typename DrawRow>
void draw_equal_rows(uint8_t *plane, uint64_t step, uint32_t first, uint32_t end, size_t row_bytes,
                     DrawRow draw_row) {
    if (first >= end)
        return;
    if (row_bytes > scratch_line_bytes) {
        for (uint32_t y = first; y < end; ++y)
            draw_row(plane + y * step);
        return;
    }
    uint8_t line[scratch_line_bytes];
    draw_row(line);
    if (step != row_bytes || row_bytes == 0) {
        for (uint32_t y = first; y < end; ++y)
            std::memcpy(plane + y * step, line, row_bytes);
        return;
    }
    // Rows without padding are one contiguous run of bytes: copy as many
    // rows at once as the scratch line holds.
    const uint32_t rows_per_copy =
        static_cast<uint32_t>(std::min<uint64_t>(scratch_line_bytes / row_bytes, end - first));
    for (uint32_t i = 1; i < rows_per_copy; ++i)
        std::memcpy(line + i * row_bytes, line, row_bytes);
    for (uint32_t y = first; y < end; y += rows_per_copy) {
        const uint32_t rows = std::min(rows_per_copy, end - y);
        std::memcpy(plane + y * step, line, rows * row_bytes);
    }
}
