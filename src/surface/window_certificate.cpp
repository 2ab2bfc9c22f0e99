// The certificate of a window: which of its cells certainly hold the value
// that the build of the whole grid gives them. docs/tiles.md argues each step.
#include "surface/window_certificate.h"

#include "base/failure.h"
#include "base/program_state.h"
#include "surface/bezier_window.h"
#include "surface/surface.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Farther than any cell of a grid from any other; a growth sweep of kFar or
// more is one that never comes (a window without a level).
constexpr std::int32_t kFar = INT32_MAX / 2;
// Passes of doubt carried past the window's last pass when the whole grid's
// pass count is not known; if the doubt still grows, every empty pixel is
// doubtful, which is where it would end at worst.
constexpr int kExtra_passes_max = 64;

struct Shape {
    int nl;
    int nc;
    std::size_t at(int i, int j) const
    {
        return static_cast<std::size_t>(i) * static_cast<std::size_t>(nc) +
               static_cast<std::size_t>(j);
    }
    std::size_t size() const { return at(nl, 0); }
};

// Whether a cell has a line or column neighbour beyond a cut.
bool on_cut(const Shape& g, Window_cuts cuts, int i, int j)
{
    return (cuts.top && i == 0) || (cuts.bottom && i == g.nl - 1) || (cuts.left && j == 0) ||
           (cuts.right && j == g.nc - 1);
}

// One line of a chessboard distance sweep: `row` takes one more than the
// least of its three neighbours in the line `from` (the one swept before),
// then the distances run along the line in the sweep's direction.
void chessboard_line(std::int32_t* row, const std::int32_t* from, std::size_t nc, bool forward)
{
    if (from) {
        if (nc == 1) {
            row[0] = std::min(row[0], from[0] + 1);
        } else {
            row[0] = std::min(row[0], std::min(from[0], from[1]) + 1);
            for (std::size_t j = 1; j + 1 < nc; ++j)
                row[j] = std::min(row[j], std::min(std::min(from[j - 1], from[j]), from[j + 1]) + 1);
            row[nc - 1] = std::min(row[nc - 1], std::min(from[nc - 2], from[nc - 1]) + 1);
        }
    }
    if (forward)
        for (std::size_t j = 1; j < nc; ++j) row[j] = std::min(row[j], row[j - 1] + 1);
    else
        for (std::size_t j = nc - 1; j > 0; --j) row[j - 1] = std::min(row[j - 1], row[j] + 1);
}

// Chessboard distance from each cell to the nearest cell holding 0, in place:
// the other cells come in as kFar or as a bound of their own, and a sweep down
// and one up carry every distance along lines, columns and diagonals.
void chessboard(const Shape& g, std::vector<std::int32_t>& dist)
{
    const std::size_t nc = static_cast<std::size_t>(g.nc);
    std::int32_t* base = dist.data();
    for (int i = 0; i < g.nl; ++i)
        chessboard_line(base + g.at(i, 0), i > 0 ? base + g.at(i - 1, 0) : nullptr, nc, true);
    for (int i = g.nl - 1; i >= 0; --i)
        chessboard_line(base + g.at(i, 0), i < g.nl - 1 ? base + g.at(i + 1, 0) : nullptr, nc,
                        false);
}

// The growth sweep that reaches each pixel in a pass that starts from itab:
// 0 for a level, 1 for a line or column neighbour of one; every later sweep
// reaches the eight neighbours of what is filled, so a pixel beyond those of
// the first sweep is reached one sweep after its chessboard distance to them.
// kFar or more where no level is.
void growth_sweeps(const Program_state& s, std::vector<std::int32_t>& d)
{
    const Shape g{s.nb_lig, s.nb_col};
    d.resize(g.size());
    const auto level = [&](int i, int j) { return s.itab[i][j] != NO_DATA; };
    for (int i = 0; i < g.nl; ++i)
        for (int j = 0; j < g.nc; ++j) {
            const bool first = level(i, j) || (i > 0 && level(i - 1, j)) ||
                               (j > 0 && level(i, j - 1)) || (j < g.nc - 1 && level(i, j + 1)) ||
                               (i < g.nl - 1 && level(i + 1, j));
            d[g.at(i, j)] = first ? 0 : kFar;
        }
    chessboard(g, d);
    for (int i = 0; i < g.nl; ++i)
        for (int j = 0; j < g.nc; ++j) {
            std::int32_t& v = d[g.at(i, j)];
            v = level(i, j) ? 0 : v + 1;
        }
}

