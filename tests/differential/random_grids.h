// Seeded random grids for the differential tests, so that a failure can be
// replayed from its seed: grids of levels and empty pixels for the dilation
// and the gap filling (random_grid), and filled surfaces for the smoothing and
// the stages shared among the cores (random_rows).
#pragma once

#include "support/grid_helpers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct Random_grid {
    Rows rows;
    std::string name; // kind, size and seed
};

// The kinds of grid, each a different way of placing levels.
enum class Grid_kind {
    scattered, // levels on a random share of the pixels, 1 % to 99 %
    contours,  // the borders between bands of a smooth terrain, as a contour raster
    plateaus,  // rectangles of one level each over an empty ground
    one_level, // a single level on a few pixels
    all_empty, // no level at all
    no_empty,  // a level on every pixel
};

// Values the levels are drawn from.
enum class Level_set {
    scaled,  // multiples of 512 from -5120 to 5120, as Scaled altitudes
    close,   // -3 to 3: equal levels and levels one apart
    extreme, // around NO_DATA and the growth's start value, and beyond 2^24
    wide,    // anything from -2^20 to 2^20
};

inline const char* kind_name(Grid_kind k)
{
    switch (k) {
    case Grid_kind::scattered:
        return "scattered";
    case Grid_kind::contours:
        return "contours";
    case Grid_kind::plateaus:
        return "plateaus";
    case Grid_kind::one_level:
        return "one_level";
    case Grid_kind::all_empty:
        return "all_empty";
    case Grid_kind::no_empty:
        return "no_empty";
    }
    return "?";
}

inline const char* level_set_name(Level_set l)
{
    switch (l) {
    case Level_set::scaled:
        return "scaled";
    case Level_set::close:
        return "close";
    case Level_set::extreme:
        return "extreme";
    case Level_set::wide:
        return "wide";
    }
    return "?";
}

inline int random_level(std::mt19937_64& rng, Level_set set)
{
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    switch (set) {
    case Level_set::scaled:
        return 512 * pick(-10, 10);
    case Level_set::close:
        return pick(-3, 3);
    case Level_set::extreme: {
        // Pairs of these meet at -99999 (-100001 and -99998), sit below NO_DATA,
        // reach the growth's start value, or lose bits in a single-precision sum.
        static const int values[] = {-100002,  -100001,  -100000,   -99998,   -512,    0,
                                     99999998, 99999999, 100000000, 16777217, 33554431};
        return values[pick(0, static_cast<int>(std::size(values)) - 1)];
    }
    case Level_set::wide:
        return pick(-(1 << 20), 1 << 20);
    }
    return 0;
}

// A contour raster of a smooth terrain: a tilt and a few bumps, banded every
// `step`; a pixel holds its band's level when a line or column neighbour lies
// in a lower band. Sometimes a hilltop is cut flat into a plateau. With a
// step of 512 the levels are Scaled altitudes; with 1 or 2 the passes soon
// meet levels one apart, whose midpoint is the higher one.
inline Rows contour_rows(std::mt19937_64& rng, int nb_lig, int nb_col, int step = 512)
{
    std::uniform_real_distribution<double> u(0.0, 1.0);
    struct Bump {
        double x, y, s, a;
    };
    std::vector<Bump> bumps(1 + rng() % 4);
    const double side = std::max(nb_lig, nb_col);
    for (Bump& b : bumps)
        b = {u(rng) * nb_col, u(rng) * nb_lig, side * (0.1 + 0.3 * u(rng)), (u(rng) - 0.3) * 6.0};
    const double gx = (u(rng) - 0.5) * 8.0 / side;
    const double gy = (u(rng) - 0.5) * 8.0 / side;
    const double cap = u(rng) < 0.4 ? 1.0 + 3.0 * u(rng) : 1e9;
    auto band = [&](int i, int j) {
        double a = gx * j + gy * i;
        for (const Bump& b : bumps) {
            const double dx = j - b.x, dy = i - b.y;
            a += b.a * std::exp(-(dx * dx + dy * dy) / (2 * b.s * b.s));
        }
        return static_cast<int>(std::floor(std::min(a, cap)));
    };
    const Rows bands = make_rows(nb_lig, nb_col, band);
    return make_rows(nb_lig, nb_col, [&](int i, int j) {
        const int b = bands[i][j];
        const bool border = (i > 0 && bands[i - 1][j] < b) || (j > 0 && bands[i][j - 1] < b) ||
                            (j + 1 < nb_col && bands[i][j + 1] < b) ||
                            (i + 1 < nb_lig && bands[i + 1][j] < b);
        return border ? step * b : NO_DATA;
    });
}

inline Rows plateau_rows(std::mt19937_64& rng, int nb_lig, int nb_col, Level_set set)
{
    Rows rows = make_rows(nb_lig, nb_col, [](int, int) { return NO_DATA; });
    const int count = 1 + static_cast<int>(rng() % 5);
    for (int n = 0; n < count; ++n) {
        const int i0 = static_cast<int>(rng() % nb_lig), j0 = static_cast<int>(rng() % nb_col);
        const int i1 = std::min(nb_lig, i0 + 1 + static_cast<int>(rng() % 12));
        const int j1 = std::min(nb_col, j0 + 1 + static_cast<int>(rng() % 12));
        const int level = random_level(rng, set);
        for (int i = i0; i < i1; ++i)
            for (int j = j0; j < j1; ++j) rows[i][j] = level;
    }
    return rows;
}

