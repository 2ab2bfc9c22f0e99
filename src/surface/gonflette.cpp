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
//
// Within a layer the order of the pixels does not matter, since each reads
// only pixels of lower layers, which no pixel of the layer changes; nor does
// the order of the marks, each read from the grown grid alone. So the grid is
// cut into bands of lines, each with its own frontier and its own part of
// the memory, two of them the size of the last-level cache; workers take the
// bands of one layer in any order and all finish it before any starts the
// next. A band writes only its own pixels: a change
// that reaches a pixel of the band above or below is handed to that band, to
// be taken in the next layer, or in the marking.
#include "control/program_state.h"
#include "surface/parallel.h"
#include "surface/surface.h"
#include "surface/window.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <barrier>
#include <cassert>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

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

// Bytes of the three grids and the layer words per band: two bands, one per
// core here, fill the last-level cache. Smaller bands, down to the size of a
// core's own cache, came out slower: more of their pixels lie on a border.
constexpr std::int64_t kBand_bytes = 1 << 24;
// Bands per worker at least, for the workers to share out unequal bands.
constexpr int kBands_per_worker = 4;
// A pass with fewer new levels than this runs on one worker.
constexpr std::size_t kParallel_min_sources = 1 << 12;

// Entries one band hands across one border in one pass, per pixel of the
// border line: each pixel of a band is taken at most once per pass, and has
// three neighbours in the line across.
constexpr std::size_t kHanded_per_border_pixel = 3;

struct Pixel {
    int i;
    int j;
};

// Line and column of an index, without a division: the quotient through the
// reciprocal is off by at most one.
struct Index_split {
    int nb_col;
    double inverse;

    Pixel operator()(std::int32_t p) const
    {
        int i = static_cast<int>(static_cast<double>(p) * inverse);
        int j = static_cast<int>(p - static_cast<std::int64_t>(i) * nb_col);
        if (j < 0) {
            --i;
            j += nb_col;
        } else if (j >= nb_col) {
            ++i;
            j -= nb_col;
        }
        return {i, j};
    }
};

// What a pass shares among its workers.
struct Pass {
    Program_state& s;
    Dilation_work& w;
    Index_split split;
};

std::int32_t index_of(const Program_state& s, int i, int j) { return i * s.nb_col + j; }

// The layer words and the grown levels are read across the borders of the
// bands while their own band's worker writes them: all such accesses go
// through relaxed atomics, which cost plain loads and stores.
std::uint32_t word_of(Dilation_work& w, std::int32_t p)
{
    return std::atomic_ref<std::uint32_t>(w.layer[static_cast<std::size_t>(p)])
        .load(std::memory_order_relaxed);
}

void set_word(Dilation_work& w, std::int32_t p, std::uint32_t word)
{
    std::atomic_ref<std::uint32_t>(w.layer[static_cast<std::size_t>(p)])
        .store(word, std::memory_order_relaxed);
}

int grown_at(const Program_state& s, int i, int j)
{
    return std::atomic_ref<int>(s.itab2[i][j]).load(std::memory_order_relaxed);
}

void set_grown(Program_state& s, int i, int j, int level)
{
    std::atomic_ref<int>(s.itab2[i][j]).store(level, std::memory_order_relaxed);
}

