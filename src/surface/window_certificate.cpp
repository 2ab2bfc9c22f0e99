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

// Lowers the chessboard distances of `dist` around the cells of `seeds`,
// which have just come to 0: a walk outward, one distance at a time, that
// goes on only where a distance drops.
void lower_distances(const Shape& g, std::vector<std::int32_t>& dist,
                     std::vector<std::size_t>& seeds)
{
    const std::size_t nc = static_cast<std::size_t>(g.nc);
    std::vector<std::size_t> next;
    while (!seeds.empty()) {
        next.clear();
        for (const std::size_t p : seeds) {
            const int i = static_cast<int>(p / nc);
            const int j = static_cast<int>(p % nc);
            const std::int32_t v = dist[p] + 1;
            for (int k = std::max(i - 1, 0); k <= std::min(i + 1, g.nl - 1); ++k)
                for (int l = std::max(j - 1, 0); l <= std::min(j + 1, g.nc - 1); ++l) {
                    const std::size_t q = g.at(k, l);
                    if (dist[q] > v) {
                        dist[q] = v;
                        next.push_back(q);
                    }
                }
        }
        seeds.swap(next);
    }
}

// What the doubt of the passes keeps from one pass to the next.
//
// The growth sweep that reaches a pixel in a pass: 0 for a level, 1 for a
// line or column neighbour of one (the first sweep's pixels); every later
// sweep reaches the eight neighbours of what is filled, so any other pixel is
// reached one sweep after its chessboard distance to the first sweep's
// pixels. kFar or more where no level is.
struct Doubt_passes {
    Shape g;
    Window_cuts cuts;
    std::vector<std::int32_t> reach; // chessboard distance to the first sweep's pixels
    std::vector<std::int32_t> dist;  // to the nearest doubtful cell or cell beyond a cut
    Doubt level;                     // the pixel was a level at the last update
    Doubt grown;                     // its grown level is in doubt in this pass
    std::vector<std::size_t> fresh;  // cells put in doubt by the last pass
    bool started = false;

    std::int32_t sweep(std::size_t p) const { return level[p] ? 0 : reach[p] + 1; }

    // Brings reach, level and dist up to the itab and doubt of s: in full the
    // first time, then from the levels and the doubt that are new alone, as
    // levels and doubt only ever grow and distances only ever drop.
    void update(const Program_state& s, const Doubt& doubt)
    {
        std::vector<std::size_t> seeds;
        if (!started) {
            reach.resize(g.size());
            level.assign(g.size(), 0);
            for (int i = 0; i < g.nl; ++i)
                for (int j = 0; j < g.nc; ++j)
                    level[g.at(i, j)] = s.itab[i][j] != NO_DATA;
            for (int i = 0; i < g.nl; ++i)
                for (int j = 0; j < g.nc; ++j) {
                    const bool first = level[g.at(i, j)] || (i > 0 && level[g.at(i - 1, j)]) ||
                                       (j > 0 && level[g.at(i, j - 1)]) ||
                                       (j < g.nc - 1 && level[g.at(i, j + 1)]) ||
                                       (i < g.nl - 1 && level[g.at(i + 1, j)]);
                    reach[g.at(i, j)] = first ? 0 : kFar;
                }
            chessboard(g, reach);
            doubt_distance(g, cuts, doubt, dist);
            started = true;
            return;
        }
        for (int i = 0; i < g.nl; ++i)
            for (int j = 0; j < g.nc; ++j) {
                const std::size_t p = g.at(i, j);
                if (level[p] || s.itab[i][j] == NO_DATA) continue;
                level[p] = 1;
                const auto seed = [&](std::size_t q) {
                    if (reach[q] == 0) return;
                    reach[q] = 0;
                    seeds.push_back(q);
                };
                seed(p);
                if (i > 0) seed(g.at(i - 1, j));
                if (j > 0) seed(g.at(i, j - 1));
                if (j < g.nc - 1) seed(g.at(i, j + 1));
                if (i < g.nl - 1) seed(g.at(i + 1, j));
            }
        lower_distances(g, reach, seeds);
        for (const std::size_t p : fresh) {
            if (dist[p] == 0) continue;
            dist[p] = 0;
            seeds.push_back(p);
        }
        lower_distances(g, dist, seeds);
    }

