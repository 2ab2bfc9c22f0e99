// One contour dilation pass: grow every level over the empty pixels, then
// insert a mid-level contour on the lower side of each border between levels.
#include "base/program_state.h"
#include "reference/reference.h"
#include "surface/surface.h"
#include "reference/window.h"

#include <cstdint>

namespace reference {

namespace {

// Start of the minimum search: levels are expected to lie below it.
constexpr int kNo_level_yet = 99999999;

// One growth sweep: every empty pixel of itab2 with a filled neighbour in the
// window takes, in itab1, the lowest of those neighbours. Reads only itab2, so
// a pixel filled by this sweep counts for its neighbours from the next sweep on.
void grow(Program_state& s, bool cross_only)
{
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            if (s.itab2[i][j] != NO_DATA) continue;
            int ico = 0;
            int alti = kNo_level_yet;
            for (const Window_position& p : kWindow) {
                const int k = i + p.dk;
                const int l = j + p.dl;
                if ((cross_only && !p.in_cross) || !inside(s, k, l)) continue;
                const int alt_prov = s.itab2[k][l];
                if (alt_prov == NO_DATA) continue;
                ++ico;
                if (alt_prov < alti) alti = alt_prov;
            }
            if (ico > 0) s.itab1[i][j] = alti;
        }
}

// Copies into itab2 the pixels that the last sweep filled in itab1, leaving
// the two grids identical; returns how many were copied.
int merge(Program_state& s)
{
    int copied = 0;
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j)
            if (s.itab1[i][j] != NO_DATA && s.itab2[i][j] == NO_DATA) {
                s.itab2[i][j] = s.itab1[i][j];
                ++copied;
            }
    return copied;
}

// Level halfway between two levels, rounded half up through a double; a whole
// negative half therefore comes out one higher. The sum wraps as a 32-bit int
// would, for levels too far apart to have a sum.
int midpoint(int ival2, int alt_prov)
{
    const int sum = static_cast<int>(static_cast<std::int64_t>(alt_prov) + ival2);
    return static_cast<int>(static_cast<double>(sum) * 0.5 + 0.5);
}

// Marks in itab1 every pixel of the grown grid that has a strictly higher
// cross neighbour with the midpoint between the two; every other pixel gets
// NO_DATA. Of several higher neighbours the last in visiting order is the
// partner, neither the highest nor the lowest.
void mark(Program_state& s)
{
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            const int ival2 = s.itab2[i][j];
            int ico = 0;
            int alt_prov = 0;
            for (const Window_position& p : kWindow) {
                const int k = i + p.dk;
                const int l = j + p.dl;
                if (!p.in_cross || !inside(s, k, l)) continue;
                if (s.itab2[k][l] > ival2) {
                    ++ico;
                    alt_prov = s.itab2[k][l];
                }
            }
            s.itab1[i][j] = ico > 0 ? midpoint(ival2, alt_prov) : NO_DATA;
        }
}

// Writes into itab the marks that fall on its empty pixels; returns how many.
// A mark equal to NO_DATA cannot be told from no mark and is not inserted.
int insert(Program_state& s)
{
    int inserted = 0;
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j)
            if (s.itab1[i][j] != NO_DATA && s.itab[i][j] == NO_DATA) {
                s.itab[i][j] = s.itab1[i][j];
                ++inserted;
            }
    return inserted;
}

} // namespace

// Before: itab holds levels and NO_DATA. After: itab2 is the grown grid
// (entirely filled, or entirely NO_DATA when itab holds no level), itab1 the
// marks, itab has gained modif pixels, nb_pix_mod is 0.
void gonflette(Program_state& s)
{
    s.nb_pix_mod = 1;
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            s.itab1[i][j] = s.itab[i][j];
            s.itab2[i][j] = s.itab[i][j];
        }

    // The first step grows along lines and columns only, so that a pixel
    // touched only diagonally waits for the second sweep.
    grow(s, true);
    merge(s);
    while (s.nb_pix_mod > 0) {
        s.nb_pix_mod = 0;
        grow(s, false);
        s.nb_pix_mod += merge(s);
    }

    mark(s);
    s.modif = insert(s);
}

} // namespace reference
