// The conversions, the copy and the range scan as one-thread sweeps, line by
// line: the definition that the stages shared among the cores must match.
#pragma once

#include "base/console.h"
#include "base/program_state.h"
#include "surface/surface.h"

namespace plain {

inline void scale_to_scaled(Program_state& s, int equid)
{
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j)
            if (s.itab[i][j] != NO_DATA) {
                const int v = to_scaled(s.itab[i][j], equid);
                s.itab[i][j] = v == NO_DATA ? NO_DATA + 1 : v;
            }
}

inline void scale_back(Program_state& s, int equid)
{
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            const int v = from_scaled(s.itab1[i][j], equid);
            s.itab1[i][j] = v == NO_DATA ? NO_DATA + 1 : v;
        }
}

inline void copy_surface(Program_state& s)
{
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            s.itab2[i][j] = s.itab[i][j];
            s.itab1[i][j] = s.itab[i][j];
        }
}

inline void Min_max(int* Minv, int* maxv, int** tab, int NBcol, int NBlig)
{
    for (int i = 0; i < NBlig; ++i) {
        if ((i + 1) % 200 == 0) say("\tline %d\n", i + 1);
        for (int j = 0; j < NBcol; ++j) {
            const int v = tab[i][j];
            if (v < *Minv) *Minv = v;
            if (v > *maxv) *maxv = v;
        }
    }
    say("\n\tMin = %d  Max = %d", *Minv, *maxv);
}

} // namespace plain
