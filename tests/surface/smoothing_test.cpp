// Bezier window smoothing: factorials, binomial coefficients, one point of
// the patch, and the smoothing stage.
#include "support/grid_helpers.h"
#include "surface/surface.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(Fact, SmallValues)
{
    EXPECT_EQ(Fact(0), 1.0L);
    EXPECT_EQ(Fact(1), 1.0L);
    EXPECT_EQ(Fact(5), 120.0L);
    EXPECT_EQ(Fact(20), 2432902008176640000.0L);
    EXPECT_EQ(Fact(-1), 0.0L);
}

TEST(Comb, NamedValues)
{
    EXPECT_EQ(Comb(0, 7), 1);
    EXPECT_EQ(Comb(7, 7), 1);
    EXPECT_EQ(Comb(1, 9), 9);
    EXPECT_EQ(Comb(2, 4), 6);
    EXPECT_EQ(Comb(16, 33), 1166803110);
}

TEST(Comb, MatchesPascalsTriangleUpToDegree33)
{
    std::vector<std::int64_t> row = {1};
    for (int n = 1; n <= 33; ++n) {
        std::vector<std::int64_t> next(static_cast<std::size_t>(n) + 1, 1);
        for (int p = 1; p < n; ++p) next[p] = row[p - 1] + row[p];
        row = next;
        for (int p = 0; p <= n; ++p) EXPECT_EQ(Comb(p, n), row[p]) << "n = " << n << ", p = " << p;
    }
}

// A 10 x 10 grid of zeros with a single 1: the point's value is then the
// product of the line and column weights of that pixel, exactly.
double spline_of_unit_pixel(int line, int col, double x, double y, int n)
{
    Grid_state g(make_rows(10, 10, [&](int l, int c) { return l == line && c == col ? 1 : 0; }));
    return InterpolePointSpline(g.s, x, y, n);
}

TEST(InterpolePointSpline, InteriorWeightsOfDegree3)
{
    // Window lines and columns 4 to 7 around (5, 5), parameter 1/3.
    const double w[4] = {static_cast<float>(8.0 / 27), static_cast<float>(12.0 / 27),
                         static_cast<float>(6.0 / 27), static_cast<float>(1.0 / 27)};
    for (int a = 0; a < 4; ++a)
        for (int b = 0; b < 4; ++b)
            EXPECT_EQ(spline_of_unit_pixel(4 + a, 4 + b, 5, 5, 3), w[a] * w[b])
                << "window line " << a << ", column " << b;
    EXPECT_EQ(spline_of_unit_pixel(3, 5, 5, 5, 3), 0.0);
    EXPECT_EQ(spline_of_unit_pixel(5, 8, 5, 5, 3), 0.0);
}

TEST(InterpolePointSpline, WindowIsPushedInsideAtTheBorders)
{
    // Degree 2 at column 9 of 10: window columns 7 to 9, parameter 1.
    EXPECT_EQ(spline_of_unit_pixel(5, 9, 9, 5, 2), 0.5);
    EXPECT_EQ(spline_of_unit_pixel(5, 8, 9, 5, 2), 0.0);
    // Degree 4 at column 1: window columns 0 to 4, parameter 1/4.
    EXPECT_EQ(spline_of_unit_pixel(4, 0, 1, 4, 4), 0.375 * static_cast<float>(81.0 / 256));
}

// A grid mixing signs and magnitudes, for the cases where a pixel comes back.
const Rows kVaried =
    make_rows(8, 9, [](int l, int c) { return 1000 * l * l - 377 * c + (l * c % 5) * 91 - 4000; });

TEST(InterpolePointSpline, CornersReturnThemselves)
{
    Grid_state g(kVaried);
    for (int n : {2, 3, 5, 7}) {
        SCOPED_TRACE("n = " + std::to_string(n));
        for (int l : {0, 7})
            for (int c : {0, 8}) EXPECT_EQ(InterpolePointSpline(g.s, c, l, n), kVaried[l][c]);
    }
}

TEST(InterpolePointSpline, DegreeOneReturnsEveryPixel)
{
    Grid_state g(kVaried);
    for (int l = 0; l < 8; ++l)
        for (int c = 0; c < 9; ++c) EXPECT_EQ(InterpolePointSpline(g.s, c, l, 1), kVaried[l][c]);
}

TEST(InterpolePointSpline, FirstAndLastColumnsSeeOnlyTheirOwnColumn)
{
    // At a parameter of 0 or 1 every other column of the window weighs exactly 0.
    Grid_state g(make_rows(9, 9, [](int, int c) { return c == 0 || c == 8 ? 0 : 90000; }));
    for (int n : {2, 3, 5})
        for (int l = 0; l < 9; ++l) {
            EXPECT_EQ(InterpolePointSpline(g.s, 0, l, n), 0.0) << "n = " << n << ", line " << l;
            EXPECT_EQ(InterpolePointSpline(g.s, 8, l, n), 0.0) << "n = " << n << ", line " << l;
        }
}

