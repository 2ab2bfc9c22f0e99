// Seeded random grids for the differential tests: each grid is drawn from a
// seed of its own, so a failure names the seed that rebuilds it.
#pragma once

#include "surface/grid_helpers.h"

#include <cstdint>
#include <random>

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