// Chessboard distance from each cell to the nearest doubtful cell or cell
// beyond a cut.
void doubt_distance(const Shape& g, Window_cuts cuts, const Doubt& doubt,
                    std::vector<std::int32_t>& dist)
{
    dist.resize(g.size());
    for (int i = 0; i < g.nl; ++i)
        for (int j = 0; j < g.nc; ++j) {
            std::int32_t v = doubt[g.at(i, j)] ? 0 : kFar;
            if (cuts.top) v = std::min(v, i + 1);
            if (cuts.bottom) v = std::min(v, g.nl - i);
            if (cuts.left) v = std::min(v, j + 1);
            if (cuts.right) v = std::min(v, g.nc - j);
            dist[g.at(i, j)] = v;
        }
    chessboard(g, dist);
}

// The doubt of itab after one pass, from the doubt before it and the sweeps
// that reach each pixel. A sweep reads only the 3 x 3 window of the sweep
// before, so the grown level of a pixel reached in sweep t depends on itab
// within chessboard distance t alone: it is certain when nothing doubtful
// lies that near. A mark is certain when the grown levels of the pixel and
// of its line and column neighbours are, and none of them lies beyond a cut;
// only the marks on empty pixels enter itab. Returns whether the doubt grew.
bool carry_doubt(const Program_state& s, Window_cuts cuts, const std::vector<std::int32_t>& d,
                 Doubt& doubt, std::vector<std::int32_t>& dist, Doubt& grown)
{
    const Shape g{s.nb_lig, s.nb_col};
    doubt_distance(g, cuts, doubt, dist);
    grown.resize(g.size());
    for (std::size_t p = 0; p < g.size(); ++p)
        grown[p] = doubt[p] || d[p] >= kFar || dist[p] <= d[p];
    bool grew = false;
    for (int i = 0; i < g.nl; ++i)
        for (int j = 0; j < g.nc; ++j) {
            const std::size_t p = g.at(i, j);
            if (doubt[p] || s.itab[i][j] != NO_DATA) continue;
            const bool mark_doubt = grown[p] || on_cut(g, cuts, i, j) ||
                                    (i > 0 && grown[g.at(i - 1, j)]) ||
                                    (j > 0 && grown[g.at(i, j - 1)]) ||
                                    (j < g.nc - 1 && grown[g.at(i, j + 1)]) ||
                                    (i < g.nl - 1 && grown[g.at(i + 1, j)]);
            if (mark_doubt) {
                doubt[p] = 1;
                grew = true;
            }
        }
    return grew;
}

} // namespace

int certified_dilation(Program_state& s, Window_cuts cuts, int whole_passes, Doubt& doubt)
{
    const Shape g{s.nb_lig, s.nb_col};
    doubt.assign(g.size(), 0);
    std::vector<std::int32_t> d;
    std::vector<std::int32_t> dist;
    Doubt grown;
    Dilation_work w;
    w.settings.marks = false;
    int passes = 0;
    s.modif = 1;
    while (s.modif > 0) {
        interruption_point();
        growth_sweeps(s, d);
        carry_doubt(s, cuts, d, doubt, dist, grown);
        s.modif = 0;
        ++passes;
        gonflette(s, w);
    }
    // The window's itab no longer changes, but the whole grid's may for more
    // passes, and each of them carries the doubt further.
    if (whole_passes > 0 && whole_passes <= passes) return passes;
    growth_sweeps(s, d);
    const int extra = whole_passes > 0 ? whole_passes - passes : kExtra_passes_max;
    for (int k = 0; k < extra; ++k)
        if (!carry_doubt(s, cuts, d, doubt, dist, grown)) return passes;
    if (whole_passes == 0)
        for (int i = 0; i < g.nl; ++i)
            for (int j = 0; j < g.nc; ++j)
                if (s.itab[i][j] == NO_DATA) doubt[g.at(i, j)] = 1;
    return passes;
}