// Sides from 1 to 64, small ones more often: most grids stay quick for the
// straightforward sweeps, and thin lines and columns come up often enough.
inline int random_side(std::mt19937_64& rng)
{
    const double x = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    return 1 + static_cast<int>(63.0 * x * x);
}

inline Random_grid random_grid(std::uint64_t seed)
{
    std::mt19937_64 rng(seed);
    const int nb_lig = random_side(rng);
    const int nb_col = random_side(rng);
    const auto kind = static_cast<Grid_kind>(rng() % 12 < 6 ? rng() % 2 : rng() % 6);
    const auto set = static_cast<Level_set>(rng() % 4);
    std::uniform_real_distribution<double> u(0.0, 1.0);

    Rows rows;
    std::string detail = std::string(" ") + level_set_name(set);
    switch (kind) {
    case Grid_kind::scattered: {
        const double density = 0.01 + 0.98 * u(rng) * u(rng);
        rows = make_rows(nb_lig, nb_col, [&](int, int) {
            return u(rng) < density ? random_level(rng, set) : NO_DATA;
        });
        break;
    }
    case Grid_kind::contours: {
        static const int steps[] = {512, 512, 1, 2};
        const int step = steps[rng() % 4];
        rows = contour_rows(rng, nb_lig, nb_col, step);
        detail = " step " + std::to_string(step);
        break;
    }
    case Grid_kind::plateaus:
        rows = plateau_rows(rng, nb_lig, nb_col, set);
        break;
    case Grid_kind::one_level: {
        const int level = random_level(rng, set);
        const double density = 0.05 * u(rng);
        rows =
            make_rows(nb_lig, nb_col, [&](int, int) { return u(rng) < density ? level : NO_DATA; });
        rows[rng() % nb_lig][rng() % nb_col] = level;
        break;
    }
    case Grid_kind::all_empty:
        rows = make_rows(nb_lig, nb_col, [](int, int) { return NO_DATA; });
        detail = "";
        break;
    case Grid_kind::no_empty:
        rows = make_rows(nb_lig, nb_col, [&](int, int) { return random_level(rng, set); });
        break;
    }
    const std::string name = kind_name(kind) + detail + ", " + std::to_string(nb_lig) + " x " +
                             std::to_string(nb_col) + ", seed " + std::to_string(seed);
    return {rows, name};
}

// Where two grids of the same state first differ, or "" when they are equal.
inline std::string first_difference(const Program_state& s, int** got, int** want)
{
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j)
            if (got[i][j] != want[i][j])
                return "at (" + std::to_string(i) + ", " + std::to_string(j) +
                       "): " + std::to_string(got[i][j]) + " instead of " +
                       std::to_string(want[i][j]);
    return "";
}

// ---- Filled surfaces -------------------------------------------------------

// Kinds of grid content; values stay below 2^30 in magnitude so that every
// smoothed value still fits an int.
enum class Content { uniform, huge, with_no_data, constant, plane, terrain };

inline const char* content_name(Content k)
{
    switch (k) {
    case Content::uniform:
        return "uniform";
    case Content::huge:
        return "huge";
    case Content::with_no_data:
        return "with_no_data";
    case Content::constant:
        return "constant";
    case Content::plane:
        return "plane";
    case Content::terrain:
        return "terrain";
    }
    return "?";
}

// A grid of nb_lig x nb_col pixels of the given content, from `rng`.
inline Rows random_rows(std::mt19937_64& rng, int nb_lig, int nb_col, Content kind)
{
    const auto uniform_int = [&](std::int64_t lo, std::int64_t hi) {
        return static_cast<int>(std::uniform_int_distribution<std::int64_t>(lo, hi)(rng));
    };
    // Magnitudes around the single-precision limit 2^24 and well beyond it.
    const int bits = std::uniform_int_distribution<int>(4, 30)(rng);
    const std::int64_t span = std::int64_t{1} << bits;
    switch (kind) {
    case Content::uniform:
        return make_rows(nb_lig, nb_col, [&](int, int) { return uniform_int(-span, span); });
    case Content::huge: {
        const int big = (1 << 30) - 1;
        return make_rows(nb_lig, nb_col, [&](int, int) {
            const int pick = uniform_int(0, 5);
            if (pick == 0) return big;
            if (pick == 1) return -big;
            if (pick == 2) return (1 << 24) + uniform_int(-3, 3);
            return uniform_int(-big, big);
        });
    }
    case Content::with_no_data: {
        const int per_mille = uniform_int(0, 1000);
        return make_rows(nb_lig, nb_col, [&](int, int) {
            return uniform_int(0, 999) < per_mille ? NO_DATA : uniform_int(-span, span);
        });
    }
    case Content::constant: {
        const int v = uniform_int(-span, span);
        return make_rows(nb_lig, nb_col, [&](int, int) { return v; });
    }
    case Content::plane: {
        const int a = uniform_int(-4096, 4096);
        const int b = uniform_int(-4096, 4096);
        const int d = uniform_int(-(1 << 26), 1 << 26);
        return make_rows(nb_lig, nb_col, [&](int l, int c) { return a * l + b * c + d; });
    }
    case Content::terrain: {
        // Smooth steps of Scaled altitudes, as a filled surface has.
        const int step = uniform_int(1, 512);
        return make_rows(nb_lig, nb_col, [&](int l, int c) {
            return step * ((l * l + 3 * c * c + l * c) / 37) + uniform_int(-2, 2);
        });
    }
    }
    return {};
}