void enqueue(Dilation_work& w, Dilation_band& b, std::int32_t p)
{
    set_word(w, p, word_of(w, p) | kPending);
    b.ring.push(p);
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

// The band across the border that line k, just outside band b, lies in, and
// the side of that band's boxes b's entries go to.
struct Across {
    Dilation_band& band;
    int side; // 0: b lies above it, 1: below
};

Across across(Dilation_work& w, const Dilation_band& b, int k)
{
    const std::size_t n = static_cast<std::size_t>(&b - w.bands.data());
    return k < b.first ? Across{w.bands[n - 1], 1} : Across{w.bands[n + 1], 0};
}

// Queues for layer t + 1 the neighbours among `part` of pixel p = q, of layer
// t, whose layer or level just changed: only those can change in turn. A
// neighbour of layer t or lower is final; one already queued waits in layer
// t + 1 (or in layer t, which it then belongs to). Each pixel thus enters a
// ring at most once per pass. A neighbour in another band is handed to it,
// which queues it in its turn if it is still to be queued.
template <std::size_t N>
void enqueue_neighbours(Pass& c, Dilation_band& b, Pixel q, std::int32_t p, std::uint32_t t,
                        const std::array<Offset, N>& part)
{
    const bool inner = q.i > b.first && q.i + 1 < b.end;
    for_neighbours(c.s, q, p, part, [&](int k, int, std::int32_t x) {
        const std::uint32_t word = word_of(c.w, x);
        if (inner || (k >= b.first && k < b.end)) {
            if ((word & kPending) == 0 && (word & kLayer_mask) > t) enqueue(c.w, b, x);
        } else if ((word & kLayer_mask) > t) {
            // A layer of t or lower at any moment stays so to the layer's end.
            const Across a = across(c.w, b, k);
            a.band.inbox[(t + 1) & 1][a.side].push(x);
        }
    });
}

// Queues the entries the bands above and below handed band b for layer t,
// unless b has queued them itself or they are final already.
void take_handed(Dilation_work& w, Dilation_band& b, std::uint32_t t)
{
    for (Pixel_list& box : b.inbox[t & 1]) {
        for (const std::int32_t x : box) {
            const std::uint32_t word = word_of(w, x);
            if ((word & kPending) == 0 && (word & kLayer_mask) >= t) enqueue(w, b, x);
        }
        box.clear();
    }
}

// The level that the growth sweep of layer t (>= 1) gives pixel p = q: the
// lowest of its neighbours already reached, those along its line and column
// only for t = 1. Every pixel of a layer below t is final when layer t is
// grown, and no other counts.
int grown_level(Pass& c, Pixel q, std::int32_t p, std::uint32_t t)
{
    int ico = 0;
    int alti = kNo_level_yet;
    // Without branches: which neighbours count follows no pattern to predict.
    auto count = [&](int k, int l, std::int32_t x) {
        const bool counted = (word_of(c.w, x) & kLayer_mask) < t;
        const int alt_prov = grown_at(c.s, k, l);
        ico += counted;
        alti = counted && alt_prov < alti ? alt_prov : alti;
    };
    if (t == 1)
        for_neighbours(c.s, q, p, kLine_and_column, count);
    else
        for_neighbours(c.s, q, p, kAll_eight, count);
    // The pixel that queued q is one of them.
    assert(ico > 0);
    return alti;
}

// Records that the grown level of pixel p = q of band b changed: behind the
// frontier in b's ring, and, on a border line, for the marks of the band
// across.
void keep(Pass& c, Dilation_band& b, Pixel q, std::int32_t p)
{
    b.ring.slots[b.kept_end] = p;
    b.kept_end = b.ring.wrap(b.kept_end + 1);
    ++b.kept;
    for (const int k : {q.i - 1, q.i + 1}) {
        if ((k >= b.first && k < b.end) || k < 0 || k >= c.s.nb_lig) continue;
        across(c.w, b, k).band.remark[k < b.first ? 1 : 0].push(index_of(c.s, k, q.j));
    }
}

// Grows pixel p = q of layer t >= 1, its layer word being `word`, when it and
// its eight neighbours lie inside band b, away from the grid's borders: the
// work of grown_level and enqueue_neighbours in one reading of the
// neighbours, whose words then still hold when the queueing uses them, as
// only b's worker writes them.
void grow_inner(Pass& c, Dilation_band& b, Pixel q, std::int32_t p, std::uint32_t t,
                std::uint32_t word)
{
    Program_state& s = c.s;
    Dilation_work& w = c.w;
    const std::int32_t nc = s.nb_col;
    const std::int32_t offset[8] = {-nc - 1, -nc, -nc + 1, -1, 1, nc - 1, nc, nc + 1};
    int* const up = s.itab2[q.i - 1];
    int* const line = s.itab2[q.i];
    int* const down = s.itab2[q.i + 1];
    int* const level_at[8] = {up + q.j - 1,   up + q.j,       up + q.j + 1, line + q.j - 1,
                              line + q.j + 1, down + q.j - 1, down + q.j,   down + q.j + 1};
    // The first growth sweep reads the line and column neighbours only.
    constexpr bool in_cross[8] = {false, true, false, true, true, false, true, false};
    std::uint32_t words[8];
    unsigned queued = 0;
    int alti = kNo_level_yet;
#pragma GCC unroll 8
    for (int n = 0; n < 8; ++n) {
        const std::uint32_t wx = word_of(w, p + offset[n]);
        words[n] = wx;
        const bool counted = (wx & kLayer_mask) < t && (t > 1 || in_cross[n]);
        const int alt_prov = std::atomic_ref<int>(*level_at[n]).load(std::memory_order_relaxed);
        alti = counted && alt_prov < alti ? alt_prov : alti;
        queued |= static_cast<unsigned>((wx & kPending) == 0 && (wx & kLayer_mask) > t) << n;
    }
    const bool level_changed = grown_at(s, q.i, q.j) != alti;
    if (!level_changed && (word & kLayer_mask) == t) return;
    set_word(w, p, t | (level_changed ? kKept : 0u));
    set_grown(s, q.i, q.j, alti);
    if (level_changed) keep(c, b, q, p);
    for (int n = 0; n < 8; ++n)
        if (queued >> n & 1) {
            set_word(w, p + offset[n], words[n] | kPending);
            b.ring.push(p + offset[n]);
        }
}

// How many entries of the frontier ahead of the one grown the memory around
// is asked for: the walk waits on memory far more than it computes.
constexpr std::size_t kAhead = 12;

// Asks the caches for the three lines of layer words and of grown levels
// around pixel p, which the growth will read soon.
void prefetch_around(const Pass& c, std::int32_t p)
{
#if defined(__GNUC__)
    const Pixel q = c.split(p);
    const std::uint32_t* words = c.w.layer.data() + p;
    __builtin_prefetch(words);
    __builtin_prefetch(c.s.itab2[q.i] + q.j);
    if (q.i > 0) {
        __builtin_prefetch(words - c.s.nb_col);
        __builtin_prefetch(c.s.itab2[q.i - 1] + q.j);
    }
    if (q.i + 1 < c.s.nb_lig) {
        __builtin_prefetch(words + c.s.nb_col);
        __builtin_prefetch(c.s.itab2[q.i + 1] + q.j);
    }
#else
    (void)c;
    (void)p;
#endif
}

// Grows the pixels of band b queued for layer t, each queued by a neighbour
// of layer t - 1 that changed (for t = 0, the new levels of itab), so each
// belongs to layer t unless it already lay lower. A pixel whose layer or level
// changes passes the change on to its neighbours; the new levels only to
// those along their line and column, as the first growth sweep reads no
// other. New levels are all kept, so that they lead the kept pixels. After
// layer 1, a pixel touching a new level only diagonally is queued for the
// second growth sweep, as soon as layer 1 is known not to hold it.
void grow_band_layer(Pass& c, Dilation_band& b, std::uint32_t t)
{
    Program_state& s = c.s;
    Dilation_work& w = c.w;
    if (t > 0) take_handed(w, b, t);
    for (std::size_t n = b.ring.size; n > 0; --n) {
        if (n > kAhead) prefetch_around(c, b.ring.slots[b.ring.wrap(b.ring.head + kAhead)]);
        const std::int32_t p = b.ring.pop();
        const std::uint32_t word = word_of(w, p) & ~kPending;
        set_word(w, p, word);
        if ((word & kLayer_mask) < t) continue;
        const Pixel q = c.split(p);
        if (t > 0 && q.i > b.first && q.i + 1 < b.end && q.j > 0 && q.j + 1 < s.nb_col) {
            grow_inner(c, b, q, p, t, word);
            continue;
        }
        const int level = t == 0 ? s.itab[q.i][q.j] : grown_level(c, q, p, t);
        const bool level_changed = t == 0 || grown_at(s, q.i, q.j) != level;
        if (!level_changed && (word & kLayer_mask) == t) continue;

        set_word(w, p, t | (level_changed ? kKept : 0u));
        set_grown(s, q.i, q.j, level);
        if (level_changed) keep(c, b, q, p);
        if (t == 0)
            enqueue_neighbours(c, b, q, p, t, kLine_and_column);
        else
            enqueue_neighbours(c, b, q, p, t, kAll_eight);
    }
    if (t == 1)
        for (std::size_t n = 0; n < b.sources; ++n) {
            const std::int32_t p = b.ring.slots[b.ring.wrap(b.first_slot + n)];
            enqueue_neighbours(c, b, c.split(p), p, 1, kDiagonal);
        }
}

// Entries waiting for layer t, over all bands (those handed twice counted twice).
std::size_t waiting(const Dilation_work& w, std::uint32_t t)
{
    std::size_t n = 0;
    for (const Dilation_band& b : w.bands)
        n += b.ring.size + b.inbox[t & 1][0].size + b.inbox[t & 1][1].size;
    return n;
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

// Writes the mark of (i, j) of band b, given the lines of itab2 around it,
// into itab1, and into itab when it falls on an empty pixel; such a pixel is
// counted in the band's modif and queued as a new level for the next pass. A
// mark equal to NO_DATA cannot be told from no mark and is not inserted.
void mark_and_insert(Program_state& s, Dilation_work& w, Dilation_band& b, const Three_lines& g,
                     int i, int j)
{
    const int mark = mark_of(g.up, g.line, g.down, j, s.nb_col);
    s.itab1[i][j] = mark;
    if (mark == NO_DATA || s.itab[i][j] != NO_DATA) return;
    s.itab[i][j] = mark;
    ++b.modif;
    enqueue(w, b, index_of(s, i, j));
}

void mark_and_insert(Program_state& s, Dilation_work& w, Dilation_band& b, int i, int j)
{
    mark_and_insert(s, w, b, lines_around(s, s.itab2, i), i, j);
}

// Marks every pixel of band b, in one scan; cheaper than the neighbourhoods
// when most levels changed. Leaves in its ring only the pixels inserted.
void mark_all(Program_state& s, Dilation_work& w, Dilation_band& b)
{
    b.ring.head = 0;
    b.ring.size = 0;
    for (int i = b.first; i < b.end; ++i) {
        const Three_lines g = lines_around(s, s.itab2, i);
        std::uint32_t* words = &w.layer[static_cast<std::size_t>(index_of(s, i, 0))];
        for (int j = 0; j < s.nb_col; ++j) {
            words[j] &= ~kKept;
            mark_and_insert(s, w, b, g, i, j);
        }
    }
    for (Pixel_list& box : b.remark) box.clear();
}

// Marks again each of the pixels of band b whose level changed, and its cross
// neighbours in the band, whose marks read its level; then the pixels that
// the bands across its borders found beside such pixels of theirs. A
// neighbour that is itself still to be taken is left for its turn, so that no
// pixel is both waiting there and queued as inserted: the ring then holds at
// most one entry per pixel. Leaves in the ring only the pixels inserted.
void mark_around(Pass& c, Dilation_band& b)
{
    Program_state& s = c.s;
    Dilation_work& w = c.w;
    b.ring.head = b.first_slot;
    b.ring.size = b.kept;
    for (std::size_t n = b.kept; n > 0; --n) {
        const std::int32_t p = b.ring.pop();
        w.layer[static_cast<std::size_t>(p)] &= ~kKept;
        const Pixel q = c.split(p);
        mark_and_insert(s, w, b, q.i, q.j);
        for_neighbours(s, q, p, kLine_and_column, [&](int k, int l, std::int32_t x) {
            if (k >= b.first && k < b.end && (w.layer[static_cast<std::size_t>(x)] & kKept) == 0)
                mark_and_insert(s, w, b, k, l);
        });
    }
    for (Pixel_list& box : b.remark) {
        for (const std::int32_t x : box) {
            const Pixel q = c.split(x);
            mark_and_insert(s, w, b, q.i, q.j);
        }
        box.clear();
    }
}

// Cuts the grid into bands and gives each its ring and boxes.
void make_bands(const Program_state& s, Dilation_work& w)
{
    const std::int64_t line_bytes = 16 * static_cast<std::int64_t>(s.nb_col);
    const int workers = worker_count(static_cast<std::int64_t>(s.nb_lig) * s.nb_col);
    const std::int64_t shared = (s.nb_lig + kBands_per_worker * workers - 1) /
                                (static_cast<std::int64_t>(kBands_per_worker) * workers);
    const int lines = w.settings.band_lines > 0
                          ? w.settings.band_lines
                          : static_cast<int>(std::clamp<std::int64_t>(
                                std::min(kBand_bytes / line_bytes, shared), 8, 1 << 20));
    w.band_lines = std::min(lines, s.nb_lig);
    const int count = (s.nb_lig + w.band_lines - 1) / w.band_lines;
    w.bands.clear();
    w.bands.resize(static_cast<std::size_t>(count));
    const std::size_t handed = kHanded_per_border_pixel * static_cast<std::size_t>(s.nb_col);
    const std::size_t per_border = 2 * handed + static_cast<std::size_t>(s.nb_col);
    // Two lists for each border, one on either side.
    w.lists = std::make_unique_for_overwrite<std::int32_t[]>(per_border * 2 *
                                                             static_cast<std::size_t>(count - 1));
    std::int32_t* next = w.lists.get();
    const auto give = [&](Pixel_list& list, std::size_t capacity) {
        list.slots = next;
        list.capacity = capacity;
        next += capacity;
    };
    for (int n = 0; n < count; ++n) {
        Dilation_band& b = w.bands[static_cast<std::size_t>(n)];
        b.first = n * w.band_lines;
        b.end = std::min(b.first + w.band_lines, s.nb_lig);
        b.ring.reset(static_cast<std::size_t>(b.end - b.first) *
                     static_cast<std::size_t>(s.nb_col));
        for (int side = 0; side < 2; ++side) {
            if (side == 0 ? n == 0 : n + 1 == count) continue;
            for (auto& parity : b.inbox) give(parity[side], handed);
            give(b.remark[side], static_cast<std::size_t>(s.nb_col));
        }
    }
}

// Fills band b for the first pass: nothing reached yet, no mark, and every
// level of itab waiting as new.
void start_band(Program_state& s, Dilation_work& w, Dilation_band& b)
{
    for (int i = b.first; i < b.end; ++i)
        for (int j = 0; j < s.nb_col; ++j) {
            s.itab2[i][j] = NO_DATA;
            s.itab1[i][j] = NO_DATA;
            if (s.itab[i][j] != NO_DATA) enqueue(w, b, index_of(s, i, j));
        }
}

// The steps of a pass that its workers take in step: the first pass's
// filling, the layers of the growth, the marks. Between steps every worker
// waits for all the others; the one that finishes a step last decides the
// next, and takes on its own the layers too small to share.
struct Steps {
    enum class Kind { start, grow, mark, done };
    Pass& c;
    std::size_t layer_min;
    Kind kind;
    std::uint32_t t = 0;
    std::atomic<std::size_t> next_band{0};

    // The step that follows the one just finished.
    void advance() noexcept
    {
        next_band.store(0, std::memory_order_relaxed);
        if (kind == Kind::start) {
            kind = Kind::grow;
            t = 0;
            for (Dilation_band& b : c.w.bands) {
                b.first_slot = b.kept_end = b.ring.head;
                b.sources = b.ring.size;
                b.kept = 0;
            }
            return;
        }
        if (kind == Kind::grow) {
            ++t;
            while (waiting(c.w, t) > 0 && waiting(c.w, t) < layer_min) {
                for (Dilation_band& b : c.w.bands) grow_band_layer(c, b, t);
                ++t;
            }
            if (waiting(c.w, t) > 0) return;
            kind = Kind::mark;
            return;
        }
        kind = Kind::done;
    }

    // This worker's share of the current step: the bands it takes.
    void work() noexcept
    {
        const std::size_t count = c.w.bands.size();
        for (std::size_t n = next_band.fetch_add(1, std::memory_order_relaxed); n < count;
             n = next_band.fetch_add(1, std::memory_order_relaxed)) {
            Dilation_band& b = c.w.bands[n];
            switch (kind) {
            case Kind::start:
                start_band(c.s, c.w, b);
                break;
            case Kind::grow:
                grow_band_layer(c, b, t);
                break;
            case Kind::mark:
                b.modif = 0;
                // Beyond an eighth of the band, one scan costs less than the
                // neighbourhoods.
                if (b.kept > b.ring.capacity / 8)
                    mark_all(c.s, c.w, b);
                else
                    mark_around(c, b);
                break;
            case Kind::done:
                break;
            }
        }
    }
};

// Runs the steps of a pass on `workers` workers, the calling thread one of
// them; a worker whose thread cannot be started is left out.
void run_steps(Steps& steps, int workers)
{
    std::barrier step_end(workers, [&steps]() noexcept { steps.advance(); });
    const auto worker = [&]() noexcept {
        while (steps.kind != Steps::Kind::done) {
            steps.work();
            step_end.arrive_and_wait();
        }
    };
    std::vector<std::thread> threads;
    int started = 1;
    try {
        threads.reserve(static_cast<std::size_t>(workers - 1));
        for (; started < workers; ++started) threads.emplace_back(worker);
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    // Those left out count neither in this step nor in the ones to come.
    for (int n = started; n < workers; ++n) step_end.arrive_and_drop();
    worker();
    for (std::thread& th : threads) th.join();
}

} // namespace

// Before: itab holds levels and NO_DATA; w is fresh, or was last used by the
// pass before on these grids. After: itab2 is the grown grid (entirely
// filled, or entirely NO_DATA when itab holds no level), itab1 the marks, itab
// has gained modif pixels, which wait in w as the next pass's new levels;
// nb_pix_mod is 0.
void gonflette(Program_state& s, Dilation_work& w)
{
    const long long pixels = static_cast<long long>(s.nb_lig) * s.nb_col;
    const bool first = !w.started;
    if (first) {
        static_assert(kGrid_side_max < static_cast<int>(kUnreached) &&
                      kGrid_pixels_max <= INT32_MAX);
        if (pixels > kGrid_pixels_max || s.nb_lig > kGrid_side_max || s.nb_col > kGrid_side_max)
            throw std::length_error("the dilation cannot index a grid of this size");
        w.layer.assign(static_cast<std::size_t>(pixels), kUnreached);
        make_bands(s, w);
        w.started = true;
    }
    Pass c{s, w, {s.nb_col, 1.0 / s.nb_col}};
    const Dilation_settings& set = w.settings;
    std::size_t sources = 0;
    for (const Dilation_band& b : w.bands) sources += b.ring.size;
    int workers = set.threads > 0 ? set.threads : worker_count(pixels);
    if (set.threads <= 0 && !first && sources < kParallel_min_sources) workers = 1;
    workers = std::max(1, std::min(workers, static_cast<int>(w.bands.size())));

    Steps steps{c, set.parallel_layer_min, first ? Steps::Kind::start : Steps::Kind::grow};
    if (!first) {
        steps.kind = Steps::Kind::start;
        steps.advance();
    }
    run_steps(steps, workers);

    s.modif = 0;
    for (const Dilation_band& b : w.bands) s.modif += b.modif;
    s.nb_pix_mod = 0;
}

void gonflette(Program_state& s)
{
    Dilation_work w;
    gonflette(s, w);
}
