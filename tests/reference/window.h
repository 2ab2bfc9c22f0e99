// The neighbourhood of a pixel, as the reference stages walk it.
//
// Pixel (i, j) is line i, column j. Its 3 x 3 window is visited lines i - 1 to
// i + 1 (outer) and columns j - 1 to j + 1 (inner); its cross keeps only the
// positions in its own line or column: above, left, the pixel, right, below.
// Positions outside the grid are skipped, never read as empty or as a level.
#pragma once

#include "base/program_state.h"

// One position of the window: line i + dk, column j + dl.
struct Window_position {
    int dk;
    int dl;
    bool in_cross;
};

// The 3 x 3 window in visiting order; the cross is its in_cross subset.
inline constexpr Window_position kWindow[9] = {
    {-1, -1, false}, {-1, 0, true}, {-1, 1, false}, //
    {0, -1, true},   {0, 0, true},  {0, 1, true},   //
    {1, -1, false},  {1, 0, true},  {1, 1, false},
};

inline bool inside(const Program_state& s, int k, int l)
{
    return k >= 0 && k < s.nb_lig && l >= 0 && l < s.nb_col;
}
