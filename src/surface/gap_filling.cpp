// Residual gap filling: the pixels that the dilation left empty take the
// rounded mean of their filled line and column neighbours.
//
// The sweeps are in place, so a sweep fills a pixel exactly when, at its turn,
// a neighbour is filled: one filled before the sweep, or the pixel above or
// to the left, filled earlier in the same sweep.
//
// Only the first sweep scans the grid. After it, the pixels to the right of
// and below any filled pixel are filled too (they came later in the sweep and
// saw it filled), and every later sweep keeps that so. A later sweep then
// fills exactly the pixels whose right or lower neighbour the sweep before
// filled: one that only its left or upper neighbour, filled in the same
// sweep, could reach would have had a filled pixel below it or to its right
// already. These are the left and upper neighbours, still empty, of the
// pixels the sweep before filled. Each later sweep visits just those, in the
// order of the full sweep, so every pixel reads the neighbours, with the
// values, that the full sweep would have read.
#include "base/program_state.h"
#include "surface/pixel_ring.h"
#include "surface/surface.h"

#include <cassert>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

// Value written where the mean itself would be NO_DATA: the pixel must read
// as filled, or the sweeps would find it empty again and never end.
constexpr int kNear_no_data = NO_DATA + 1;

// Rounded mean of the filled cross neighbours of (i, j), or NO_DATA when none
// is filled. The sum is single precision, rounded after every addition; the
// mean is rounded half up in double precision and truncated toward zero.
// Each value added is an int and each partial sum a float that holds an int
// below 2^34 in size, so every addition is exact as a double before its
// rounding to a float, as it is in extended precision.
int neighbour_mean(const Program_state& s, int i, int j)
{
    float tot = 0.0f;
    int ico = 0;
    const auto add = [&](int v) {
        if (v == NO_DATA) return;
        ++ico;
        tot = static_cast<float>(static_cast<double>(v) + static_cast<double>(tot));
    };
    // The cross in the window's visiting order: above, left, the pixel,
    // right, below.
    if (i > 0) add(s.itab[i - 1][j]);
    if (j > 0) add(s.itab[i][j - 1]);
    add(s.itab[i][j]);
    if (j + 1 < s.nb_col) add(s.itab[i][j + 1]);
    if (i + 1 < s.nb_lig) add(s.itab[i + 1][j]);
    if (ico == 0) return NO_DATA;
    const int mean = static_cast<int>(static_cast<double>(tot) / ico + 0.5);
    return mean == NO_DATA ? kNear_no_data : mean;
}

// The pixels the next sweep fills, gathered in sweep order into `out`: the
// left and upper neighbours, still empty, of the pixels this sweep fills.
// Those of a line come from the line itself (left neighbours) and from the
// line below (upper neighbours), so a line's list is complete only once the
// line below is swept: its left neighbours wait here and are merged with the
// upper neighbours as these come.
struct Next_sweep {
    Pixel_ring* out = nullptr;
    int line = -1;                        // the line being swept
    std::vector<std::int32_t> left_above; // left neighbours found in the line swept before
    std::size_t passed = 0;               // of left_above, those already in out
    std::vector<std::int32_t> left_here;  // left neighbours found in line
};

void pass_on_left_above(Next_sweep& n, std::int32_t before)
{
    while (n.passed < n.left_above.size() && n.left_above[n.passed] < before)
        n.out->push(n.left_above[n.passed++]);
}

// Moves the sweep on to line `line`, later than n.line. The left neighbours
// found in the line left behind wait for the upper neighbours of this one:
// those lie in the same line when the two lines follow each other, and below
// them otherwise, so merging keeps the sweep order either way.
void enter_line(Next_sweep& n, int line)
{
    pass_on_left_above(n, INT32_MAX);
    std::swap(n.left_above, n.left_here);
    n.left_here.clear();
    n.passed = 0;
    n.line = line;
}

// Passes on what is left once the sweep is over, ready for the next sweep.
void end_sweep(Next_sweep& n)
{
    pass_on_left_above(n, INT32_MAX);
    for (const std::int32_t p : n.left_here) n.out->push(p);
    n.left_above.clear();
    n.left_here.clear();
    n.passed = 0;
    n.line = -1;
}

// Fills pixel p = (i, j) with `mean` and records its left and upper
// neighbours, when still empty, as pixels of the next sweep.
void fill(Program_state& s, std::int32_t p, int i, int j, int mean, Next_sweep& next)
{
    assert(mean != NO_DATA && i == next.line);
    s.itab[i][j] = mean;
    if (j > 0 && s.itab[i][j - 1] == NO_DATA) next.left_here.push_back(p - 1);
    if (i > 0 && s.itab[i - 1][j] == NO_DATA) {
        const std::int32_t up = p - s.nb_col;
        pass_on_left_above(next, up);
        if (next.passed < next.left_above.size() && next.left_above[next.passed] == up)
            ++next.passed;
        next.out->push(up);
    }
}

// The first sweep, over the whole grid; returns the number of pixels filled.
int first_sweep(Program_state& s, Next_sweep& next)
{
    int filled = 0;
    for (int i = 0; i < s.nb_lig; ++i) {
        enter_line(next, i);
        for (int j = 0; j < s.nb_col; ++j) {
            if (s.itab[i][j] != NO_DATA) continue;
            const int mean = neighbour_mean(s, i, j);
            if (mean == NO_DATA) continue;
            fill(s, i * s.nb_col + j, i, j, mean, next);
            ++filled;
        }
    }
    end_sweep(next);
    return filled;
}

// A later sweep: fills, in sweep order, the `count` pixels that the sweep
// before left in `ring`, each of which has a filled neighbour, and leaves
// there the pixels of the next sweep; returns `count`.
int later_sweep(Program_state& s, Pixel_ring& ring, std::size_t count, Next_sweep& next)
{
    for (std::size_t n = 0; n < count; ++n) {
        const std::int32_t p = ring.pop();
        const int i = p / s.nb_col;
        const int j = p % s.nb_col;
        assert(s.itab[i][j] == NO_DATA);
        if (i != next.line) enter_line(next, i);
        fill(s, p, i, j, neighbour_mean(s, i, j), next);
    }
    end_sweep(next);
    return static_cast<int>(count);
}

} // namespace

// Sweeps in place: the pixels above and to the left count with the value this
// sweep gave them, those to the right and below with that of the sweep before.
// After: itab holds no NO_DATA unless it held no level at all; nb_pix_mod is 0.
void gap_filling(Program_state& s)
{
    const long long pixels = static_cast<long long>(s.nb_lig) * s.nb_col;
    if (pixels > kGrid_pixels_max)
        throw std::length_error("the gap filling cannot index a grid this size");
    s.nb_pix_mod = 0;
    if (pixels == 0) return;

    // The pixels of one sweep and those of the next are distinct, as the
    // former are filled and the latter empty: one int per pixel holds both.
    Pixel_ring ring;
    ring.reset(static_cast<std::size_t>(pixels));
    Next_sweep next;
    next.out = &ring;

    s.nb_pix_mod = first_sweep(s, next);
    while (s.nb_pix_mod > 0) s.nb_pix_mod = later_sweep(s, ring, ring.size, next);
}
