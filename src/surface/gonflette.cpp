// One contour dilation pass: grow every level over the empty pixels, then
// insert a mid-level contour on the lower side of each border between levels.
//
// The growth sweeps advance every front by one pixel per sweep, so they build
// the grown grid layer by layer: layer 0 is the levels of itab; layer 1 the
// empty pixels with a line or column neighbour in layer 0, each taking the
// lowest of those; layer n >= 2 the pixels not reached before with any of
// their eight neighbours in layers 0 to n - 1, each taking the lowest of
// those. Here the layers are grown from a frontier instead of full sweeps.
//
// From one pass to the next only the pixels just inserted change: they join
// layer 0. Layers can then only shrink, and a pixel's layer and level depend
// only on its neighbours of lower layers. So a pass walks the layers in
// increasing order and recomputes only the neighbours of pixels whose layer
// or level has just changed; when a pixel comes out unchanged the change
// stops there. The marks are then recomputed only on and beside the pixels
// whose level changed, and only there can a mark fall on an empty pixel: an
// unchanged mark was inserted, if it could be, by the pass before.
#include "control/program_state.h"
#include "surface/surface.h"
#include "surface/window.h"

#include <array>
#include <cassert>
#include <climits>
#include <cstdint>
#include <stdexcept>

namespace {

// Start of the minimum search: levels are expected to lie below it.
constexpr int kNo_level_yet = 99999999;

// The word kept per pixel in Dilation_work::layer: the layer in the low bits,
// then two flags.
constexpr std::uint32_t kLayer_mask = (1u << 29) - 1;
// Layer of a pixel that no level has reached (all of them before the first pass).
constexpr std::uint32_t kUnreached = kLayer_mask;
// Its grown level changed in this pass; the marks around it are still to redo.
constexpr std::uint32_t kKept = 1u << 29;
// It waits in the ring for its layer to come, or is a new level of itab.
constexpr std::uint32_t kPending = 1u << 30;

struct Pixel {
    int i;
    int j;
};

Pixel pixel_at(const Program_state& s, std::int32_t p) { return {p / s.nb_col, p % s.nb_col}; }

std::int32_t index_of(const Program_state& s, int i, int j) { return i * s.nb_col + j; }

std::uint32_t layer_of(const Dilation_work& w, std::int32_t p) { return w.layer[p] & kLayer_mask; }

void enqueue(Dilation_work& w, std::int32_t p)
{
    w.layer[p] |= kPending;
    w.ring.push(p);
}

// A neighbour's position: line i + dk, column j + dl.
struct Offset {
    int dk;
    int dl;
};

// The positions of the window that `keep` retains, in its visiting order.
template <std::size_t N, typename Keep> constexpr std::array<Offset, N> window_part(Keep keep)
{
    std::array<Offset, N> part{};
    std::size_t n = 0;
    for (const Window_position& pos : kWindow)
        if (keep(pos)) part[n++] = {pos.dk, pos.dl};
    return part;
}

constexpr auto kLine_and_column =
    window_part<4>([](const Window_position& p) { return p.in_cross && (p.dk != 0 || p.dl != 0); });
constexpr auto kDiagonal = window_part<4>([](const Window_position& p) { return !p.in_cross; });
constexpr auto kAll_eight =
    window_part<8>([](const Window_position& p) { return p.dk != 0 || p.dl != 0; });

// Calls f(k, l, x) for every neighbour (k, l) of pixel p = q among `part`
// that lies inside the grid, x being its index. Most pixels are away from
// the borders and need no test.
template <std::size_t N, typename F>
void for_neighbours(const Program_state& s, Pixel q, std::int32_t p,
                    const std::array<Offset, N>& part, F&& f)
{
    const bool interior = q.i > 0 && q.j > 0 && q.i + 1 < s.nb_lig && q.j + 1 < s.nb_col;
#pragma GCC unroll 8
    for (const Offset& o : part) {
        const int k = q.i + o.dk;
        const int l = q.j + o.dl;
        if (!interior && !inside(s, k, l)) continue;
        f(k, l, p + o.dk * s.nb_col + o.dl);
    }
}

// Queues for layer t + 1 the neighbours among `part` of pixel p = q, of layer
// t, whose layer or level just changed: only those can change in turn. A
// neighbour of layer t or lower is final; one already queued waits in layer
// t + 1 (or in layer t, which it then belongs to). Each pixel thus enters the
// ring at most once per pass.
template <std::size_t N>
void enqueue_neighbours(const Program_state& s, Dilation_work& w, Pixel q, std::int32_t p,
                        std::uint32_t t, const std::array<Offset, N>& part)
{
    for_neighbours(s, q, p, part, [&](int, int, std::int32_t x) {
        const std::uint32_t word = w.layer[x];
        if ((word & kPending) == 0 && (word & kLayer_mask) > t) enqueue(w, x);
    });
}

// The level that the growth sweep of layer t (>= 1) gives pixel p = q: the
// lowest of its neighbours already reached, those along its line and column
// only for t = 1. Every pixel of a layer below t is final when layer t is
// grown, and no other counts.
int grown_level(const Program_state& s, const Dilation_work& w, Pixel q, std::int32_t p,
                std::uint32_t t)
{
    int ico = 0;
    int alti = kNo_level_yet;
    // Without branches: which neighbours count follows no pattern to predict.
    auto count = [&](int k, int l, std::int32_t x) {
        const bool counted = layer_of(w, x) < t;
        const int alt_prov = s.itab2[k][l];
        ico += counted;
        alti = counted && alt_prov < alti ? alt_prov : alti;
    };
    if (t == 1)
        for_neighbours(s, q, p, kLine_and_column, count);
    else
        for_neighbours(s, q, p, kAll_eight, count);
    // The pixel that queued q is one of them.
    assert(ico > 0);
    return alti;
}

// Where the pixels whose level changed go: ring slots from the head the pass
// started with, behind the frontier as it advances.
struct Kept {
    std::size_t end;
    std::size_t count;
};

// Grows the `count` pixels queued for layer t, each queued by a neighbour of
// layer t - 1 that changed (for t = 0, the new levels of itab), so each
// belongs to layer t unless it already lay lower. A pixel whose layer or level
// changes passes the change on to its neighbours; the new levels only to
// those along their line and column, as the first growth sweep reads no
// other. New levels are all kept, so that they lead the kept pixels.
void grow_layer(Program_state& s, Dilation_work& w, std::uint32_t t, std::size_t count, Kept& kept)
{
    for (std::size_t n = 0; n < count; ++n) {
        const std::int32_t p = w.ring.pop();
        w.layer[p] &= ~kPending;
        if (layer_of(w, p) < t) continue;
        const Pixel q = pixel_at(s, p);
        const int level = t == 0 ? s.itab[q.i][q.j] : grown_level(s, w, q, p, t);
        const bool level_changed = t == 0 || s.itab2[q.i][q.j] != level;
        if (!level_changed && layer_of(w, p) == t) continue;

        w.layer[p] = t | (level_changed ? kKept : 0u);
        s.itab2[q.i][q.j] = level;
        if (level_changed) {
            w.ring.slots[kept.end] = p;
            kept.end = w.ring.wrap(kept.end + 1);
            ++kept.count;
        }
        if (t == 0)
            enqueue_neighbours(s, w, q, p, t, kLine_and_column);
        else
            enqueue_neighbours(s, w, q, p, t, kAll_eight);
    }
}

// Grows itab2 from the new levels of itab waiting in the ring to the whole
// grid, layer by layer; returns the number of pixels whose level changed,
// left in the ring slots from its former head on. No more entries pass
// through the ring than it has slots, so the frontier never runs into them.
std::size_t grow(Program_state& s, Dilation_work& w)
{
    const std::size_t first = w.ring.head;
    const std::size_t sources = w.ring.size;
    Kept kept{first, 0};
    grow_layer(s, w, 0, sources, kept);
    grow_layer(s, w, 1, w.ring.size, kept);
    // A pixel touching a new level only diagonally is reached in the second
    // growth sweep, as soon as layer 1 is known not to hold it.
    for (std::size_t n = 0; n < sources; ++n) {
        const std::int32_t p = w.ring.slots[w.ring.wrap(first + n)];
        enqueue_neighbours(s, w, pixel_at(s, p), p, 1, kDiagonal);
    }
    for (std::uint32_t t = 2; !w.ring.empty(); ++t) grow_layer(s, w, t, w.ring.size, kept);
    return kept.count;
}

// Level halfway between two levels, rounded half up through a double; a whole
// negative half therefore comes out one higher. The sum wraps as a 32-bit int
// would, for levels too far apart to have a sum.
int midpoint(int ival2, int alt_prov)
{
    const int sum = static_cast<int>(static_cast<std::int64_t>(alt_prov) + ival2);
    return static_cast<int>(static_cast<double>(sum) * 0.5 + 0.5);
}

// The mark of pixel j of `line` in the grown grid, between the lines `up`
// and `down` (nullptr outside the grid): the midpoint with its strictly higher
// cross neighbour, the last in visiting order (above, left, right, below)
// when several are higher, neither the highest nor the lowest; NO_DATA when
// none is higher.
int mark_of(const int* up, const int* line, const int* down, int j, int nb_col)
{
    const int ival2 = line[j];
    bool higher = false;
    int alt_prov = 0;
    auto count = [&](int c) {
        if (c > ival2) {
            higher = true;
            alt_prov = c;
        }
    };
    if (up) count(up[j]);
    if (j > 0) count(line[j - 1]);
    if (j + 1 < nb_col) count(line[j + 1]);
    if (down) count(down[j]);
    return higher ? midpoint(ival2, alt_prov) : NO_DATA;
}

// Lines i - 1, i and i + 1 of a grid; nullptr for those outside.
struct Three_lines {
    const int* up;
    const int* line;
    const int* down;
};

Three_lines lines_around(const Program_state& s, int** grid, int i)
{
    return {i > 0 ? grid[i - 1] : nullptr, grid[i], i + 1 < s.nb_lig ? grid[i + 1] : nullptr};
}

// Writes the mark of (i, j), given the lines of itab2 around it, into itab1,
// and into itab when it falls on an empty pixel; such a pixel is counted in
// modif and queued as a new level for the next pass. A mark equal to NO_DATA
// cannot be told from no mark and is not inserted.
void mark_and_insert(Program_state& s, Dilation_work& w, const Three_lines& g, int i, int j)
{
    const int mark = mark_of(g.up, g.line, g.down, j, s.nb_col);
    s.itab1[i][j] = mark;
    if (mark == NO_DATA || s.itab[i][j] != NO_DATA) return;
    s.itab[i][j] = mark;
    ++s.modif;
    enqueue(w, index_of(s, i, j));
}

void mark_and_insert(Program_state& s, Dilation_work& w, int i, int j)
{
    mark_and_insert(s, w, lines_around(s, s.itab2, i), i, j);
}

// Marks every pixel, in one scan; cheaper than the neighbourhoods when most
// levels changed. Leaves in the ring only the pixels inserted.
void mark_all(Program_state& s, Dilation_work& w)
{
    w.ring.head = 0;
    w.ring.size = 0;
    for (int i = 0; i < s.nb_lig; ++i) {
        const Three_lines g = lines_around(s, s.itab2, i);
        std::uint32_t* words = &w.layer[static_cast<std::size_t>(index_of(s, i, 0))];
        for (int j = 0; j < s.nb_col; ++j) {
            words[j] &= ~kKept;
            mark_and_insert(s, w, g, i, j);
        }
    }
}

// Marks again each of the `kept` pixels whose level changed, recorded in the
// ring from slot `first`, and its cross neighbours, whose marks read its
// level. A neighbour that is itself still to be taken is left for its turn,
// so that no pixel is both waiting there and queued as inserted: the ring then
// holds at most one entry per pixel. Leaves in the ring only the pixels
// inserted.
void mark_around(Program_state& s, Dilation_work& w, std::size_t first, std::size_t kept)
{
    w.ring.head = first;
    w.ring.size = kept;
    for (std::size_t n = 0; n < kept; ++n) {
        const std::int32_t p = w.ring.pop();
        w.layer[p] &= ~kKept;
        const Pixel q = pixel_at(s, p);
        mark_and_insert(s, w, q.i, q.j);
        for_neighbours(s, q, p, kLine_and_column, [&](int k, int l, std::int32_t x) {
            if ((w.layer[x] & kKept) == 0) mark_and_insert(s, w, k, l);
        });
    }
}

// Fills w for the first pass: nothing reached yet, no mark, and every level
// of itab waiting as new.
void start(Program_state& s, Dilation_work& w)
{
    const long long pixels = static_cast<long long>(s.nb_lig) * s.nb_col;
    static_assert(kGrid_side_max < static_cast<int>(kUnreached) && kGrid_pixels_max <= INT32_MAX);
    if (pixels > kGrid_pixels_max || s.nb_lig > kGrid_side_max || s.nb_col > kGrid_side_max)
        throw std::length_error("the dilation cannot index a grid of this size");
    w.layer.assign(static_cast<std::size_t>(pixels), kUnreached);
    w.ring.reset(static_cast<std::size_t>(pixels));
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            s.itab2[i][j] = NO_DATA;
            s.itab1[i][j] = NO_DATA;
            if (s.itab[i][j] != NO_DATA) enqueue(w, index_of(s, i, j));
        }
    w.started = true;
}

} // namespace

// Before: itab holds levels and NO_DATA; w is fresh, or was last used by the
// pass before on these grids. After: itab2 is the grown grid (entirely
// filled, or entirely NO_DATA when itab holds no level), itab1 the marks, itab
// has gained modif pixels, which wait in w as the next pass's new levels;
// nb_pix_mod is 0.
void gonflette(Program_state& s, Dilation_work& w)
{
    if (!w.started) start(s, w);
    const std::size_t first = w.ring.head;
    const std::size_t kept = grow(s, w);
    s.modif = 0;
    // Beyond a quarter of the grid, one scan costs less than the neighbourhoods.
    if (kept > w.layer.size() / 4)
        mark_all(s, w);
    else
        mark_around(s, w, first, kept);
    s.nb_pix_mod = 0;
}

void gonflette(Program_state& s)
{
    Dilation_work w;
    gonflette(s, w);
}
