// Conversions to and from Scaled altitudes, and the range scan.
#include "support/grid_helpers.h"
#include "surface/surface.h"

#include <climits>
#include <cstdint>
#include <gtest/gtest.h>
#include <ostream>
#include <random>
#include <string>
#include <utility>

namespace {

struct Conversion_case {
    const char* name;
    int v;
    int equid;
    int expected;
};

std::ostream& operator<<(std::ostream& os, const Conversion_case& c) { return os << c.name; }

class ToScaled : public testing::TestWithParam<Conversion_case> {};
class FromScaled : public testing::TestWithParam<Conversion_case> {};

TEST_P(ToScaled, Converts)
{
    EXPECT_EQ(to_scaled(GetParam().v, GetParam().equid), GetParam().expected);
}
TEST_P(FromScaled, Converts)
{
    EXPECT_EQ(from_scaled(GetParam().v, GetParam().equid), GetParam().expected);
}

const auto kName = [](const auto& info) { return std::string(info.param.name); };

INSTANTIATE_TEST_SUITE_P(Scaling, ToScaled,
                         testing::Values(Conversion_case{"truncates_63180_8", 1234, 10, 63180},
                                         Conversion_case{"largest_16_bit", 65535, 10, 3355392},
                                         // 1048616.96 is the float 1048617.0 before truncation.
                                         Conversion_case{"float_step", 51202, 25, 1048617},
                                         // -1.9 truncates toward zero.
                                         Conversion_case{"negative", -19, 5120, -1},
                                         // Beyond the int range: the nearest int.
                                         Conversion_case{"beyond", 2147483647, 1, 2147483647}),
                         kName);

INSTANTIATE_TEST_SUITE_P(Scaling, FromScaled,
                         testing::Values(Conversion_case{"truncates_1233_98", 63180, 10, 1233},
                                         Conversion_case{"largest_16_bit", 3355392, 10, 65535},
                                         // 70000.998046875 is the float 70001.0.
                                         Conversion_case{"float_step", 5120073, 7, 70001},
                                         // -1.900390625 truncates toward zero.
                                         Conversion_case{"negative", -973, 1, -1},
                                         Conversion_case{"small_negative", -1, 1, 0},
                                         Conversion_case{"beyond", 2147483647, 2147483647,
                                                         2147483647}),
                         kName);

// Both conversions, against their formulas in extended precision: levels
// across the int range, equidistances up to the largest, on both sides of
// 2^29 for the quotient.
TEST(Scaling, ConversionsAreTheExtendedPrecisionFormulas)
{
    const auto truncated = [](long double q) {
        const float f = static_cast<float>(q);
        return f >= 2147483648.0f ? INT_MAX : f < -2147483648.0f ? INT_MIN : static_cast<int>(f);
    };
    const auto expect_formulas = [&](int v, int equid) {
        const long double e = equid;
        ASSERT_EQ(to_scaled(v, equid), truncated(static_cast<long double>(v) / e * 512.0L))
            << v << " with " << equid;
        ASSERT_EQ(from_scaled(v, equid), truncated(static_cast<long double>(v) * 0.001953125L * e))
            << v << " with " << equid;
    };
    // Quotients whose rounding through a double lands on a float midpoint:
    // another float, the same int.
    const std::pair<int, int> kMidpoints[] = {{997045997, 536870919},
                                              {613566760, 536870919},
                                              {1283259818, 1000000007},
                                              {1716740203, 1000000007}};
    for (const auto& [v, equid] : kMidpoints) {
        expect_formulas(v, equid);
        expect_formulas(-v, equid);
    }
    std::mt19937_64 rng(7);
    const int kEquid[] = {1,
                          2,
                          3,
                          7,
                          10,
                          25,
                          40,
                          250,
                          512,
                          1000,
                          65535,
                          1 << 20,
                          (1 << 29) - 1,
                          1 << 29,
                          (1 << 29) + 7,
                          1000000007,
                          INT_MAX};
    const int kEdge[] = {INT_MIN, INT_MIN + 1, -99999, -1, 0, 1, INT_MAX - 1, INT_MAX};
    for (const int equid : kEquid) {
        for (const int v : kEdge) expect_formulas(v, equid);
        for (int draw = 0; draw < 20000; ++draw)
            expect_formulas(draw % 2 ? static_cast<int>(rng() % 2000001) - 1000000
                                     : static_cast<int>(static_cast<std::uint32_t>(rng())),
                            equid);
    }
}

// Empty pixels are not scaled, and no level reads as empty: -48828 with 250
// scales to -99999 and becomes -99998. After the gap filling every pixel is
// surface, a value of -99999 included: all go back, and none comes back as
// -99999 (with 512, -99999 would).
TEST(Scaling, NoLevelReadsAsEmptyAndTheWholeSurfaceGoesBack)
{
    Grid_state g({{E, 1234}, {-19, -48828}});
    scale_to_scaled(g.s, 250);
    EXPECT_EQ(g.itab(), (Rows{{E, 2527}, {-38, -99998}}));
    copy_surface(g.s);
    EXPECT_EQ(g.itab1(), g.itab());
    EXPECT_EQ(g.itab2(), g.itab());
    scale_back(g.s, 250);
    EXPECT_EQ(g.itab1(), (Rows{{-48827, 1233}, {-18, -48827}}));
    Grid_state h({{E, -100000}});
    copy_surface(h.s);
    scale_back(h.s, 512);
    EXPECT_EQ(h.itab1(), (Rows{{-99998, -100000}}));
}

struct Range_case {
    const char* name;
    Rows grid;
    int min;
    int max;
};

std::ostream& operator<<(std::ostream& os, const Range_case& c) { return os << c.name; }

class Range : public testing::TestWithParam<Range_case> {};

// Every case starts from the driver's 1000000 and 0.
TEST_P(Range, ExtendsTheRunningValues)
{
    const Range_case& c = GetParam();
    Grid_state g(c.grid);
    int min = 1000000;
    int max = 0;
    Console_capture console;
    Min_max(&min, &max, g.s.itab, g.s.nb_col, g.s.nb_lig);
    EXPECT_EQ(min, c.min);
    EXPECT_EQ(max, c.max);
    EXPECT_EQ(console.text(),
              "\n\tMin = " + std::to_string(c.min) + "  Max = " + std::to_string(c.max));
}

INSTANTIATE_TEST_SUITE_P(
    MinMax, Range,
    testing::Values(Range_case{"one_pixel_moves_both", {{5}}, 5, 5},
                    Range_case{"all_negative", {{-3, -7}, {-1, -2}}, -7, 0},
                    Range_case{"all_above_start", {{2000000, 3000000}}, 1000000, 3000000},
                    Range_case{"no_data_takes_part", {{12, E}, {40, 7}}, E, 40}),
    kName);

// Scans nb_col columns of a grid whose pixels hold their line number.
std::string range_transcript(int nb_lig, int nb_col)
{
    Grid_state g(make_rows(nb_lig, nb_col + 1, [](int l, int) { return l; }));
    int min = 1000000;
    int max = 0;
    Console_capture console;
    Min_max(&min, &max, g.s.itab, nb_col, nb_lig);
    return console.text();
}

TEST(MinMax, ProgressLineEvery200Lines)
{
    EXPECT_EQ(range_transcript(199, 1), "\n\tMin = 0  Max = 198");
    EXPECT_EQ(range_transcript(200, 1), "\tline 200\n\n\tMin = 0  Max = 199");
    EXPECT_EQ(range_transcript(450, 1), "\tline 200\n\tline 400\n\n\tMin = 0  Max = 449");
}

TEST(MinMax, ProgressLinesWithoutColumnsLeaveTheValues)
{
    EXPECT_EQ(range_transcript(200, 0), "\tline 200\n\n\tMin = 1000000  Max = 0");
}

TEST(MinMax, NoLineShowsTheValuesPassedIn)
{
    int min = 17;
    int max = 4;
    Console_capture console;
    Min_max(&min, &max, nullptr, 3, 0);
    EXPECT_EQ(console.text(), "\n\tMin = 17  Max = 4");
}

} // namespace