TEST(InterpolePointSpline, WindowValuesAreSinglePrecision)
{
    // 16777217 = 2^24 + 1 is the float 16777216; the weights 1/4, 1/2, 1/4
    // are exact, so nothing else rounds.
    Grid_state g(make_rows(3, 3, [](int, int) { return 16777217; }));
    EXPECT_EQ(InterpolePointSpline(g.s, 1, 1, 2), 16777216.0);
}

TEST(InterpolePointSpline, ColumnSumsAreRoundedToSingleAfterEveryAddition)
{
    // Each line sums 2^26 / 4 = 2^24, then + 2 / 2 and + 4 / 4: both partial
    // sums 2^24 + 1 round back to 2^24 in single precision (exactly, the sum
    // would be 2^24 + 2).
    Grid_state g({{1 << 26, 2, 4}, {1 << 26, 2, 4}, {1 << 26, 2, 4}});
    EXPECT_EQ(InterpolePointSpline(g.s, 1, 1, 2), 16777216.0);
}

TEST(InterpolePointSpline, NoDataEntersTheSumsAsItsValue)
{
    Grid_state g({{0, 0, 0}, {0, E, 0}, {0, 0, 0}});
    EXPECT_EQ(InterpolePointSpline(g.s, 1, 1, 2), -99999 * 0.25);
}

Rows smoothed(const Rows& rows, int maille)
{
    Grid_state g(rows);
    Console_capture console;
    smoothing(g.s, maille);
    return g.itab1();
}

TEST(Smoothing, RaisesAParabolaByItsCurvature)
{
    // 10 (x - 5)^2 on every line: a * n * t * (1 - t) = 10 * 2 / 4 = 5 in the
    // interior columns (t = 1/2), nothing at the first and last (t = 0, 1).
    const Rows parabola = make_rows(5, 11, [](int, int c) { return 10 * (c - 5) * (c - 5); });
    const Rows out = smoothed(parabola, 2);
    EXPECT_EQ(out[2][1], 165);
    for (int l = 0; l < 5; ++l) {
        EXPECT_EQ(out[l][0], 250);
        EXPECT_EQ(out[l][10], 250);
        for (int c = 1; c < 10; ++c) EXPECT_EQ(out[l][c], parabola[l][c] + 5);
    }
}

TEST(Smoothing, ConstantGridLosesOneAtSomePixels)
{
    for (int n : {5, 7}) {
        SCOPED_TRACE("n = " + std::to_string(n));
        int lowered = 0;
        for (const auto& line : smoothed(make_rows(20, 20, [](int, int) { return 1000; }), n))
            for (int v : line) {
                EXPECT_TRUE(v == 999 || v == 1000) << v;
                lowered += v == 999;
            }
        EXPECT_GT(lowered, 0);
    }
}

TEST(Smoothing, ReproducesAPlaneWithinOne)
{
    const auto plane = [](int l, int c) { return 37 * l + 53 * c + 100; };
    for (int n : {2, 3, 4, 5, 7}) {
        SCOPED_TRACE("n = " + std::to_string(n));
        const Rows out = smoothed(make_rows(15, 16, plane), n);
        for (int l = 0; l < 15; ++l)
            for (int c = 0; c < 16; ++c) {
                const int v = out[l][c];
                EXPECT_TRUE(v == plane(l, c) || v == plane(l, c) - 1)
                    << "(" << l << ", " << c << "): " << v;
            }
    }
}

TEST(Smoothing, TruncatesTowardZero)
{
    // 0.25 * -10 + 0.5 * 0 + 0.25 * -1 = -2.75 at the middle column.
    EXPECT_EQ(smoothed({{-10, 0, -1}, {-10, 0, -1}, {-10, 0, -1}}, 2)[1][1], -2);
}

std::string smoothing_transcript(int nb_lig)
{
    Grid_state g(make_rows(nb_lig, 3, [](int, int) { return 0; }));
    Console_capture console;
    smoothing(g.s, 2);
    return console.text();
}

TEST(Smoothing, ProgressLineEvery100Lines)
{
    const std::string head = "\n\tSize of the window smoothing : 2 \n\n";
    EXPECT_EQ(smoothing_transcript(99), head);
    EXPECT_EQ(smoothing_transcript(100), head + "\tline 100                  \r    ");
    EXPECT_EQ(smoothing_transcript(250),
              head + "\tline 100                  \r    \tline 200                  \r    ");
}

TEST(Smoothing, RejectsAWindowLargerThanTheGrid)
{
    Grid_state g(make_rows(3, 10, [](int, int) { return 1; }));
    Console_capture console;
    EXPECT_THROW(smoothing(g.s, 3), std::invalid_argument);
    EXPECT_EQ(console.text(), "");
    EXPECT_NO_THROW(smoothing(g.s, 2));
}

} // namespace