void certify_gap_filling(const Program_state& s, Window_cuts cuts, Doubt& doubt)
{
    const Shape g{s.nb_lig, s.nb_col};
    Doubt seen(g.size(), 0);
    std::vector<std::size_t> region;
    const std::size_t nc = static_cast<std::size_t>(g.nc);
    for (int i0 = 0; i0 < g.nl; ++i0)
        for (int j0 = 0; j0 < g.nc; ++j0) {
            if (s.itab[i0][j0] != NO_DATA || seen[g.at(i0, j0)]) continue;
            // One region of empty pixels joined through lines and columns,
            // and whether it and its border are certain and inside the window.
            region.assign(1, g.at(i0, j0));
            seen[g.at(i0, j0)] = 1;
            bool certain = true;
            for (std::size_t n = 0; n < region.size(); ++n) {
                const std::size_t p = region[n];
                const int i = static_cast<int>(p / nc);
                const int j = static_cast<int>(p % nc);
                if (doubt[p] || on_cut(g, cuts, i, j)) certain = false;
                const int ks[4] = {i - 1, i, i, i + 1};
                const int ls[4] = {j, j - 1, j + 1, j};
                for (int m = 0; m < 4; ++m) {
                    const int k = ks[m];
                    const int l = ls[m];
                    if (k < 0 || k >= g.nl || l < 0 || l >= g.nc) continue;
                    const std::size_t q = g.at(k, l);
                    if (s.itab[k][l] == NO_DATA) {
                        if (!seen[q]) {
                            seen[q] = 1;
                            region.push_back(q);
                        }
                        continue;
                    }
                    if (doubt[q]) certain = false;
                }
            }
            if (!certain)
                for (const std::size_t p : region) doubt[p] = 1;
        }
}

void certify_smoothing(const Program_state& s, Window_cuts cuts, int maille, Doubt& doubt)
{
    const Shape g{s.nb_lig, s.nb_col};
    // Doubtful cells counted over every rectangle from the grid's corner.
    const Shape c{g.nl + 1, g.nc + 1};
    std::vector<std::uint32_t> count(c.size(), 0);
    for (int i = 0; i < g.nl; ++i)
        for (int j = 0; j < g.nc; ++j)
            count[c.at(i + 1, j + 1)] = count[c.at(i, j + 1)] + count[c.at(i + 1, j)] -
                                        count[c.at(i, j)] + doubt[g.at(i, j)];
    const int h = maille >> 1;
    for (int i = 0; i < g.nl; ++i) {
        const int bi = bezier_window_first(i, maille, g.nl);
        const bool lines_cut = (cuts.top && i - h < 0) || (cuts.bottom && i - h + maille >= g.nl);
        for (int j = 0; j < g.nc; ++j) {
            const int bj = bezier_window_first(j, maille, g.nc);
            const bool cut = lines_cut || (cuts.left && j - h < 0) ||
                             (cuts.right && j - h + maille >= g.nc);
            const std::uint32_t inside = count[c.at(bi + maille + 1, bj + maille + 1)] -
                                         count[c.at(bi, bj + maille + 1)] -
                                         count[c.at(bi + maille + 1, bj)] + count[c.at(bi, bj)];
            // Written in place: rows above are done, and later cells read
            // only the counts.
            doubt[g.at(i, j)] = cut || inside > 0;
        }
    }
}

int build_window_surface(Program_state& s, int maille, Window_cuts cuts, int whole_passes,
                         Doubt& doubt)
{
    const int passes = certified_dilation(s, cuts, whole_passes, doubt);
    interruption_point();
    certify_gap_filling(s, cuts, doubt);
    gap_filling(s);
    copy_surface(s);
    interruption_point();
    if (maille > 1) {
        smoothing(s, maille);
        interruption_point();
        certify_smoothing(s, cuts, maille, doubt);
    }
    return passes;
}
