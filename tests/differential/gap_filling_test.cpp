// The gap filling against the straightforward sweeps, to the bit.
#include "differential/random_grids.h"
#include "reference/reference.h"
#include "surface/surface.h"

#include <gtest/gtest.h>

namespace {

constexpr int kGrids = 1500;

void expect_same_filling(const Rows& rows)
{
    Grid_state want(rows), got(rows);
    reference::gap_filling(want.s);
    gap_filling(got.s);
    EXPECT_EQ(got.s.nb_pix_mod, want.s.nb_pix_mod);
    EXPECT_EQ(first_difference(want.s, got.s.itab, want.s.itab), "");
}

// Straight from the random grids: levels sparse enough for long chains of
// sweeps, runs to the left that fill one pixel per sweep, extreme values.
TEST(DifferentialGapFilling, RandomGrids)
{
    for (std::uint64_t seed = 1; seed <= kGrids; ++seed) {
        const Random_grid grid = random_grid(seed);
        SCOPED_TRACE(grid.name);
        expect_same_filling(grid.rows);
        ASSERT_FALSE(HasFailure());
    }
}

// What the stage meets in a run: the plateaus and flat tops that the
// dilation left empty.
TEST(DifferentialGapFilling, AfterTheDilation)
{
    int with_gaps = 0;
    for (std::uint64_t seed = 1; seed <= 400; ++seed) {
        Random_grid grid = random_grid(seed);
        SCOPED_TRACE(grid.name);
        Grid_state dilated(grid.rows);
        do reference::gonflette(dilated.s);
        while (dilated.s.modif > 0);
        const Rows rows = dilated.itab();
        for (const auto& line : rows)
            if (std::find(line.begin(), line.end(), NO_DATA) != line.end()) {
                ++with_gaps;
                break;
            }
        expect_same_filling(rows);
        ASSERT_FALSE(HasFailure());
    }
    EXPECT_GT(with_gaps, 100);
}

// One level in a corner of an empty grid: the most sweeps for the size, each
// filling one diagonal run towards the far corner.
TEST(DifferentialGapFilling, SingleLevelInEachCorner)
{
    for (const int level : {-100000, -512, 0, 1023, 16777217}) {
        for (const auto& [i, j] : {std::pair{0, 0}, {0, 40}, {30, 0}, {30, 40}}) {
            Rows rows = make_rows(31, 41, [](int, int) { return NO_DATA; });
            rows[i][j] = level;
            SCOPED_TRACE("level " + std::to_string(level) + " at (" + std::to_string(i) + ", " +
                         std::to_string(j) + ")");
            expect_same_filling(rows);
        }
    }
}

} // namespace
