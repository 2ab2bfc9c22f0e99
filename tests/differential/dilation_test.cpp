// The dilation passes against the straightforward sweeps, pass by pass, to the
// bit: contour grid, grown grid, marks and counts.
#include "differential/random_grids.h"
#include "reference/reference.h"
#include "surface/surface.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr int kGrids = 1200;

// Every grid the passes can change, compared after each pass; the marks
// only where they are kept.
void expect_same_pass(const Grid_state& got, const Grid_state& want, const char* engine,
                      bool marks = true)
{
    SCOPED_TRACE(engine);
    EXPECT_EQ(got.s.modif, want.s.modif);
    EXPECT_EQ(got.s.nb_pix_mod, want.s.nb_pix_mod);
    EXPECT_EQ(first_difference(want.s, got.s.itab, want.s.itab), "") << "itab";
    EXPECT_EQ(first_difference(want.s, got.s.itab2, want.s.itab2), "") << "itab2";
    if (marks) {
        EXPECT_EQ(first_difference(want.s, got.s.itab1, want.s.itab1), "") << "itab1";
    }
}

// Tiles of 1 to 5 pixels a side on 1 to 3 workers: every way a change
// crosses a tile's border, and tiles running side by side; passes grown from
// the pass before, afresh by scans, or as they come; with or without the
// marks.
Dilation_settings tiled_settings(std::uint64_t draw)
{
    Dilation_settings set;
    set.threads = 1 + static_cast<int>(draw % 3);
    set.tile_side = 1 + static_cast<int>(draw / 3 % 5);
    constexpr Dilation_scans kScans[] = {Dilation_scans::never, Dilation_scans::automatic,
                                         Dilation_scans::always};
    set.scans = kScans[draw / 15 % 3];
    set.marks = draw / 45 % 2 == 0;
    return set;
}

// Runs the reference passes until one inserts nothing, and beside them the
// passes that carry their work from one pass to the next, the same in
// small tiles on several workers (`tiled`), and the passes that grow from
// scratch; then one pass more, which must change nothing. Returns the count
// of each pass.
std::vector<int> compare_passes(const Random_grid& grid, const Dilation_settings& tiled)
{
    Grid_state want(grid.rows), carried(grid.rows), in_tiles(grid.rows), scratch(grid.rows);
    Dilation_work w, wb;
    wb.settings = tiled;
    const std::string tiled_name =
        "in tiles of " + std::to_string(tiled.tile_side) + " pixels on " +
        std::to_string(tiled.threads) + " workers, scans " +
        std::to_string(static_cast<int>(tiled.scans)) + (tiled.marks ? "" : ", no marks");
    std::vector<int> counts;
    for (bool more = true; more;) {
        reference::gonflette(want.s);
        gonflette(carried.s, w);
        gonflette(in_tiles.s, wb);
        gonflette(scratch.s);
        counts.push_back(want.s.modif);
        SCOPED_TRACE("pass " + std::to_string(counts.size()));
        expect_same_pass(carried, want, "carried work");
        expect_same_pass(in_tiles, want, tiled_name.c_str(), tiled.marks);
        expect_same_pass(scratch, want, "from scratch");
        if (testing::Test::HasFailure()) return counts;
        more = want.s.modif > 0;
    }
    gonflette(carried.s, w);
    gonflette(in_tiles.s, wb);
    SCOPED_TRACE("pass after the last");
    expect_same_pass(carried, want, "carried work");
    expect_same_pass(in_tiles, want, tiled_name.c_str(), tiled.marks);
    // Passes that keep no marks leave itab1 as it was.
    if (!tiled.marks) {
        EXPECT_EQ(in_tiles.itab1(), Grid_state(grid.rows).itab1());
    }
    return counts;
}

TEST(DifferentialDilation, PassByPassOnRandomGrids)
{
    int long_tails = 0;
    for (std::uint64_t seed = 1; seed <= kGrids; ++seed) {
        const Random_grid grid = random_grid(seed);
        SCOPED_TRACE(grid.name);
        const std::vector<int> counts = compare_passes(grid, tiled_settings(seed));
        ASSERT_FALSE(HasFailure());
        const auto tiny =
            std::count_if(counts.begin(), counts.end(), [](int c) { return c > 0 && c <= 3; });
        if (tiny >= 3) ++long_tails;
    }
    // The grids must reach the long tails of tiny passes that the carried
    // work is for.
    EXPECT_GT(long_tails, kGrids / 40);
}

