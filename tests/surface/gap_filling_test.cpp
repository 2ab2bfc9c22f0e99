// Residual gap filling, alone and after the dilation loop.
#include "support/grid_helpers.h"
#include "surface/surface.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace {

Rows filled(const Rows& rows)
{
    Grid_state g(rows);
    gap_filling(g.s);
    EXPECT_EQ(g.s.nb_pix_mod, 0);
    return g.itab();
}

TEST(GapFilling, NoLevelLeavesTheGridEmpty)
{
    const Rows empty = {{E, E}, {E, E}};
    EXPECT_EQ(filled(empty), empty);
}

TEST(GapFilling, NoEmptyPixelChangesNothing)
{
    const Rows full = {{1, 2}, {3, -4}};
    EXPECT_EQ(filled(full), full);
}

TEST(GapFilling, SingleNonNegativeLevelSpreadsUnchanged)
{
    EXPECT_EQ(filled({{E, E, E}, {E, E, 640}, {E, E, E}}),
              make_rows(3, 3, [](int, int) { return 640; }));
}

TEST(GapFilling, NegativeLevelDriftsUpward)
{
    // A whole negative mean rounds one higher; a positive one stays put.
    EXPECT_EQ(filled({{-512, E, E}}), (Rows{{-512, -511, -510}}));
    EXPECT_EQ(filled(transposed({{-512, E, E}})), transposed({{-512, -511, -510}}));
    EXPECT_EQ(filled({{512, E, E}}), (Rows{{512, 512, 512}}));
}

TEST(GapFilling, PixelsFilledEarlierInTheSweepCount)
{
    // The third pixel already counts the second, filled just before it.
    EXPECT_EQ(filled({{100, E, E, 0}}), (Rows{{100, 100, 50, 0}}));
    // Towards the left the filling advances one pixel per sweep.
    EXPECT_EQ(filled({{E, E, E, E, 100}}), (Rows{{100, 100, 100, 100, 100}}));
}

TEST(GapFilling, DiagonalNeighboursNeverCount)
{
    EXPECT_EQ(filled({{10, E, E}, {E, E, E}, {E, E, 21}}),
              (Rows{{10, 10, 10}, {10, 10, 14}, {10, 14, 21}}));
}

struct Mean_case {
    const char* name;
    std::vector<int> neighbours; // the 1 to 4 neighbours that count
    int expected;
};

std::ostream& operator<<(std::ostream& os, const Mean_case& c) { return os << c.name; }

class Mean : public testing::TestWithParam<Mean_case> {};

// One empty pixel with exactly the given filled cross neighbours. The other
// empty pixels come after it in the sweep, so they are still empty when it
// is handled.
TEST_P(Mean, IsRoundedHalfUpThenTruncated)
{
    const Mean_case& c = GetParam();
    const std::vector<int>& v = c.neighbours;
    int pixel = 0;
    Rows grid;
    switch (v.size()) {
    case 1:
        grid = {{E, v[0]}};
        break;
    case 2:
        grid = {{v[0], E, v[1]}};
        pixel = 1;
        break;
    case 3:
        grid = {{v[0], E, v[1]}, {E, v[2], E}};
        pixel = 1;
        break;
    default:
        grid = {{E, v[0], E}, {v[1], E, v[2]}, {E, v[3], E}};
        pixel = 4;
    }
    Grid_state g(grid);
    gap_filling(g.s);
    EXPECT_EQ(g.itab()[pixel / 3][pixel % 3], c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    GapFilling, Mean,
    testing::Values(
        Mean_case{"mean_50", {20, 80, 40, 60}, 50}, Mean_case{"mean_41_thirds", {10, 21, 10}, 14},
        Mean_case{"mean_41_thirds_reordered", {21, 10, 10}, 14}, Mean_case{"mean_0_5", {0, 1}, 1},
        Mean_case{"mean_minus_0_5", {-1, 0}, 0}, Mean_case{"mean_minus_1", {-1}, 0},
        Mean_case{"mean_minus_511_5", {-512, -511}, -511},
        Mean_case{"mean_minus_512", {-512, -512, -512, -512}, -511},
        Mean_case{"mean_minus_512_5", {-512, -513}, -512}, Mean_case{"single_neighbour", {7}, 7}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GapFilling, MeanEqualToNoDataStillEndsTheSweeps)
{
    // -100000 alone rounds to -99999, which would read as empty again.
    EXPECT_EQ(filled({{-100000, E, E}}), (Rows{{-100000, -99998, -99997}}));
}

TEST(GapFilling, FillsTheEnclosedPlateauLeftByTheDilation)
{
    Grid_state g({
        {512, 512, 512, 512, 512, 512, 512},
        {512, E, E, E, E, E, 512},
        {512, E, 1024, 1024, 1024, E, 512},
        {512, E, 1024, E, 1024, E, 512},
        {512, E, 1024, 1024, 1024, E, 512},
        {512, E, E, E, E, E, 512},
        {512, 512, 512, 512, 512, 512, 512},
    });
    Console_capture console;
    dilation(g.s);
    EXPECT_EQ(console.text(), "\n\n\tIterative process number 1 "
                              "\n\tnumber of modified pixels = 12 "
                              "\n\n\tIterative process number 2 "
                              "\n\tnumber of modified pixels = 4 "
                              "\n\n\tIterative process number 3 ");
    // The centre grows to 1024, like all its neighbours: it is never marked.
    EXPECT_EQ(g.itab()[3][3], E);
    gap_filling(g.s);
    EXPECT_EQ(g.itab()[3][3], 1024);
    EXPECT_EQ(g.itab()[1][1], 640);
}

} // namespace
