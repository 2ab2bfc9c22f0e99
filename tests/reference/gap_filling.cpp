// Residual gap filling: the pixels that the dilation left empty take the
// rounded mean of their filled line and column neighbours.
#include "base/program_state.h"
#include "reference/reference.h"
#include "reference/window.h"
#include "surface/surface.h"

namespace reference {

namespace {

// Value written where the mean itself would be NO_DATA: the pixel must read
// as filled, or the sweeps would find it empty again and never end.
constexpr int kNear_no_data = NO_DATA + 1;

// Rounded mean of the filled cross neighbours of (i, j), or NO_DATA when none
// is filled. The sum is single precision, rounded after every addition; the
// mean is rounded half up in double precision and truncated toward zero.
int neighbour_mean(const Program_state& s, int i, int j)
{
    float tot = 0.0f;
    int ico = 0;
    for (const Window_position& p : kWindow) {
        const int k = i + p.dk;
        const int l = j + p.dl;
        if (!p.in_cross || !inside(s, k, l)) continue;
        const int v = s.itab[k][l];
        if (v == NO_DATA) continue;
        ++ico;
        tot = static_cast<float>(static_cast<long double>(v) + tot);
    }
    if (ico == 0) return NO_DATA;
    const int mean = static_cast<int>(static_cast<double>(tot) / ico + 0.5);
    return mean == NO_DATA ? kNear_no_data : mean;
}

} // namespace

// Sweeps in place: the pixels above and to the left count with the value this
// sweep gave them, those to the right and below with that of the sweep before.
// After: itab holds no NO_DATA unless it held no level at all; nb_pix_mod is 0.
void gap_filling(Program_state& s)
{
    s.nb_pix_mod = 1;
    while (s.nb_pix_mod > 0) {
        s.nb_pix_mod = 0;
        for (int i = 0; i < s.nb_lig; ++i)
            for (int j = 0; j < s.nb_col; ++j) {
                if (s.itab[i][j] != NO_DATA) continue;
                const int mean = neighbour_mean(s, i, j);
                if (mean == NO_DATA) continue;
                s.itab[i][j] = mean;
                ++s.nb_pix_mod;
            }
    }
}

} // namespace reference
