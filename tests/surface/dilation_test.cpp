// Contour dilation: single passes of gonflette and the dilation loop.
#include "support/grid_helpers.h"
#include "surface/surface.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace {

// Runs passes until one inserts nothing; returns the count of each pass,
// the last (0) included.
std::vector<int> pass_counts(Grid_state& g)
{
    std::vector<int> counts;
    do {
        gonflette(g.s);
        counts.push_back(g.s.modif);
    } while (g.s.modif > 0 && counts.size() < 100);
    return counts;
}

// A line 0, seven empty pixels, 512: each pass halves the intervals.
const Rows kLine = {{0, E, E, E, E, E, E, E, 512}};

TEST(Gonflette, NinePixelLineHalvesPassByPass)
{
    Grid_state g(kLine);
    gonflette(g.s);
    EXPECT_EQ(g.s.modif, 1);
    EXPECT_EQ(g.itab(), (Rows{{0, E, E, E, 256, E, E, E, 512}}));
    gonflette(g.s);
    EXPECT_EQ(g.s.modif, 2);
    EXPECT_EQ(g.itab(), (Rows{{0, E, 128, E, 256, E, 384, E, 512}}));
    gonflette(g.s);
    EXPECT_EQ(g.s.modif, 4);
    EXPECT_EQ(g.itab(), (Rows{{0, 64, 128, 192, 256, 320, 384, 448, 512}}));
    gonflette(g.s);
    EXPECT_EQ(g.s.modif, 0);
    EXPECT_EQ(g.s.nb_pix_mod, 0);
}

TEST(Gonflette, NinePixelColumnBehavesLikeTheLine)
{
    Grid_state g(transposed(kLine));
    EXPECT_EQ(pass_counts(g), (std::vector<int>{1, 2, 4, 0}));
    EXPECT_EQ(g.itab(), transposed({{0, 64, 128, 192, 256, 320, 384, 448, 512}}));
}

TEST(Gonflette, FirstPassGrowsToTheLowestLevelWhereFrontsMeet)
{
    Grid_state g(kLine);
    gonflette(g.s);
    // Both fronts reach column 4 in the same sweep; the lower level takes it.
    EXPECT_EQ(g.itab2(), (Rows{{0, 0, 0, 0, 0, 512, 512, 512, 512}}));
    EXPECT_EQ(g.itab1(), (Rows{{E, E, E, E, 256, E, E, E, E}}));
}

// Border 512, centre 1024: three passes of mid-levels close in on the centre.
TEST(Gonflette, SevenBySevenHill)
{
    Grid_state g({
        {512, 512, 512, 512, 512, 512, 512},
        {512, E, E, E, E, E, 512},
        {512, E, E, E, E, E, 512},
        {512, E, E, 1024, E, E, 512},
        {512, E, E, E, E, E, 512},
        {512, E, E, E, E, E, 512},
        {512, 512, 512, 512, 512, 512, 512},
    });
    gonflette(g.s);
    EXPECT_EQ(g.s.modif, 8);
    EXPECT_EQ(g.itab(), (Rows{
                            {512, 512, 512, 512, 512, 512, 512},
                            {512, E, E, 768, E, E, 512},
                            {512, E, 768, E, 768, E, 512},
                            {512, 768, E, 1024, E, 768, 512},
                            {512, E, 768, E, 768, E, 512},
                            {512, E, E, 768, E, E, 512},
                            {512, 512, 512, 512, 512, 512, 512},
                        }));
    EXPECT_EQ(pass_counts(g), (std::vector<int>{12, 4, 0}));
    EXPECT_EQ(g.itab(), (Rows{
                            {512, 512, 512, 512, 512, 512, 512},
                            {512, 576, 640, 768, 640, 576, 512},
                            {512, 640, 768, 896, 768, 640, 512},
                            {512, 768, 896, 1024, 896, 768, 512},
                            {512, 640, 768, 896, 768, 640, 512},
                            {512, 576, 640, 768, 640, 576, 512},
                            {512, 512, 512, 512, 512, 512, 512},
                        }));
}

TEST(Gonflette, PartnerIsTheLastHigherCrossNeighbour)
{
    // Above 1280, right 768 and below 1024 are all higher than 512: below is
    // visited last (the highest would give 896, the lowest 640).
    Grid_state g({
        {1280, 1280, 1280},
        {512, E, 768},
        {1024, 1024, 1024},
    });
    gonflette(g.s);
    EXPECT_EQ(g.s.modif, 1);
    EXPECT_EQ(g.itab()[1][1], 768);
}

TEST(Gonflette, PixelFilledInASweepDoesNotCountWithinIt)
{
    // The right pixel sees its left neighbour still empty in the cross sweep,
    // so it grows to 768 from below rather than 512 from the left.
    Grid_state g({
        {1024, 1024, 1024},
        {512, E, E},
        {768, 768, 768},
    });
    gonflette(g.s);
    EXPECT_EQ(g.itab2()[1], (std::vector<int>{512, 512, 768}));
    EXPECT_EQ(g.itab()[1], (std::vector<int>{512, 640, 896}));
    EXPECT_EQ(g.s.modif, 2);
}

