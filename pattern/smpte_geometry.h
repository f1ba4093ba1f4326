// SPDX-License-Identifier: MIT
// Band rows and bar columns of the SMPTE colour-bar picture, shared by the
// RGB/C8 and the YUV drawing routines so that every format shows the same
// picture.
//
// Rows: top band [0, top_end), middle band [top_end, middle_end), bottom band
// [middle_end, height).
// Columns of the top and middle bands: column x shows entry x * 7 / width.
// Columns of the bottom band, with X1 = width * 5 / 7, X2 = width * 6 / 7 and
// N = width / 7:
//   x < X1        entry x * 4 / X1                 (0..3)
//   X1 <= x < X2  entry (x - X1) * 3 / N + 4       (4..6, 7 for the last
//                                                   column when the segment
//                                                   is N + 1 wide)
//   x >= X2       entry 7
//
// Widths 4, 5 and 6: the X1..X2 segment is one column (2, 3 or 4) while N is
// 0. That column is never computed by dividing by N: it shows entry 7, the
// same as the last column of an N + 1 wide segment at every other width with
// width mod 7 in {4, 5, 6}. (Entry 7 is black like entry 5; only C8, which
// stores the entry number, can tell them apart: it gets index 21.)
// The YUV routines must make the same choice; they do when they use
// smpte_bottom_entry() or smpte_bottom_runs() below.
//
// Column products are formed in 64 bits. For every width below 2^32 / 7 this
// is exactly the 32-bit arithmetic of the formulas above; beyond that (a
// single row of more than 613 million pixels) the 32-bit product would wrap
// and scramble the bars, which the 64-bit form avoids.
#pragma once

#include <array>
#include <cstdint>

namespace pattern {

// Number of entries in the colour tables of each band.
inline constexpr uint32_t smpte_bar_count = 7;    // top and middle bands
inline constexpr uint32_t smpte_bottom_count = 8; // bottom band

struct SmpteBandRows {
    uint32_t top_end;    // first row after the top band (Y1)
    uint32_t middle_end; // first row after the middle band (Y2)
};

// Y1 = height * 6 / 9 and Y2 = height * 7 / 9 in 32-bit arithmetic. A band
// whose end is not beyond the row reached so far is empty, so middle_end is
// never below top_end and neither passes height.
constexpr SmpteBandRows smpte_band_rows(uint32_t height) {
    uint32_t y1 = height * 6 / 9;
    uint32_t y2 = height * 7 / 9;
    if (y1 > height)
        y1 = height;
    if (y2 < y1)
        y2 = y1;
    if (y2 > height)
        y2 = height;
    return {y1, y2};
}

// Entry of column x in the top and middle bands, 0..6. width must be > x.
constexpr uint32_t smpte_bar_entry(uint32_t x, uint32_t width) {
    return static_cast<uint32_t>(uint64_t{x} * 7 / width);
}

struct SmpteBottomColumns {
    uint32_t x1;     // first column of the narrow steps
    uint32_t x2;     // first column of the closing black
    uint32_t narrow; // N = width / 7, the nominal width of the narrow segment
};

constexpr SmpteBottomColumns smpte_bottom_columns(uint32_t width) {
    return {static_cast<uint32_t>(uint64_t{width} * 5 / 7),
            static_cast<uint32_t>(uint64_t{width} * 6 / 7), width / 7};
}

// Entry of column x in the bottom band, 0..7. width must be > x.
constexpr uint32_t smpte_bottom_entry(uint32_t x, uint32_t width) {
    const SmpteBottomColumns c = smpte_bottom_columns(width);
    if (x < c.x1)
        return static_cast<uint32_t>(uint64_t{x} * 4 / c.x1);
    if (x < c.x2) {
        if (c.narrow == 0)
            return 7; // widths 4, 5, 6: see the header comment
        const uint64_t step = uint64_t{x - c.x1} * 3 / c.narrow;
        return static_cast<uint32_t>(step + 4);
    }
    return 7;
}

// A run of columns [begin, end) that show one table entry.
struct SmpteRun {
    uint32_t begin;
    uint32_t end;
    uint32_t entry;
};

// The non-empty runs of one row, left to right, covering [0, width).
struct SmpteRowRuns {
    std::array<SmpteRun, 9> runs{};
    uint32_t count = 0;

    constexpr void add(uint32_t begin, uint32_t end, uint32_t entry) {
        if (end > begin)
            runs[count++] = {begin, end, entry};
    }
    constexpr const SmpteRun *begin() const { return runs.data(); }
    constexpr const SmpteRun *end() const { return runs.data() + count; }
};

namespace smpte_detail {

// Smallest x >= 0 with x * num / den >= k, i.e. ceil(k * den / num).
constexpr uint32_t first_column_reaching(uint64_t k, uint64_t den, uint64_t num) {
    return static_cast<uint32_t>((k * den + num - 1) / num);
}

} // namespace smpte_detail

// Runs of the top and middle bands: entries 0..6, the same for both bands.
constexpr SmpteRowRuns smpte_bar_runs(uint32_t width) {
    SmpteRowRuns row;
    for (uint32_t e = 0; e < smpte_bar_count; ++e)
        row.add(smpte_detail::first_column_reaching(e, width, 7),
                smpte_detail::first_column_reaching(e + 1, width, 7), e);
    return row;
}

// Runs of the bottom band: entries 0..3 over [0, X1), 4..6 (and possibly 7)
// over [X1, X2), 7 over [X2, width).
constexpr SmpteRowRuns smpte_bottom_runs(uint32_t width) {
    const SmpteBottomColumns c = smpte_bottom_columns(width);
    SmpteRowRuns row;
    for (uint32_t e = 0; e < 4; ++e)
        row.add(smpte_detail::first_column_reaching(e, c.x1, 4),
                smpte_detail::first_column_reaching(e + 1, c.x1, 4), e);
    if (c.narrow == 0) {
        row.add(c.x1, c.x2, 7);
    } else {
        // Step k (entry 4 + k) starts where (x - X1) * 3 / N reaches k; k = 3
        // exists only when the segment is N + 1 columns wide.
        for (uint32_t k = 0; k < 4; ++k) {
            const uint32_t begin = c.x1 + smpte_detail::first_column_reaching(k, c.narrow, 3);
            uint32_t end = c.x1 + smpte_detail::first_column_reaching(k + 1, c.narrow, 3);
            if (begin >= c.x2)
                break;
            if (end > c.x2)
                end = c.x2;
            row.add(begin, end, 4 + k);
        }
    }
    row.add(c.x2, width, 7);
    return row;
}

} // namespace pattern
