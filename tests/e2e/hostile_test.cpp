// Inputs chosen to break the program: levels at the edges of the ranges the
// stages work in, sizes beyond what can be indexed, headers and files of every
// odd kind, and names that would make an output land on an input.
#include "e2e/e2e_fixture.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

using namespace transcript;

namespace {

std::vector<int> dem32(const std::string& bytes)
{
    std::vector<int> v(bytes.size() / 4);
    std::memcpy(v.data(), bytes.data(), v.size() * 4);
    return v;
}

// Lines 4 and 5 of a header: the minimum and the maximum.
std::pair<int, int> header_range(const std::string& header)
{
    int v[5] = {};
    std::sscanf(header.c_str(), "%d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4]);
    return {v[3], v[4]};
}

struct Level_case {
    const char* name;
    std::vector<int> raster; // 5 x 40, empty when generated
    int equid;
    int maille;
    bool header;     // the input header exists; else it is created
    int level_back;  // the first and last lines' pixels in the DEM, when not 0
    int created_min; // the created input header's range, when created
    int created_max;
};

std::ostream& operator<<(std::ostream& os, const Level_case& c) { return os << c.name; }

std::vector<int> two_lines(int first, int last, int empty)
{
    std::vector<int> g(200, empty);
    std::fill(g.begin(), g.begin() + 40, first);
    std::fill(g.end() - 40, g.end(), last);
    return g;
}

class Levels : public E2e, public testing::WithParamInterface<Level_case> {};

} // namespace

// Every DEM built from a level has no empty pixel, and its range, in the
// console and the header, is the true one.
TEST_P(Levels, GiveADemWithoutHolesAndItsTrueRange)
{
    const Level_case& c = GetParam();
    std::filesystem::create_directories(dir);
    int lines = 5, cols = 40;
    if (c.raster.empty()) {
        // Levels -1960 to -1940: smoothed values land on Scaled -99999.
        lines = cols = 60;
        const Program_run gen = run_program(RF_GENERATOR,
                                            {"--lines", "60", "--cols", "60", "--seed", "15",
                                             "--base", "-1970", "--out", dir + "g"},
                                            Run_options{});
        ASSERT_EQ(gen.status, 0) << gen.err;
    } else {
        write_file(path("g_c4.raw"), le32(c.raster));
        if (c.header) write_file(path("g_c4.txt"), "5\n40\n4\n0\n0\n10\n");
    }
    std::string in = "maps\ng\n1\n";
    if (!c.header) in += "5\n40\n10\n";
    in += "0\n" + std::to_string(c.equid) + "\n" + std::to_string(c.maille) + "\n";
    const Program_run r = run(in);
    ASSERT_EQ(r.status, 0) << r.out;

    const std::vector<int> dem = dem32(read_file(path("g_m4.raw")));
    ASSERT_EQ(dem.size(), static_cast<std::size_t>(lines * cols));
    EXPECT_EQ(std::count(dem.begin(), dem.end(), ND), 0);
    if (c.level_back != 0) {
        EXPECT_EQ(std::count(dem.begin(), dem.begin() + 40, c.level_back), 40);
        EXPECT_EQ(std::count(dem.end() - 40, dem.end(), c.level_back), 40);
    }
    const auto [lo, hi] = std::minmax_element(dem.begin(), dem.end());
    EXPECT_EQ(header_range(read_file(path("g_m4.txt"))), std::make_pair(*lo, *hi));
    EXPECT_NE(r.out.find(fmt("\n\tMin = %lld", *lo) + fmt("  Max = %lld", *hi)), std::string::npos);
    if (!c.header) {
        EXPECT_EQ(header_range(read_file(path("g_c4.txt"))),
                  std::make_pair(c.created_min, c.created_max));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, Levels,
    testing::Values(Level_case{"smoothed_onto_no_data", {}, 10, 3, true, 0, 0, 0},
                    // -48828 / 250 * 512 = -99999.744: a level whose Scaled altitude is
                    // NO_DATA, all negative; its lines come back as -48827.
                    Level_case{"scaled_level_is_no_data", two_lines(-48828, -48828, ND), 250, 1,
                               true, -48827, 0, 0},
                    // Millimetres: every value above 1000000, none empty.
                    Level_case{"all_above_a_million", two_lines(2000000, 2000100, 2000050), 1000, 3,
                               false, 0, 2000000, 2000100},
                    Level_case{"all_negative_created", two_lines(-300, -100, -200), 10, 1, false, 0,
                               -300, -100}),
    [](const auto& info) { return std::string(info.param.name); });

// 2147483600 / 20000 * 512 = 54975569 is inside the Scaled range, but its way
// back would leave the int range.
TEST_F(E2e, LevelsWhoseWayBackLeavesTheIntRangeAreRefused)
{
    write_file(path("g_c4.raw"), le32(two_lines(100, 2147483600, ND)));
    write_file(path("g_c4.txt"), "5\n40\n4\n0\n0\n10\n");
    const Program_run r = run("maps\ng\n1\n0\n20000\n1\n");
    EXPECT_EQ(r.status, 1);
    const std::string message = "\n\n\tThe altitude 2147483600 does not come back within the int "
                                "range with the equidistance 20000 : the levels must lie between ";
    ASSERT_NE(r.out.find(message), std::string::npos) << r.out;
    EXPECT_FALSE(file_exists(path("g_m4.raw")));
    expect_no_temporary();
}