    // The doubt of itab after one pass, from the doubt before it. A sweep
    // reads only the 3 x 3 window of the sweep before, so the grown level of
    // a pixel reached in sweep t depends on itab within chessboard distance t
    // alone: it is certain when nothing doubtful lies that near. A mark is
    // certain when the grown levels of the pixel and of its line and column
    // neighbours are, and none of them lies beyond a cut; only the marks on
    // empty pixels enter itab. Returns whether the doubt grew.
    bool carry(const Program_state& s, Doubt& doubt)
    {
        update(s, doubt);
        grown.resize(g.size());
        for (std::size_t p = 0; p < g.size(); ++p) {
            const std::int32_t t = level[p] ? 0 : reach[p] + 1;
            grown[p] = static_cast<std::uint8_t>(doubt[p] | (t >= kFar) | (dist[p] <= t));
        }
        fresh.clear();
        const std::size_t nc = static_cast<std::size_t>(g.nc);
        for (int i = 0; i < g.nl; ++i) {
            const std::size_t row = g.at(i, 0);
            const std::uint8_t* gr = grown.data() + row;
            const std::uint8_t* up = i > 0 ? gr - nc : nullptr;
            const std::uint8_t* down = i < g.nl - 1 ? gr + nc : nullptr;
            std::uint8_t* dr = doubt.data() + row;
            const int* it = s.itab[i];
            const bool line_cut = (cuts.top && i == 0) || (cuts.bottom && i == g.nl - 1);
            for (std::size_t j = 0; j < nc; ++j) {
                if (dr[j] || it[j] != NO_DATA) continue;
                const bool mark_doubt = gr[j] || line_cut || (up && up[j]) || (down && down[j]) ||
                                        (j > 0 ? gr[j - 1] : cuts.left) ||
                                        (j + 1 < nc ? gr[j + 1] : cuts.right);
                if (mark_doubt) {
                    dr[j] = 1;
                    fresh.push_back(row + j);
                }
            }
        }
        return !fresh.empty();
    }
};

} // namespace

int certified_dilation(Program_state& s, Window_cuts cuts, int whole_passes, Doubt& doubt)
{
    const Shape g{s.nb_lig, s.nb_col};
    doubt.assign(g.size(), 0);
    if (!cuts.top && !cuts.bottom && !cuts.left && !cuts.right) {
        // The window is the whole grid: its build is the whole grid's, but
        // for a grid without a level, which nothing fills.
        bool any_level = false;
        for (int i = 0; i < g.nl && !any_level; ++i)
            for (int j = 0; j < g.nc && !any_level; ++j) any_level = s.itab[i][j] != NO_DATA;
        if (!any_level) doubt.assign(g.size(), 1);
        Dilation_work w;
        w.settings.marks = false;
        int passes = 0;
        s.modif = 1;
        while (s.modif > 0) {
            interruption_point();
            s.modif = 0;
            ++passes;
            gonflette(s, w);
        }
        return passes;
    }
    Doubt_passes track{g, cuts, {}, {}, {}, {}, {}, false};
    Dilation_work w;
    w.settings.marks = false;
    int passes = 0;
    s.modif = 1;
    while (s.modif > 0) {
        interruption_point();
        track.carry(s, doubt);
        s.modif = 0;
        ++passes;
        gonflette(s, w);
    }
    // The window's itab no longer changes, but the whole grid's may for more
    // passes, and each of them carries the doubt further.
    if (whole_passes > 0 && whole_passes <= passes) return passes;
    const int extra = whole_passes > 0 ? whole_passes - passes : kExtra_passes_max;
    for (int k = 0; k < extra; ++k)
        if (!track.carry(s, doubt)) return passes;
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
