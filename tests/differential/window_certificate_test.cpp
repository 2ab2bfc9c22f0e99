// A window of a grid built on its own, against the build of the whole grid:
// every cell the certificate accepts holds the whole grid's value. Random
// grids of every kind (tests/differential/random_grids.h) and the sample
// terrain, windows from one cell up, cut on any of their sides.
#include "base/program_state.h"
#include "differential/random_grids.h"
#include "surface/surface.h"
#include "surface/window_certificate.h"
#include "support/grid_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

namespace {

// The whole grid's surface, from Scaled altitudes, and its pass count.
struct Whole {
    Rows surface;
    int passes = 0;
};

Whole build_whole(const Rows& rows, int maille)
{
    Grid_state g(rows);
    Console_capture console;
    Whole w;
    g.s.modif = 1;
    while (g.s.modif > 0) {
        g.s.modif = 0;
        ++w.passes;
        gonflette(g.s);
    }
    gap_filling(g.s);
    copy_surface(g.s);
    if (maille > 1) smoothing(g.s, maille);
    w.surface = g.itab1();
    return w;
}

struct Tally {
    long cells = 0;
    long certified = 0;
    long differing = 0; // cells whose window value is not the whole grid's
};

// Builds the window [i0, i0 + nl) x [j0, j0 + nc) of `rows` and checks every
// certified cell against `whole`.
void check_window(const Rows& rows, const Whole& whole, int i0, int j0, int nl, int nc,
                  int maille, bool give_passes, const std::string& name, Tally& t)
{
    const int lines = static_cast<int>(rows.size());
    const int cols = static_cast<int>(rows[0].size());
    const Window_cuts cuts{i0 > 0, i0 + nl < lines, j0 > 0, j0 + nc < cols};
    Grid_state g(make_rows(nl, nc, [&](int i, int j) { return rows[i0 + i][j0 + j]; }));
    Doubt doubt;
    {
        Console_capture console;
        build_window_surface(g.s, maille, cuts, give_passes ? whole.passes : 0, doubt);
    }
    for (int i = 0; i < nl; ++i)
        for (int j = 0; j < nc; ++j) {
            const int got = g.s.itab1[i][j];
            const int want = whole.surface[i0 + i][j0 + j];
            const bool certain = doubt[static_cast<std::size_t>(i * nc + j)] == 0;
            ++t.cells;
            t.certified += certain;
            t.differing += got != want;
            if (certain && got != want) {
                ADD_FAILURE() << name << ", window " << nl << " x " << nc << " at (" << i0 << ", "
                              << j0 << "), mesh " << maille << (give_passes ? ", passes given" : "")
                              << ": certified cell (" << i << ", " << j << ") holds " << got
                              << ", the whole grid " << want;
                return;
            }
        }
}

int pick(std::mt19937_64& rng, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// Tiles of one to three cells a side, thin strips and larger windows.
int window_side(std::mt19937_64& rng, int side)
{
    const int r = pick(rng, 0, 3);
    if (r == 0) return std::min(side, pick(rng, 1, 3));
    return pick(rng, 1, side);
}

void report(const char* what, const Tally& t)
{
    std::printf("%s: %ld cells in windows, %ld certified (%.1f %%), %ld differ from the whole "
                "grid\n",
                what, t.cells, t.certified, 100.0 * static_cast<double>(t.certified) / t.cells,
                t.differing);
}

TEST(WindowCertificate, NoCertifiedCellDiffersOnRandomGrids)
{
    static const int meshes[] = {1, 1, 2, 3, 5};
    Tally t;
    long windows = 0;
    for (std::uint64_t seed = 1; seed <= 400; ++seed) {
        const Random_grid grid = random_grid(seed);
        std::mt19937_64 rng(seed * 7919);
        const int lines = static_cast<int>(grid.rows.size());
        const int cols = static_cast<int>(grid.rows[0].size());
        int maille = meshes[seed % 5];
        if (maille >= lines || maille >= cols) maille = 1;
        const Whole whole = build_whole(grid.rows, maille);
        for (int w = 0; w < 8; ++w) {
            const int nl = window_side(rng, lines);
            const int nc = window_side(rng, cols);
            if (maille > 1 && (maille >= nl || maille >= nc)) continue;
            const int i0 = pick(rng, 0, lines - nl);
            const int j0 = pick(rng, 0, cols - nc);
            check_window(grid.rows, whole, i0, j0, nl, nc, maille, w % 2 == 0, grid.name, t);
            ++windows;
        }
    }
    std::printf("%ld windows\n", windows);
    report("random grids", t);
    EXPECT_GT(windows, 2000);
    // Refusing every cell would be sound and useless.
    EXPECT_GT(t.certified * 4, t.cells);
}

TEST(WindowCertificate, NoCertifiedCellDiffersOnTheSampleTerrain)
{
    std::ifstream in(std::string(RF_SOURCE_DIR) + "/data/sample/hills_c4.raw", std::ios::binary);
    Rows rows(300, std::vector<int>(400));
    for (auto& row : rows)
        for (int& v : row) {
            unsigned char b[4];
            in.read(reinterpret_cast<char*>(b), 4);
            v = static_cast<int>(static_cast<std::uint32_t>(b[0]) | (std::uint32_t{b[1]} << 8) |
                                 (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24));
        }
    ASSERT_TRUE(in);
    Rows scaled = rows;
    {
        Grid_state g(rows);
        scale_to_scaled(g.s, 10);
        scaled = g.itab();
    }
    std::mt19937_64 rng(2026);
    Tally t;
    for (const int maille : {1, 5}) {
        const Whole whole = build_whole(scaled, maille);
        for (int w = 0; w < 12; ++w) {
            const int nl = pick(rng, 8, 200);
            const int nc = pick(rng, 8, 260);
            const int i0 = pick(rng, 0, 300 - nl);
            const int j0 = pick(rng, 0, 400 - nc);
            check_window(scaled, whole, i0, j0, nl, nc, maille, w % 2 == 0, "sample terrain", t);
        }
    }
    report("sample terrain", t);
    EXPECT_GT(t.certified * 4, t.cells);
}

// A window that is the whole grid has no cut: nothing is in doubt.
TEST(WindowCertificate, TheWholeGridIsCertifiedWhole)
{
    std::mt19937_64 rng(5);
    Grid_state g(contour_rows(rng, 40, 50));
    Doubt doubt;
    Console_capture console;
    build_window_surface(g.s, 3, Window_cuts{}, 0, doubt);
    for (const std::uint8_t d : doubt) ASSERT_EQ(d, 0);
}

} // namespace
