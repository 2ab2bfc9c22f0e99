// The conversions and the copy, shared among the cores, and the range scan
// with its four running ranges, against one-thread sweeps, on grids small
// enough for one worker and large enough for several.
#include "differential/random_grids.h"
#include "reference/plain_stages.h"
#include "surface/surface.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

struct Shape {
    int nb_lig, nb_col;
};

// 1 line, a few pixels, and grids past the size at which workers start;
// 450 and 1000 lines give progress lines on both sides of a band split.
const Shape kShapes[] = {{1, 1}, {1, 7}, {9, 1}, {37, 41}, {450, 190}, {1000, 70}, {257, 300}};

// Levels of a contour raster, NO_DATA among them, whose Scaled altitudes
// stay in the int range for the equidistance drawn.
Rows altitudes(std::mt19937_64& rng, const Shape& sh)
{
    std::uniform_int_distribution<int> level(-60000, 900000);
    std::uniform_int_distribution<int> empty(0, 3);
    return make_rows(sh.nb_lig, sh.nb_col,
                     [&](int, int) { return empty(rng) == 0 ? NO_DATA : level(rng); });
}

TEST(ParallelConversions, EqualOneThreadSweeps)
{
    std::uint64_t seed = 5150;
    for (const Shape& sh : kShapes)
        for (int equid : {1, 7, 10, 25}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(sh.nb_lig) + " x " +
                         std::to_string(sh.nb_col) + ", equidistance " + std::to_string(equid));
            std::mt19937_64 rng(seed++);
            const Rows rows = altitudes(rng, sh);
            Grid_state fast(rows), ref(rows);
            scale_to_scaled(fast.s, equid);
            plain::scale_to_scaled(ref.s, equid);
            ASSERT_EQ(fast.itab(), ref.itab());
            copy_surface(fast.s);
            plain::copy_surface(ref.s);
            ASSERT_EQ(fast.itab1(), ref.itab1());
            ASSERT_EQ(fast.itab2(), ref.itab2());
            scale_back(fast.s, equid);
            plain::scale_back(ref.s, equid);
            ASSERT_EQ(fast.itab1(), ref.itab1());
        }
}

struct Scan {
    int min, max;
    std::string console;
};

Scan scan(const Rows& rows, int min, int max, void (*stage)(int*, int*, int**, int, int))
{
    Grid_state g(rows);
    Console_capture console;
    stage(&min, &max, g.s.itab, g.s.nb_col, g.s.nb_lig);
    return {min, max, console.text()};
}

TEST(FastRangeScan, EqualsTheOneThreadSweep)
{
    std::uint64_t seed = 6160;
    for (const Shape& sh : kShapes)
        for (Content kind : {Content::uniform, Content::with_no_data, Content::constant}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(sh.nb_lig) + " x " +
                         std::to_string(sh.nb_col) + ", " + content_name(kind));
            std::mt19937_64 rng(seed++);
            const Rows rows = random_rows(rng, sh.nb_lig, sh.nb_col, kind);
            // The caller's start values, and values that every pixel passes.
            for (const auto& [min, max] : {std::pair{1000000, 0}, std::pair{-(1 << 30), 1 << 30}}) {
                const Scan fast = scan(rows, min, max, Min_max);
                const Scan ref = scan(rows, min, max, plain::Min_max);
                EXPECT_EQ(fast.min, ref.min);
                EXPECT_EQ(fast.max, ref.max);
                EXPECT_EQ(fast.console, ref.console);
            }
        }
}

TEST(FastRangeScan, NoLinesLeavesTheStartValues)
{
    int min = 1000000, max = 0;
    Console_capture console;
    Min_max(&min, &max, nullptr, 5, 0);
    EXPECT_EQ(min, 1000000);
    EXPECT_EQ(max, 0);
    EXPECT_EQ(console.text(), "\n\tMin = 1000000  Max = 0");
}

} // namespace
