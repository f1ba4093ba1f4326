// SPDX-License-Identifier: MIT
// Band rows and bar columns of the SMPTE picture.
#include <gtest/gtest.h>

#include <vector>

#include "smpte_geometry.h"
#include "smpte_reference.h"

using namespace pattern;

namespace {

TEST(SmpteGeometry, BandRows) {
    const struct {
        uint32_t height, top_end, middle_end;
    } cases[] = {
        {0, 0, 0}, {1, 0, 0},  {2, 1, 1},       {3, 2, 2},        {5, 3, 3},
        {9, 6, 7}, {10, 6, 7}, {900, 600, 700}, {1080, 720, 840}, {2160, 1440, 1680},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.height);
        const SmpteBandRows rows = smpte_band_rows(c.height);
        EXPECT_EQ(rows.top_end, c.top_end);
        EXPECT_EQ(rows.middle_end, c.middle_end);
    }
}

TEST(SmpteGeometry, BandRowsStayOrderedWhenProductsWrap) {
    // height * 6 and height * 7 wrap at 32 bits for these heights; the bands
    // must still be in order and inside the picture.
    for (uint32_t height : {715827883u, 800000000u, 1000000000u, 4294967295u}) {
        SCOPED_TRACE(height);
        const SmpteBandRows rows = smpte_band_rows(height);
        EXPECT_LE(rows.top_end, rows.middle_end);
        EXPECT_LE(rows.middle_end, height);
    }
}

// Entry of every column of a bottom-band row.
std::vector<uint32_t> bottom_entries(uint32_t width) {
    std::vector<uint32_t> entries;
    for (uint32_t x = 0; x < width; ++x)
        entries.push_back(smpte_bottom_entry(x, width));
    return entries;
}

TEST(SmpteGeometry, BottomBandAtAwkwardWidths) {
    const struct {
        uint32_t width;
        std::vector<uint32_t> entries;
    } cases[] = {
        {1, {7}},
        {2, {0, 7}},
        {3, {0, 2, 7}},
        // Widths 4 to 6: the one narrow-step column shows black, entry 7.
        {4, {0, 2, 7, 7}},
        {5, {0, 1, 2, 7, 7}},
        {6, {0, 1, 2, 3, 7, 7}},
        {7, {0, 0, 1, 2, 3, 4, 7}},
        {13, {0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 7, 7, 7}},
        {14, {0, 0, 0, 1, 1, 2, 2, 2, 3, 3, 4, 5, 7, 7}},
        {21, {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 4, 5, 6, 7, 7, 7}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(bottom_entries(c.width), c.entries);
    }
}

TEST(SmpteGeometry, FullHdRunStarts) {
    const SmpteRowRuns bars = smpte_bar_runs(1920);
    const std::vector<uint32_t> bar_starts{0, 275, 549, 823, 1098, 1372, 1646};
    ASSERT_EQ(bars.count, 7u);
    for (uint32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(bars.runs[i].begin, bar_starts[i]);
        EXPECT_EQ(bars.runs[i].entry, i);
    }
    const SmpteBottomColumns columns = smpte_bottom_columns(1920);
    EXPECT_EQ(columns.x1, 1371u);
    EXPECT_EQ(columns.x2, 1645u);
    EXPECT_EQ(columns.narrow, 274u);
    const SmpteRowRuns bottom = smpte_bottom_runs(1920);
    const std::vector<uint32_t> bottom_starts{0, 343, 686, 1029, 1371, 1463, 1554, 1645};
    ASSERT_EQ(bottom.count, 8u);
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(bottom.runs[i].begin, bottom_starts[i]);
        EXPECT_EQ(bottom.runs[i].entry, i);
    }
    EXPECT_EQ(bottom.runs[7].end, 1920u);
}

// Runs must tile [0, width) and agree with the per-column rule, which in turn
// must agree with the plain formulas.
void check_runs(uint32_t width) {
    SCOPED_TRACE(width);
    const SmpteRowRuns kinds[] = {smpte_bar_runs(width), smpte_bottom_runs(width)};
    for (int bottom = 0; bottom < 2; ++bottom) {
        uint32_t x = 0;
        for (const SmpteRun &run : kinds[bottom]) {
            ASSERT_EQ(run.begin, x);
            ASSERT_LT(run.begin, run.end);
            for (uint32_t i = run.begin; i < run.end; ++i) {
                const uint32_t reference =
                    bottom ? smpte_reference::bottom_entry(i, width) : i * 7 / width;
                const uint32_t fast =
                    bottom ? smpte_bottom_entry(i, width) : smpte_bar_entry(i, width);
                ASSERT_EQ(fast, reference) << "column " << i;
                ASSERT_EQ(run.entry, reference) << "column " << i;
            }
            x = run.end;
        }
        ASSERT_EQ(x, width);
    }
}

TEST(SmpteGeometry, RunsTileTheRowAndMatchTheColumnRule) {
    for (uint32_t width = 0; width <= 2200; ++width)
        check_runs(width);
    for (uint32_t width : {3839u, 3840u, 3841u, 7680u, 65535u, 65536u, 100003u})
        check_runs(width);
}

} // namespace