// Small drawn cases for the ways a change reaches a pixel of a later pass.
struct Drawn_case {
    const char* name;
    Rows rows;
};

const Drawn_case kDrawn[] = {
    // The first pass grows (1, 1) and (2, 2), which touches it only
    // diagonally, to -100001, and inserts -100000 at (1, 1); the mark of
    // (2, 2), the midpoint with -99998, is -99999 and cannot be inserted. In
    // the second pass (2, 2) reads -100000 from (1, 1), while (1, 2) and
    // (2, 1) keep their layer and level: the change reaches (2, 2) through
    // the diagonal alone.
    {"diagonal_only_change",
     {
         {-100000, E, -100000, E},
         {-100001, E, E, E},
         {-100000, E, E, E},
         {E, E, E, -99998},
     }},
    // Fronts of three levels meeting in the middle, with ties.
    {"three_fronts",
     {
         {0, E, E, E, E, E, 1024},
         {E, E, E, E, E, E, E},
         {E, E, E, E, E, E, E},
         {E, E, E, 512, E, E, E},
         {E, E, E, E, E, E, E},
         {1024, E, E, E, E, E, 0},
     }},
    // A ring of one level around another: the inside is reached only
    // through the gaps of the ring.
    {"leaky_ring",
     {
         {E, E, E, E, E, E, E},
         {E, 512, 512, E, 512, 512, E},
         {E, 512, E, E, E, 512, E},
         {E, E, E, 2048, E, 512, E},
         {E, 512, E, E, E, E, E},
         {E, 512, 512, 512, E, 512, E},
         {E, E, E, E, E, E, 0},
     }},
    // Levels above the start of the minimum search, which every grown level
    // stays at or below, beside the top of the int range, where midpoints
    // wrap.
    {"levels_beyond_the_search_start",
     {
         {150000000, E, E, E, E, 99999998},
         {E, E, E, E, E, E},
         {E, E, 2147483647, E, E, E},
         {E, E, E, E, E, E},
         {-2147483647, E, E, E, E, 100000000},
     }},
};

TEST(DifferentialDilation, DrawnCases)
{
    for (const Drawn_case& c : kDrawn) {
        SCOPED_TRACE(c.name);
        std::uint64_t draw = 0;
        for (const Rows& rows : {c.rows, transposed(c.rows)})
            for (int n = 0; n < 12; ++n) {
                compare_passes({rows, c.name}, tiled_settings(draw++));
                ASSERT_FALSE(HasFailure());
            }
    }
}

// Thin grids grow along one line: the longest layers for their size.
TEST(DifferentialDilation, LinesAndColumnsOfScatteredLevels)
{
    std::mt19937_64 rng(7);
    for (int n = 0; n < 40; ++n) {
        const int length = 2 + static_cast<int>(rng() % 300);
        Rows rows = make_rows(1, length, [&](int, int) {
            return rng() % 23 == 0 ? 512 * static_cast<int>(rng() % 9) : NO_DATA;
        });
        rows[0][0] = 0;
        const Random_grid line{rows,
                               "line of " + std::to_string(length) + ", draw " + std::to_string(n)};
        const Random_grid column{transposed(rows), "column of " + std::to_string(length)};
        for (const Random_grid& g : {line, column}) {
            SCOPED_TRACE(g.name);
            compare_passes(g, tiled_settings(rng()));
            ASSERT_FALSE(HasFailure());
        }
    }
}

// The whole loop, console included, on the contour grids of larger terrains;
// the last large enough for the dilation's own choice of several workers and
// its default tiles.
TEST(DifferentialDilation, WholeLoopWithItsConsoleLines)
{
    std::mt19937_64 rng(2024);
    for (int n = 0; n < 7; ++n) {
        const int nb_lig = n < 6 ? 40 + static_cast<int>(rng() % 60) : 300;
        const int nb_col = n < 6 ? 40 + static_cast<int>(rng() % 60) : 260;
        const Rows rows = contour_rows(rng, nb_lig, nb_col);
        SCOPED_TRACE("terrain " + std::to_string(n) + ", " + std::to_string(nb_lig) + " x " +
                     std::to_string(nb_col));
        Grid_state want(rows), got(rows);
        std::string want_text, got_text;
        {
            Console_capture console;
            reference::dilation(want.s);
            want_text = console.text();
        }
        {
            Console_capture console;
            dilation(got.s);
            got_text = console.text();
        }
        EXPECT_EQ(got_text, want_text);
        expect_same_pass(got, want, "dilation loop", false);
    }
}

} // namespace