TEST(Gonflette, DiagonalNeighboursWaitForTheSecondSweep)
{
    // (1, 1) touches 100 only diagonally, so the cross sweep gives it 900 from
    // its right; a full first sweep would have given it 100.
    Grid_state g({
        {100, E, E},
        {E, E, 900},
    });
    gonflette(g.s);
    EXPECT_EQ(g.itab2(), (Rows{{100, 100, 900}, {100, 900, 900}}));
    EXPECT_EQ(g.itab(), (Rows{{100, 500, E}, {500, E, 900}}));
    EXPECT_EQ(g.s.modif, 2);
}

TEST(Gonflette, LaterSweepsCountDiagonalNeighbours)
{
    // After the cross sweep (1, 2) has 100 at its upper left, filled from the
    // corner, and 900 at its right: the full-window sweep gives it the lower.
    Grid_state g({
        {100, E, E, E, E},
        {E, E, E, E, 900},
        {E, E, E, E, E},
    });
    gonflette(g.s);
    EXPECT_EQ(g.itab2()[1][2], 100);
}

struct Midpoint_case {
    const char* name;
    int lower;
    int higher;
    int expected;
};

std::ostream& operator<<(std::ostream& os, const Midpoint_case& c) { return os << c.name; }

class Midpoint : public testing::TestWithParam<Midpoint_case> {};

TEST_P(Midpoint, IsWrittenBetweenTheTwoLevels)
{
    const Midpoint_case& c = GetParam();
    Grid_state g({{c.lower, E, c.higher}});
    gonflette(g.s);
    EXPECT_EQ(g.itab(), (Rows{{c.lower, c.expected, c.higher}}));
}

INSTANTIATE_TEST_SUITE_P(Gonflette, Midpoint,
                         testing::Values(Midpoint_case{"even_sum", 512, 1024, 768},
                                         Midpoint_case{"odd_sum_rounds_up", 512, 513, 513},
                                         Midpoint_case{"levels_1_apart", 0, 1, 1},
                                         Midpoint_case{"levels_3_apart", 0, 3, 2},
                                         Midpoint_case{"even_negative_sum", -1024, -512, -767},
                                         Midpoint_case{"odd_negative_sum", -3, 0, -1},
                                         Midpoint_case{"minus_one_and_zero", -1, 0, 0},
                                         // A midpoint of -99999 reads as no mark.
                                         Midpoint_case{"midpoint_is_no_data", -100002, -99998, E}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Gonflette, NoLevelLeavesEverythingEmpty)
{
    const Rows empty = {{E, E, E}, {E, E, E}};
    Grid_state g(empty);
    gonflette(g.s);
    EXPECT_EQ(g.s.modif, 0);
    EXPECT_EQ(g.itab(), empty);
    EXPECT_EQ(g.itab1(), empty);
    EXPECT_EQ(g.itab2(), empty);
}

TEST(Gonflette, NoEmptyPixelMarksButInsertsNothing)
{
    Grid_state g({{0, 512}, {512, 512}});
    gonflette(g.s);
    EXPECT_EQ(g.s.modif, 0);
    EXPECT_EQ(g.itab(), (Rows{{0, 512}, {512, 512}}));
    EXPECT_EQ(g.itab1(), (Rows{{256, E}, {E, E}}));
}

TEST(Gonflette, SingleLevelGrowsUniformlyWithoutMarks)
{
    const Rows start = {{E, E, E, E}, {E, 300, E, E}, {E, E, E, 300}};
    Grid_state g(start);
    gonflette(g.s);
    EXPECT_EQ(g.s.modif, 0);
    EXPECT_EQ(g.itab(), start);
    EXPECT_EQ(g.itab2(), make_rows(3, 4, [](int, int) { return 300; }));
}

TEST(Gonflette, LevelsBelowNoDataAreLevels)
{
    Grid_state g({{-200000, E, -199998}});
    gonflette(g.s);
    EXPECT_EQ(g.itab(), (Rows{{-200000, -199998, -199998}}));
}

TEST(Gonflette, NeighboursAboveTheSearchStartGrowTo99999999)
{
    Grid_state g({{E, 100000000}});
    gonflette(g.s);
    EXPECT_EQ(g.itab2(), (Rows{{99999999, 100000000}}));
    EXPECT_EQ(g.itab(), (Rows{{100000000, 100000000}}));
}

TEST(Dilation, PrintsEveryPassAndTheCountsOfAllButTheLast)
{
    Grid_state g(kLine);
    Console_capture console;
    dilation(g.s);
    EXPECT_EQ(console.text(), "\n\n\tIterative process number 1 "
                              "\n\tnumber of modified pixels = 1 "
                              "\n\n\tIterative process number 2 "
                              "\n\tnumber of modified pixels = 2 "
                              "\n\n\tIterative process number 3 "
                              "\n\tnumber of modified pixels = 4 "
                              "\n\n\tIterative process number 4 ");
    EXPECT_EQ(g.s.modif, 0);
    EXPECT_EQ(g.itab(), (Rows{{0, 64, 128, 192, 256, 320, 384, 448, 512}}));
}

TEST(Dilation, GridWithoutEmptyPixelsRunsOnePass)
{
    Grid_state g({{10, 20}, {30, 40}});
    Console_capture console;
    dilation(g.s);
    EXPECT_EQ(console.text(), "\n\n\tIterative process number 1 ");
    EXPECT_EQ(g.itab(), (Rows{{10, 20}, {30, 40}}));
}

} // namespace
