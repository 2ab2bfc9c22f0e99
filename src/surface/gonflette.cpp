// One contour dilation pass: grow every level over the empty pixels, then
// insert a mid-level contour on the lower side of each border between levels.
//
// The growth sweeps advance every front by one pixel per sweep, so they build
// the grown grid layer by layer: layer 0 is the levels of itab; layer 1 the
// empty pixels with a line or column neighbour in layer 0, each taking the
// lowest of those; layer n >= 2 the pixels not reached before with any of
// their eight neighbours in layers 0 to n - 1, each taking the lowest of
// those. So a pixel's layer and level are a function of its neighbours alone:
// its layer is 0 for a level of itab, else one more than its lowest
// neighbour's, counting a level of itab touched only diagonally as 1 (it
// reaches the pixel in the second sweep); its level is the lowest of its
// neighbours of lower layers, of its line and column only in layer 1. The
// grown grid is the one solution of these equations: the layers are the
// lengths of the shortest paths from the levels, and each level follows from
// those of lower layers.
//
// Such a solution can be reached in any order: a pixel recomputed after the
// last change of any of its neighbours holds its value. From one pass to the
// next only the pixels just inserted change, becoming levels of itab; layers
// only shrink. So a pass recomputes only the neighbours of pixels whose value
// has just changed, and of those only the ones of higher layers, the only ones
// that read it; when a pixel comes out unchanged the change stops there.
//
// The grid is cut into square tiles that fit a core's cache. A worker takes a
// tile and grows it through all its layers while it lies in cache, in the
// order of the growth sweeps, so that most pixels are recomputed once. A
// change that reaches a pixel of another tile is handed to that tile, which
// takes it up when it is next run; workers run the tiles until none has work
// left. Each tile's pixels are written only by the worker running it.
//
// The marks are then recomputed only on and beside the pixels whose level
// changed, and only there can a mark fall on an empty pixel: an unchanged
// mark was inserted, if it could be, by the pass before.
//
// A pass with many new levels, the first above all, changes most of the grid:
// it grows the whole grid afresh instead, in two scans that stream through
// memory, and marks every pixel on the way.
#include "control/host.h"
#include "control/program_state.h"
#include "surface/parallel.h"
#include "surface/scan_lines.h"
#include "surface/surface.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

// A tile of lines first_line to end_line - 1 and columns first_col to
// end_col - 1, and what a pass keeps for it.
struct Dilation_tile {
    int first_line = 0;
    int end_line = 0;
    int first_col = 0;
    int end_col = 0;
    // Between passes the pixels the last pass inserted: the next pass's new
    // levels.
    std::vector<std::int32_t> sources;
    // The pixels whose grown level changed in this pass, while they are few
    // enough for the marks to be redone around each; beyond, every mark of
    // the tile is (`rescan`).
    std::vector<std::int32_t> kept;
    bool rescan = false;
    // Pixels handed by the tiles around, and whether the tile waits to run
    // or runs: both under Dilation_tiles::lock.
    std::vector<std::int32_t> inbox;
    bool scheduled = false;
    int modif = 0;

    std::size_t pixels() const
    {
        return static_cast<std::size_t>(end_line - first_line) *
               static_cast<std::size_t>(end_col - first_col);
    }
};

// The pixels a worker's marks inserted in a pass by scans, and their count.
struct Scan_insertions {
    std::vector<std::int32_t> sources;
    int modif = 0;
};

struct Dilation_tiles {
    // Layer words per line of the grid: a few more than its columns, so that
    // the lines of a tile do not all fall on the same sets of the caches.
    std::int32_t stride = 0;
    // The reciprocal of the stride, to split an index without a division:
    // the quotient through it is off by at most one.
    double inverse = 0;
    int side = 0;
    int lines = 0; // tiles down the grid
    int cols = 0;  // tiles across
    std::vector<Dilation_tile> tile;
    // After a pass by scans, the pixels it inserted, until a pass by tiles
    // hands them to their tiles.
    std::vector<Scan_insertions> scanned;

    // The tiles waiting to run, and those waiting or running, under `lock`;
    // `wake` tells an idle worker that one is waiting or that none is left.
    std::mutex lock;
    std::condition_variable wake;
    std::vector<int> ready;
    std::size_t ready_head = 0;
    int active = 0;

    // The workers of the passes, as many as asked for unless a thread could
    // not be started.
    std::unique_ptr<Worker_team> team;
    int team_asked = 0;

    std::int32_t index(int i, int j) const { return i * stride + j; }

    void split(std::int32_t p, int& i, int& j) const
    {
        i = static_cast<int>(static_cast<double>(p) * inverse);
        j = static_cast<int>(p - static_cast<std::int64_t>(i) * stride);
        if (j < 0) {
            --i;
            j += stride;
        } else if (j >= stride) {
            ++i;
            j -= stride;
        }
    }
};

Dilation_work::Dilation_work() = default;
Dilation_work::Dilation_work(Dilation_work&&) noexcept = default;
Dilation_work& Dilation_work::operator=(Dilation_work&&) noexcept = default;
Dilation_work::~Dilation_work() = default;

namespace {

// The word kept per pixel in Dilation_work::layer: the layer in the low bits,
// then two flags.
constexpr std::uint32_t kLayer_mask = (1u << 29) - 1;
// Layer of a pixel that no level has reached (all of them before the first pass).
constexpr std::uint32_t kUnreached = kLayer_mask;
static_assert(kUnreached == kScan_unreached);
// Its grown level changed in this pass; the marks around it are still to redo.
constexpr std::uint32_t kKept = 1u << 29;
// It waits in the queue of the worker running its tile.
constexpr std::uint32_t kQueued = 1u << 30;

// Tiles of this side hold 16 bytes a pixel of grids and layer words, 64 KB
// in all: with the tiles around, well within a core's cache, and still few
// pixels on their borders.
constexpr int kTile_side = 64;
constexpr int kTile_side_max = 256;

// Stripes of the scans are 4 to 16 tiles wide, in sums of line and column:
// runs long enough for the memory to stream, and stripes enough, a few per
// worker, for the workers to keep clear of each other.
constexpr int kStripe_tiles_min = 4;
constexpr int kStripe_tiles_max = 16;
constexpr int kStripes_per_worker = 4;

// Layer words beyond the columns of each line: a cache line's worth.
constexpr int kLine_padding = 16;

// Beyond this share of a tile's pixels changed, one scan of the tile redoes
// its marks for less than the neighbourhoods.
constexpr std::size_t kRescan_share = 4;

// What a pass shares among its workers. The layer words and grown levels of
// a tile are read by the workers of the tiles around while its own writes
// them: all such accesses go through relaxed atomics, plain loads and stores.
// A worker that fails (its memory running out) records why, and the others
// stop at their next wait for it.
struct Pass {
    Pass(Program_state& state, Dilation_work& work, Dilation_tiles& tiles)
        : s(state), w(work), t(tiles)
    {
    }
    Program_state& s;
    Dilation_work& w;
    Dilation_tiles& t;
    std::atomic<bool> failed{false};
    std::mutex failure_lock;
    std::exception_ptr failure;
};

// Thrown within a worker that waits for one that has failed.
struct Pass_stopped {};

void record_failure(Pass& c, std::exception_ptr why)
{
    {
        const std::lock_guard<std::mutex> hold(c.failure_lock);
        if (!c.failure) c.failure = std::move(why);
    }
    // The workers of the growth wait for tiles under the tiles' lock.
    {
        const std::lock_guard<std::mutex> hold(c.t.lock);
        c.failed.store(true);
    }
    c.t.wake.notify_all();
}

// Runs body(t) on every worker of the team and returns once all have; the
// first failure among them is thrown then.
template <typename Body> void run_pass(Pass& c, Worker_team& team, Body&& body)
{
    team.run([&](int t) {
        try {
            body(t);
        } catch (const Pass_stopped&) {
        } catch (...) {
            record_failure(c, std::current_exception());
        }
    });
    if (c.failure) std::rethrow_exception(c.failure);
}

std::uint32_t word_at(Pass& c, std::int32_t p)
{
    return std::atomic_ref<std::uint32_t>(c.w.layer[static_cast<std::size_t>(p)])
        .load(std::memory_order_relaxed);
}

void set_word(Pass& c, std::int32_t p, std::uint32_t word)
{
    std::atomic_ref<std::uint32_t>(c.w.layer[static_cast<std::size_t>(p)])
        .store(word, std::memory_order_relaxed);
}

int level_at(int* line, int j)
{
    return std::atomic_ref<int>(line[j]).load(std::memory_order_relaxed);
}

void set_level(int* line, int j, int level)
{
    std::atomic_ref<int>(line[j]).store(level, std::memory_order_relaxed);
}

// The eight neighbours of a pixel, in the window's visiting order: lines
// i - 1 to i + 1, columns j - 1 to j + 1.
constexpr int kDk[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
constexpr int kDl[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr bool kCross[8] = {false, true, false, true, true, false, true, false};

// The tile a worker runs, and the pixels it queues: its own in a ring of the
// worker's, processed first in first out, as line and column within the tile;
// those of the tiles around in one list per tile, handed on when the ring
// runs dry. A pixel waits in the ring at most once at a time, so the ring
// never holds more entries than the tile has pixels.
struct Runner {
    Pass& c;
    std::uint32_t* words;
    int** levels;
    std::int32_t stride;
    std::unique_ptr<std::uint32_t[]> ring;
    std::uint32_t mask = 0;
    std::uint32_t head = 0;
    std::uint32_t tail = 0;
    int n = 0; // the tile run
    Dilation_tile* tile = nullptr;
    int first_line = 0, end_line = 0, first_col = 0, end_col = 0;
    std::vector<std::int32_t> out[9];

    explicit Runner(Pass& pass)
        : c(pass), words(pass.w.layer.get()), levels(pass.s.itab2), stride(pass.t.stride)
    {
        std::uint32_t room = 1;
        while (room <
               static_cast<std::uint32_t>(pass.t.side) * static_cast<std::uint32_t>(pass.t.side))
            room <<= 1;
        ring = std::make_unique_for_overwrite<std::uint32_t[]>(room);
        mask = room - 1;
    }

    void take(int tile_number)
    {
        n = tile_number;
        tile = &c.t.tile[static_cast<std::size_t>(n)];
        first_line = tile->first_line;
        end_line = tile->end_line;
        first_col = tile->first_col;
        end_col = tile->end_col;
    }

    bool in_tile(int i, int j) const
    {
        return i >= first_line && i < end_line && j >= first_col && j < end_col;
    }

    bool empty() const { return head == tail; }

    void push(int i, int j)
    {
        ring[tail++ & mask] = static_cast<std::uint32_t>(i - first_line) << 16 |
                              static_cast<std::uint32_t>(j - first_col);
    }

    void pop(int& i, int& j)
    {
        const std::uint32_t e = ring[head++ & mask];
        i = first_line + static_cast<int>(e >> 16);
        j = first_col + static_cast<int>(e & 0xffff);
    }

    // Queues pixel (k, l), index x, of layer word `word`, for recomputing.
    void queue_pixel(int k, int l, std::int32_t x, std::uint32_t word)
    {
        if (in_tile(k, l)) {
            if (word & kQueued) return;
            set_word(c, x, word | kQueued);
            push(k, l);
            return;
        }
        const int dk = k < first_line ? 0 : k < end_line ? 1 : 2;
        const int dl = l < first_col ? 0 : l < end_col ? 1 : 2;
        out[dk * 3 + dl].push_back(x);
    }
};

// Records that the grown level of pixel p of tile t changed in this pass.
void keep(Dilation_tile& t, std::int32_t p)
{
    if (t.rescan) return;
    t.kept.push_back(p);
    if (t.kept.size() > t.pixels() / kRescan_share) t.rescan = true;
}

// The layer and level that pixel (i, j) takes from its neighbours, whose
// layer words and levels are given; the layer kUnreached when none is
// reached.
struct Grown {
    std::uint32_t layer;
    int level;
};

inline Grown grow_from(const std::uint32_t (&words)[8], const int (&levels)[8])
{
    std::uint32_t l[8];
#pragma GCC unroll 8
    for (int n = 0; n < 8; ++n) l[n] = words[n] & kLayer_mask;
    const std::uint32_t cross = std::min(std::min(l[1], l[3]), std::min(l[4], l[6]));
    const std::uint32_t diagonal = std::min(std::min(l[0], l[2]), std::min(l[5], l[7]));
    std::uint32_t layer = std::min(cross + 1, diagonal == 0 ? 2u : diagonal + 1);
    if (layer >= kUnreached) return {kUnreached, kNo_level_yet};
    int alti = kNo_level_yet;
#pragma GCC unroll 8
    for (int n = 0; n < 8; ++n) {
        // Without branches: which neighbours count follows no pattern to predict.
        const bool counted = l[n] < layer && (layer > 1 || kCross[n]);
        alti = counted && levels[n] < alti ? levels[n] : alti;
    }
    return {layer, alti};
}

// Recomputes pixel (i, j), index p, of layer word `word` (queued flag
// cleared), when it and its eight neighbours lie inside the tile, away from
// its border: no other worker writes any of them nor reads the pixel, so
// plain loads and stores serve but for the neighbours' queued flags, and the
// neighbours' words read for the growth still hold when the queueing uses
// them.
void recompute_inner(Runner& r, std::int32_t p, int i, int j, std::uint32_t word)
{
    std::uint32_t* const wd = r.words + p;
    const std::int32_t st = r.stride;
    const int* const up = r.levels[i - 1] + j;
    int* const line = r.levels[i] + j;
    const int* const down = r.levels[i + 1] + j;
    const std::uint32_t words[8] = {wd[-st - 1], wd[-st],    wd[-st + 1], wd[-1],
                                    wd[1],       wd[st - 1], wd[st],      wd[st + 1]};
    const int levels[8] = {up[-1], up[0], up[1], line[-1], line[1], down[-1], down[0], down[1]};
    const Grown g = grow_from(words, levels);
    if (g.layer == kUnreached) return;
    const int before = *line;
    if (g.layer == (word & kLayer_mask) && g.level == before) return;
    std::uint32_t flags = word & kKept;
    if (g.level != before && flags == 0) {
        flags = kKept;
        keep(*r.tile, p);
    }
    *line = g.level;
    *wd = g.layer | flags;
    const std::int32_t offset[8] = {-st - 1, -st, -st + 1, -1, 1, st - 1, st, st + 1};
#pragma GCC unroll 8
    for (int n = 0; n < 8; ++n) {
        const std::uint32_t x = words[n];
        if ((x & kLayer_mask) > g.layer && (x & kQueued) == 0) {
            // A neighbour on the tile's border is read by the workers around.
            std::atomic_ref<std::uint32_t>(wd[offset[n]])
                .store(x | kQueued, std::memory_order_relaxed);
            r.push(i + kDk[n], j + kDl[n]);
        }
    }
}

// Recomputes pixel (i, j), index p, from its neighbours and, when its layer
// or level changes, queues the neighbours that read it: those of higher
// layers. On the tile's border, where the workers of the tiles around read
// and write, through atomics.
void recompute(Runner& r, int i, int j)
{
    Pass& c = r.c;
    Program_state& s = c.s;
    const std::int32_t st = r.stride;
    const std::int32_t p = i * st + j;
    const std::uint32_t word = word_at(c, p) & ~kQueued;
    if (i > r.first_line && i + 1 < r.end_line && j > r.first_col && j + 1 < r.end_col) {
        r.words[p] = word;
        if ((word & kLayer_mask) != 0) recompute_inner(r, p, i, j, word);
        return;
    }
    set_word(c, p, word);
    if ((word & kLayer_mask) == 0) return;
    const int nc = s.nb_col;
    std::uint32_t words[8];
    int levels[8];
    unsigned valid = 0;
#pragma GCC unroll 8
    for (int n = 0; n < 8; ++n) {
        const int k = i + kDk[n];
        const int l = j + kDl[n];
        words[n] = kUnreached;
        levels[n] = kNo_level_yet;
        if (k < 0 || k >= s.nb_lig || l < 0 || l >= nc) continue;
        valid |= 1u << n;
        words[n] = word_at(c, p + kDk[n] * st + kDl[n]);
        levels[n] = level_at(s.itab2[k], l);
    }
    // A pixel queued by a neighbour that reached it is reached.
    const Grown g = grow_from(words, levels);
    if (g.layer == kUnreached) return;
    const int before = level_at(s.itab2[i], j);
    if (g.layer == (word & kLayer_mask) && g.level == before) return;
    std::uint32_t flags = word & kKept;
    if (g.level != before && flags == 0) {
        flags = kKept;
        keep(*r.tile, p);
    }
    set_level(s.itab2[i], j, g.level);
    set_word(c, p, g.layer | flags);
    for (int n = 0; n < 8; ++n)
        if ((valid >> n & 1) && (words[n] & kLayer_mask) > g.layer)
            r.queue_pixel(i + kDk[n], j + kDl[n], p + kDk[n] * st + kDl[n], words[n]);
}

// Queues the neighbours of level (i, j) of itab along its line and column
// (`cross`) or its diagonal ones.
void queue_around_level(Runner& r, int i, int j, bool cross)
{
    Program_state& s = r.c.s;
    const std::int32_t p = i * r.stride + j;
    for (int n = 0; n < 8; ++n) {
        if (kCross[n] != cross) continue;
        const int k = i + kDk[n];
        const int l = j + kDl[n];
        if (k < 0 || k >= s.nb_lig || l < 0 || l >= s.nb_col) continue;
        const std::int32_t x = p + kDk[n] * r.stride + kDl[n];
        const std::uint32_t word = word_at(r.c, x);
        if ((word & kLayer_mask) > 0) r.queue_pixel(k, l, x, word);
    }
}

// Recomputes the queued pixels in order until the ring runs dry, or `limit`
// of them.
void drain(Runner& r, std::uint32_t limit = UINT32_MAX)
{
    for (std::uint32_t done = 0; !r.empty() && done < limit; ++done) {
        int i, j;
        r.pop(i, j);
        recompute(r, i, j);
    }
}

// Puts tile n in the list of those waiting to run, unless it waits or runs
// already. Under Dilation_tiles::lock.
void schedule(Dilation_tiles& t, int n)
{
    Dilation_tile& tile = t.tile[static_cast<std::size_t>(n)];
    if (tile.scheduled) return;
    tile.scheduled = true;
    ++t.active;
    t.ready.push_back(n);
    t.wake.notify_one();
}

// Hands the pixels queued for the tiles around to them.
void hand_on(Runner& r)
{
    Dilation_tiles& t = r.c.t;
    bool any = false;
    for (const auto& list : r.out) any = any || !list.empty();
    if (!any) return;
    std::lock_guard<std::mutex> hold(t.lock);
    const int ti = r.n / t.cols;
    const int tj = r.n % t.cols;
    for (int d = 0; d < 9; ++d) {
        std::vector<std::int32_t>& list = r.out[d];
        if (list.empty()) continue;
        const int m = (ti + d / 3 - 1) * t.cols + tj + d % 3 - 1;
        Dilation_tile& other = t.tile[static_cast<std::size_t>(m)];
        other.inbox.insert(other.inbox.end(), list.begin(), list.end());
        list.clear();
        schedule(t, m);
    }
}

// Sets the new levels of tile t in the grown grid, before any tile grows, so
// that every tile reads the levels of the tiles around from the start.
void set_sources(Program_state& s, Dilation_work& w, Dilation_tile& t)
{
    for (const std::int32_t p : t.sources) {
        int i, j;
        w.tiles->split(p, i, j);
        s.itab2[i][j] = s.itab[i][j];
        w.layer[static_cast<std::size_t>(p)] = 0u | kKept;
        keep(t, p);
    }
}

// Grows tile n from its new levels, in the order of the first sweeps: their
// line and column neighbours, then their diagonal ones, then on.
void grow_from_sources(Runner& r)
{
    Dilation_tile& t = *r.tile;
    const auto around = [&](bool cross) {
        for (const std::int32_t p : t.sources) {
            int i, j;
            r.c.t.split(p, i, j);
            queue_around_level(r, i, j, cross);
        }
    };
    around(true);
    drain(r, r.tail - r.head);
    around(false);
    t.sources.clear();
}

// Runs tile n until neither its ring nor its inbox holds work.
void run_tile(Runner& r, int n, std::vector<std::int32_t>& handed)
{
    Dilation_tiles& t = r.c.t;
    r.take(n);
    if (!r.tile->sources.empty()) grow_from_sources(r);
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(t.lock);
            handed.swap(r.tile->inbox);
        }
        for (const std::int32_t x : handed) {
            int i, j;
            t.split(x, i, j);
            r.queue_pixel(i, j, x, word_at(r.c, x));
        }
        handed.clear();
        drain(r);
        hand_on(r);
        std::lock_guard<std::mutex> hold(t.lock);
        if (!r.tile->inbox.empty()) continue;
        r.tile->scheduled = false;
        if (--t.active == 0) t.wake.notify_all();
        return;
    }
}

// A worker of the growth: runs waiting tiles until none waits or runs.
void grow_worker(Pass& c)
{
    Runner r(c);
    std::vector<std::int32_t> handed;
    Dilation_tiles& t = c.t;
    std::unique_lock<std::mutex> hold(t.lock);
    for (;;) {
        t.wake.wait(hold, [&] {
            return t.ready_head < t.ready.size() || t.active == 0 || c.failed.load();
        });
        if (t.ready_head == t.ready.size() || c.failed.load()) return;
        const int n = t.ready[t.ready_head++];
        if (t.ready_head == t.ready.size()) {
            t.ready.clear();
            t.ready_head = 0;
        }
        hold.unlock();
        run_tile(r, n, handed);
        hold.lock();
    }
}

// Level halfway between two levels, rounded half up through a double; a whole
// negative half therefore comes out one higher. The sum wraps as a 32-bit int
// would, for levels too far apart to have a sum.
int midpoint(int ival2, int alt_prov)
{
    const int sum = static_cast<int>(static_cast<std::int64_t>(alt_prov) + ival2);
    return static_cast<int>(static_cast<double>(sum) * 0.5 + 0.5);
}

// The mark of pixel (i, j) in the grown grid: the midpoint with its strictly
// higher cross neighbour, the last in visiting order (above, left, right,
// below) when several are higher, neither the highest nor the lowest; NO_DATA
// when none is higher.
int mark_of(const Program_state& s, int i, int j)
{
    const int ival2 = s.itab2[i][j];
    bool higher = false;
    int alt_prov = 0;
    auto count = [&](int c) {
        if (c > ival2) {
            higher = true;
            alt_prov = c;
        }
    };
    if (i > 0) count(s.itab2[i - 1][j]);
    if (j > 0) count(s.itab2[i][j - 1]);
    if (j + 1 < s.nb_col) count(s.itab2[i][j + 1]);
    if (i + 1 < s.nb_lig) count(s.itab2[i + 1][j]);
    return higher ? midpoint(ival2, alt_prov) : NO_DATA;
}

// Writes the mark of (i, j) into itab1 when `keep_marks`, and into itab when
// it falls on an empty pixel; such a pixel is counted in `modif` and kept in
// `sources` as a new level for the next pass. A mark equal to NO_DATA cannot
// be told from no mark and is not inserted.
void mark_and_insert(Program_state& s, std::vector<std::int32_t>& sources, int& modif,
                     std::int32_t stride, int i, int j, bool keep_marks)
{
    const int mark = mark_of(s, i, j);
    if (keep_marks) s.itab1[i][j] = mark;
    if (mark == NO_DATA || s.itab[i][j] != NO_DATA) return;
    s.itab[i][j] = mark;
    ++modif;
    sources.push_back(i * stride + j);
}

// Marks, as mark_and_insert does, pixels j0 to j1 - 1 of line i. Away from the grid's borders the
// marks are computed in one line loop, then the empty pixels among them filled.
void mark_segment(Program_state& s, std::vector<std::int32_t>& sources, int& modif,
                  std::int32_t stride, int i, int j0, int j1, bool keep_marks)
{
    const int nc = s.nb_col;
    const int ja = std::max(j0, 1);
    const int jb = std::min(j1, nc - 1);
    if (i == 0 || i + 1 == s.nb_lig || ja >= jb) {
        for (int j = j0; j < j1; ++j) mark_and_insert(s, sources, modif, stride, i, j, keep_marks);
        return;
    }
    if (j0 < ja) mark_and_insert(s, sources, modif, stride, i, j0, keep_marks);
    // The pixels inserted are listed without branches: which marks fall on
    // empty pixels follows no pattern to predict.
    const Scan_lines& lines = scan_lines();
    constexpr int kChunk = 512;
    std::int32_t inserted[kChunk];
    for (int j = ja; j < jb; j += kChunk) {
        const int n = std::min(kChunk, jb - j);
        lines.insert_marks(s.itab2[i - 1] + j, s.itab2[i] + j, s.itab2[i + 1] + j,
                           keep_marks ? s.itab1[i] + j : nullptr, s.itab[i] + j, inserted, n);
        const std::size_t held = sources.size();
        sources.resize(held + static_cast<std::size_t>(n));
        std::int32_t* const out = sources.data() + held;
        const std::int32_t first = i * stride + j;
        std::size_t count = 0;
        // Most groups of eight pixels have no insertion, and are skipped.
        int m = 0;
        for (; m + 8 <= n; m += 8) {
            std::uint64_t flags[4];
            std::memcpy(flags, inserted + m, sizeof flags);
            if ((flags[0] | flags[1] | flags[2] | flags[3]) == 0) continue;
            for (int q = m; q < m + 8; ++q) {
                out[count] = first + q;
                count += static_cast<std::size_t>(inserted[q]);
            }
        }
        for (; m < n; ++m) {
            out[count] = first + m;
            count += static_cast<std::size_t>(inserted[m]);
        }
        sources.resize(held + count);
        modif += static_cast<int>(count);
    }
    if (jb < j1) mark_and_insert(s, sources, modif, stride, i, jb, keep_marks);
}

// Marks every pixel of tile t.
void mark_whole(Program_state& s, Dilation_tile& t, std::int32_t stride, bool keep_marks)
{
    for (int i = t.first_line; i < t.end_line; ++i)
        mark_segment(s, t.sources, t.modif, stride, i, t.first_col, t.end_col, keep_marks);
}

bool kept(const Dilation_work& w, std::int32_t p)
{
    return (w.layer[static_cast<std::size_t>(p)] & kKept) != 0;
}

// Whether tile n (inside the grid of tiles or not) has pixels whose level
// changed.
bool changed(const Dilation_tiles& t, int ti, int tj)
{
    if (ti < 0 || ti >= t.lines || tj < 0 || tj >= t.cols) return false;
    const Dilation_tile& tile = t.tile[static_cast<std::size_t>(ti * t.cols + tj)];
    return tile.rescan || !tile.kept.empty();
}

// Redoes the marks of tile n that read a level that changed: on and beside
// its own pixels whose level changed, and on its borders beside those of the
// tiles around.
void mark_tile(Pass& c, int n)
{
    Program_state& s = c.s;
    Dilation_tiles& t = c.t;
    Dilation_tile& tile = t.tile[static_cast<std::size_t>(n)];
    const int ti = n / t.cols;
    const int tj = n % t.cols;
    tile.modif = 0;
    const std::int32_t st = t.stride;
    const bool keep = c.w.settings.marks;
    if (tile.rescan) {
        mark_whole(s, tile, st, keep);
        return;
    }
    const auto inside_tile = [&](int k, int l) {
        return k >= tile.first_line && k < tile.end_line && l >= tile.first_col && l < tile.end_col;
    };
    for (const std::int32_t p : tile.kept) {
        int i, j;
        t.split(p, i, j);
        mark_and_insert(s, tile.sources, tile.modif, st, i, j, keep);
        for (int m = 0; m < 8; ++m) {
            if (!kCross[m]) continue;
            const int k = i + kDk[m];
            const int l = j + kDl[m];
            if (inside_tile(k, l) && !kept(c.w, k * st + l))
                mark_and_insert(s, tile.sources, tile.modif, st, k, l, keep);
        }
    }
    // The border lines and columns beside a tile whose levels changed.
    const auto border = [&](int i0, int j0, int di, int dj, int count, int ok, int ol) {
        for (int m = 0; m < count; ++m) {
            const int i = i0 + m * di;
            const int j = j0 + m * dj;
            if (kept(c.w, (i + ok) * st + j + ol) && !kept(c.w, i * st + j))
                mark_and_insert(s, tile.sources, tile.modif, st, i, j, keep);
        }
    };
    const int h = tile.end_line - tile.first_line;
    const int wd = tile.end_col - tile.first_col;
    if (changed(t, ti - 1, tj)) border(tile.first_line, tile.first_col, 0, 1, wd, -1, 0);
    if (changed(t, ti + 1, tj)) border(tile.end_line - 1, tile.first_col, 0, 1, wd, 1, 0);
    if (changed(t, ti, tj - 1)) border(tile.first_line, tile.first_col, 1, 0, h, 0, -1);
    if (changed(t, ti, tj + 1)) border(tile.first_line, tile.end_col - 1, 1, 0, h, 0, 1);
}

// Clears the marks of change of tile n, for the next pass.
void clear_kept(Pass& c, Dilation_tile& tile)
{
    if (tile.rescan) {
        for (int i = tile.first_line; i < tile.end_line; ++i) {
            std::uint32_t* words = &c.w.layer[static_cast<std::size_t>(c.t.index(i, 0))];
            for (int j = tile.first_col; j < tile.end_col; ++j) words[j] &= ~kKept;
        }
    } else {
        for (const std::int32_t p : tile.kept) c.w.layer[static_cast<std::size_t>(p)] &= ~kKept;
    }
    tile.kept.clear();
    tile.rescan = false;
}

// Runs body(n) for every tile n, the tiles shared out among the team.
template <typename Body> void for_tiles(Pass& c, Worker_team& team, Body&& body)
{
    std::atomic<int> next{0};
    const int count = static_cast<int>(c.t.tile.size());
    run_pass(c, team, [&](int) {
        for (int n = next.fetch_add(1, std::memory_order_relaxed); n < count;
             n = next.fetch_add(1, std::memory_order_relaxed))
            body(n);
    });
}

// Cuts the grid into tiles.
void make_tiles(const Program_state& s, Dilation_work& w)
{
    auto t = std::make_unique<Dilation_tiles>();
    const std::int64_t padded = static_cast<std::int64_t>(s.nb_col) + kLine_padding;
    t->stride = padded * s.nb_lig <= INT32_MAX ? static_cast<std::int32_t>(padded) : s.nb_col;
    t->inverse = 1.0 / t->stride;
    // The ring holds a tile's line and column in 16 bits each, and one entry
    // per pixel of a tile.
    t->side =
        w.settings.tile_side > 0 ? std::min(w.settings.tile_side, kTile_side_max) : kTile_side;
    t->lines = (s.nb_lig + t->side - 1) / t->side;
    t->cols = (s.nb_col + t->side - 1) / t->side;
    t->tile.resize(static_cast<std::size_t>(t->lines) * static_cast<std::size_t>(t->cols));
    for (int n = 0; n < static_cast<int>(t->tile.size()); ++n) {
        Dilation_tile& tile = t->tile[static_cast<std::size_t>(n)];
        tile.first_line = n / t->cols * t->side;
        tile.end_line = std::min(tile.first_line + t->side, s.nb_lig);
        tile.first_col = n % t->cols * t->side;
        tile.end_col = std::min(tile.first_col + t->side, s.nb_col);
    }
    w.tiles = std::move(t);
}

// Fills tile n for the first pass: nothing reached yet, no mark, and every
// level of itab waiting as new.
void start_tile(Program_state& s, Dilation_work& w, Dilation_tile& tile)
{
    for (int i = tile.first_line; i < tile.end_line; ++i) {
        std::uint32_t* words = &w.layer[static_cast<std::size_t>(w.tiles->index(i, 0))];
        for (int j = tile.first_col; j < tile.end_col; ++j) {
            words[j] = kUnreached;
            s.itab2[i][j] = NO_DATA;
            if (w.settings.marks) s.itab1[i][j] = NO_DATA;
            if (s.itab[i][j] != NO_DATA) tile.sources.push_back(w.tiles->index(i, j));
        }
    }
}

// A pass with more new levels than one pixel in this many grows the whole
// grid afresh by scans, which cost less than the frontier beyond.
constexpr long long kScan_share = 32;

// The growth afresh in two scans of the grid. What a pixel offers its
// neighbours is a key (Scan_key): a level of itab and a pixel of the first
// sweep offer layer 2 (a level of itab touched only diagonally reaches the
// pixel in the second sweep), the level of itab counted from the minimum
// search's start; every other pixel takes the least key of those offered
// around it, and offers it one layer on. Those first sweeps' pixels offer the
// least keys of all and are fixed, so the grown grid is the least over the
// fixed pixels of their key plus their distance: one sweep down the grid (the
// offers of the line above, then from the left) and one up it (of the line
// below, then from the right) find it, since every nearest fixed pixel is
// reached by a shortest path that goes first one way then the other. The
// marks are made on the way up as soon as the levels they read are final.
// The key offered by a pixel of layer word `word` and grown level `level`.
Scan_key offer_of(std::uint32_t word, int level)
{
    const std::uint32_t l = word & kLayer_mask;
    return l == 0 ? make_key(2, std::min(level, kNo_level_yet)) : make_key(l + 1, level);
}

// Waits until done(count) holds, or throws Pass_stopped once a worker of
// pass c has failed.
template <typename Done> void wait_until(const Pass& c, const std::atomic<int>& count, Done&& done)
{
    for (int spins = 0; !done(count.load(std::memory_order_acquire)); ++spins) {
        if (c.failed.load(std::memory_order_relaxed)) throw Pass_stopped{};
        if (spins < 4096) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        } else {
            std::this_thread::yield();
        }
    }
}

// Waits until `count` reaches `target`, or comes down to it.
void wait_for(const Pass& c, const std::atomic<int>& count, int target)
{
    wait_until(c, count, [target](int n) { return n >= target; });
}

void wait_for_down_to(const Pass& c, const std::atomic<int>& count, int target)
{
    wait_until(c, count, [target](int n) { return n <= target; });
}

// The key that pixel j of line `at` of itab fixes in the first sweeps (`up`
// and `down` the lines beside, null beyond the grid): its own level, or the
// lowest of those along its line and column; kScan_far_key when it has
// neither.
Scan_key fixed_key(const int* up, const int* at, const int* down, int j, int nc)
{
    if (at[j] != NO_DATA) return make_key(2, std::min(at[j], kNo_level_yet));
    int alti = kNo_level_yet;
    bool reached = false;
    const auto count = [&](int v) {
        if (v == NO_DATA) return;
        reached = true;
        alti = v < alti ? v : alti;
    };
    if (up) count(up[j]);
    if (j > 0) count(at[j - 1]);
    if (j + 1 < nc) count(at[j + 1]);
    if (down) count(down[j]);
    return reached ? make_key(2, alti) : kScan_far_key;
}

// The scans run over diagonal stripes of the grid, stripe k holding the
// pixels (i, j) with k * width <= i + j < (k + 1) * width, each line of a
// stripe a run of columns. On the way down a pixel reads the pixels above it
// and on its left, whose i + j is at most its own, so a stripe reads only
// itself and the stripe before; on the way up only itself and the stripe
// after. Workers take the stripes in order, and one waits for the stripe it
// reads only when it has caught up with it: a worker held up by the system
// holds up the others at most once, not on every line.
struct Scans {
    Pass& c;
    const Scan_lines& lines;
    int width = 0; // of a stripe, in sums i + j
    int count = 0; // stripes
    std::atomic<int> next{0};
    // Per stripe, on the way down the lines it has finished (all those
    // before this one), on the way up the first line it has finished (all
    // those from this one on).
    std::unique_ptr<std::atomic<int>[]> done;
    // Per worker, the pixels its marks inserted.
    std::vector<Scan_insertions>& inserted;

    // Lines first to last of stripe k.
    int first_line(int k) const { return std::max(0, k * width - c.s.nb_col + 1); }
    int last_line(int k) const { return std::min(c.s.nb_lig - 1, (k + 1) * width - 1); }
};

// What stripe k covers of line i: columns j0 to j0 + end - start - 1, that is
// offsets start to end - 1 from the stripe's first sum, i + j - k * width.
struct Stripe_run {
    int start;
    int end;
    int j0;
};

Stripe_run stripe_run(const Scans& sc, int k, int i)
{
    const int base = k * sc.width - i; // column of offset 0
    const int start = std::max(0, -base);
    const int end = std::min(sc.width, sc.c.s.nb_col - base);
    return {start, end, base + start};
}

// The key that pixel (i, j) offers once set in this scan; kScan_far_key
// beyond the grid.
Scan_key offer_at(Pass& c, int i, int j)
{
    if (i < 0 || i >= c.s.nb_lig || j < 0 || j >= c.s.nb_col) return kScan_far_key;
    return offer_of(c.w.layer[static_cast<std::size_t>(c.t.index(i, j))], c.s.itab2[i][j]);
}

// The keys of a stripe's last line and of the line it scans, by offset: the
// offset of slot x is x - 2, with two slots before the stripe and two after.
struct Stripe_lines {
    std::vector<Scan_key> last;
    std::vector<Scan_key> line;

    explicit Stripe_lines(int width)
        : last(static_cast<std::size_t>(width) + 4), line(static_cast<std::size_t>(width) + 4)
    {
    }
    Scan_key* last_at(int offset) { return last.data() + 2 + offset; }
    Scan_key* line_at(int offset) { return line.data() + 2 + offset; }
};

// Calls fetch(x) for the offsets x from `from` to to - 1 that lie outside
// offsets have.start to have.end - 1.
template <typename Fetch> void fill_beyond(int from, int to, Stripe_run have, Fetch&& fetch)
{
    if (have.start >= have.end) {
        for (int x = from; x < to; ++x) fetch(x);
        return;
    }
    for (int x = from; x < std::min(to, have.start); ++x) fetch(x);
    for (int x = std::max(from, have.end); x < to; ++x) fetch(x);
}

// Asks the caches for columns j0 to j1 - 1 of a line, ahead of the run of
// the next line: the runs of a stripe are a few KiB, each on a page of its
// own, where the processor's own prefetching starts cold.
template <typename T> void prefetch_run(const T* line, int j0, int j1)
{
    const char* const first = reinterpret_cast<const char*>(line + std::max(j0, 0));
    const char* const end = reinterpret_cast<const char*>(line + std::max(j1, 0));
    for (const char* p = first; p < end; p += 64) __builtin_prefetch(p, 1, 3);
}

// Line i of stripe k on the way down; b.last holds line i - 1 of the stripe
// where the stripe had it.
void down_run(Scans& sc, int k, int i, Stripe_lines& b)
{
    Program_state& s = sc.c.s;
    const int nc = s.nb_col;
    const Stripe_run r = stripe_run(sc, k, i);
    const Stripe_run before = stripe_run(sc, k, i - 1);
    const int base = k * sc.width - i;
    // The pixels above read beyond what the stripe had of line i - 1: the
    // stripe before's, or none.
    const auto fetch_above = [&](int x) { *b.last_at(x) = offer_at(sc.c, i - 1, base + x + 1); };
    fill_beyond(r.start - 2, r.end, i > 0 ? before : Stripe_run{0, 0, 0}, fetch_above);
    const int* const up = i > 0 ? s.itab[i - 1] : nullptr;
    const int* const at = s.itab[i];
    const int* const down = i + 1 < s.nb_lig ? s.itab[i + 1] : nullptr;
    // Column j at offset j - base: the line above's j - 1 to j + 1 at
    // offsets j - base - 2 to j - base.
    const Scan_key* const last = b.last_at(-base - 1);
    Scan_key* const line = b.line_at(-base);
    const int j0 = r.j0;
    const int j1 = base + r.end;
    const auto one = [&](int j) {
        const Scan_key above = least(least(last[j - 1], last[j]), last[j + 1]) + kScan_step;
        line[j] = least(fixed_key(up, at, down, j, nc), above);
    };
    const int ja = up && down ? std::max(j0, 1) : j1;
    const int jb = up && down ? std::max(ja, std::min(j1, nc - 1)) : j1;
    for (int j = j0; j < ja; ++j) one(j);
    if (jb > ja) sc.lines.down_offers(up + ja, at + ja, down + ja, last + ja, line + ja, jb - ja);
    for (int j = jb; j < j1; ++j) one(j);
    std::uint32_t* const wl = &sc.c.w.layer[static_cast<std::size_t>(sc.c.t.index(i, 0))];
    // The next line's run lies one column to the left.
    if (i + 2 < s.nb_lig) prefetch_run(s.itab[i + 2], j0 - 1, j1);
    if (i + 1 < s.nb_lig) {
        prefetch_run(wl + sc.c.t.stride, j0 - 1, j1);
        prefetch_run(s.itab2[i + 1], j0 - 1, j1);
    }
    Scan_key left = offer_at(sc.c, i, j0 - 1);
    sc.lines.chain_rightward(line + j0, j1 - j0, left);
    sc.lines.down_store(line + j0, at + j0, wl + j0, s.itab2[i] + j0, j1 - j0);
    std::swap(b.last, b.line);
}

// Line i of stripe k on the way up; b.last holds line i + 1 of the stripe
// where the stripe had it.
void up_run(Scans& sc, int k, int i, Stripe_lines& b)
{
    Program_state& s = sc.c.s;
    const Stripe_run r = stripe_run(sc, k, i);
    const Stripe_run after = stripe_run(sc, k, i + 1);
    const int base = k * sc.width - i;
    // The pixels below read beyond what the stripe had of line i + 1: the
    // stripe after's, or none.
    const auto fetch_below = [&](int x) { *b.last_at(x) = offer_at(sc.c, i + 1, base + x - 1); };
    fill_beyond(r.start, r.end + 2, i + 1 < s.nb_lig ? after : Stripe_run{0, 0, 0}, fetch_below);
    // Column j at offset j - base: the line below's j - 1 to j + 1 at
    // offsets j - base to j - base + 2.
    const Scan_key* const last = b.last_at(-base + 1);
    Scan_key* const line = b.line_at(-base);
    const int j0 = r.j0;
    const int j1 = base + r.end;
    std::uint32_t* const wl = &sc.c.w.layer[static_cast<std::size_t>(sc.c.t.index(i, 0))];
    int* const gl = s.itab2[i];
    sc.lines.up_offers(wl + j0, gl + j0, last + j0, line + j0, j1 - j0);
    // The next line's run, one column to the right, and the marks of this
    // line, made after it.
    if (i > 0) {
        prefetch_run(wl - sc.c.t.stride, j0, j1 + 1);
        prefetch_run(s.itab2[i - 1], j0, j1 + 1);
    }
    if (sc.c.w.settings.marks) prefetch_run(s.itab1[i], j0, j1 + 1);
    prefetch_run(s.itab[i], j0, j1 + 1);
    Scan_key right = offer_at(sc.c, i, j1);
    sc.lines.chain_leftward(line + j0, j1 - j0, right);
    sc.lines.up_store(line + j0, wl + j0, gl + j0, j1 - j0);
    std::swap(b.last, b.line);
}

// Marks pixels j0 to j1 - 1 of line i (clipped to the grid), their
// insertions counted in `out`.
void mark_run(Scans& sc, Scan_insertions& out, int i, int j0, int j1)
{
    j0 = std::max(j0, 0);
    j1 = std::min(j1, sc.c.s.nb_col);
    if (j0 < j1)
        mark_segment(sc.c.s, out.sources, out.modif, sc.c.t.stride, i, j0, j1,
                     sc.c.w.settings.marks);
}

void scan_down(Scans& sc)
{
    Stripe_lines b(sc.width);
    for (int k = sc.next.fetch_add(1); k < sc.count; k = sc.next.fetch_add(1)) {
        for (int i = sc.first_line(k); i <= sc.last_line(k); ++i) {
            if (k > 0) wait_for(sc.c, sc.done[k - 1], i + 1);
            down_run(sc, k, i, b);
            sc.done[k].store(i + 1, std::memory_order_release);
        }
        sc.done[k].store(sc.c.s.nb_lig, std::memory_order_release);
    }
}

// A pixel's marks read its line and column neighbours: the last of them set
// on the way up is the one above or on the left, of one less i + j. So when
// a stripe has finished line i, the marks of line i + 1 under that line's
// run read only final levels, and so, once it has finished line 0, do those
// of line 0 one column to the right of its run.
void scan_up(Scans& sc, int worker)
{
    Stripe_lines b(sc.width);
    Scan_insertions& out = sc.inserted[static_cast<std::size_t>(worker)];
    const int lines = sc.c.s.nb_lig;
    for (int n = sc.next.fetch_add(1); n < sc.count; n = sc.next.fetch_add(1)) {
        const int k = sc.count - 1 - n;
        for (int i = sc.last_line(k); i >= sc.first_line(k); --i) {
            if (k + 1 < sc.count) wait_for_down_to(sc.c, sc.done[k + 1], i);
            up_run(sc, k, i, b);
            sc.done[k].store(i, std::memory_order_release);
            const Stripe_run r = stripe_run(sc, k, i);
            const int base = k * sc.width - i;
            if (i + 1 < lines) mark_run(sc, out, i + 1, r.j0, base + r.end);
        }
        if (sc.first_line(k) == 0) {
            const int base = k * sc.width;
            mark_run(sc, out, 0, k == 0 ? 0 : base + 1, base + sc.width + 1);
        }
        sc.done[k].store(0, std::memory_order_release);
    }
}

// Grows the whole grid afresh from the levels of itab, and marks every pixel.
void grow_by_scans(Pass& c, Worker_team& team)
{
    Dilation_tiles& t = c.t;
    for (Dilation_tile& tile : t.tile) {
        tile.sources.clear();
        tile.modif = 0;
    }
    t.scanned.resize(static_cast<std::size_t>(team.size()));
    for (Scan_insertions& out : t.scanned) {
        out.sources.clear();
        out.modif = 0;
    }
    const long long sums = static_cast<long long>(c.s.nb_lig) + c.s.nb_col - 1;
    const long long width = std::clamp(sums / (kStripes_per_worker * team.size()),
                                       static_cast<long long>(t.side) * kStripe_tiles_min,
                                       static_cast<long long>(t.side) * kStripe_tiles_max);
    Scans sc{c, scan_lines(), static_cast<int>(width), 0, {0}, nullptr, t.scanned};
    sc.count = static_cast<int>((sums + sc.width - 1) / sc.width);
    sc.done = std::make_unique<std::atomic<int>[]>(static_cast<std::size_t>(sc.count));
    for (int k = 0; k < sc.count; ++k) sc.done[k].store(sc.first_line(k));
    run_pass(c, team, [&](int) { scan_down(sc); });
    sc.next.store(0);
    for (int k = 0; k < sc.count; ++k) sc.done[k].store(sc.last_line(k) + 1);
    run_pass(c, team, [&](int worker) { scan_up(sc, worker); });
}

// Hands the pixels the last scans inserted to their tiles, as the levels
// the next pass grows from.
void hand_scanned_to_tiles(Dilation_tiles& t)
{
    for (Scan_insertions& out : t.scanned) {
        for (const std::int32_t p : out.sources) {
            int i, j;
            t.split(p, i, j);
            t.tile[static_cast<std::size_t>(i / t.side * t.cols + j / t.side)].sources.push_back(p);
        }
        out.sources.clear();
    }
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
    const int workers = w.settings.threads > 0 ? w.settings.threads : worker_count(pixels);
    const bool first = !w.started;
    if (first) {
        static_assert(kGrid_side_max < static_cast<int>(kUnreached) &&
                      kGrid_pixels_max <= INT32_MAX);
        if (pixels > kGrid_pixels_max || s.nb_lig > kGrid_side_max || s.nb_col > kGrid_side_max)
            throw std::length_error("the dilation cannot index a grid of this size");
        make_tiles(s, w);
        // Left unset: the first pass sets every word, by scans or in start_tile.
        // Large pages where the host has them spare the first pass a page
        // fault every 4 KiB.
        const std::size_t words =
            static_cast<std::size_t>(w.tiles->stride) * static_cast<std::size_t>(s.nb_lig);
        w.layer = std::make_unique_for_overwrite<std::uint32_t[]>(words);
        host_prefer_large_pages(w.layer.get(), words * sizeof(std::uint32_t));
    }
    // The workers, started once for all the steps of the passes.
    Dilation_tiles& tiles = *w.tiles;
    if (!tiles.team || tiles.team_asked != workers) {
        tiles.team.reset();
        tiles.team = std::make_unique<Worker_team>(workers);
        tiles.team_asked = workers;
    }
    Worker_team& team = *tiles.team;
    Pass c{s, w, tiles};
    Dilation_tiles& t = c.t;
    if (first) {
        if (w.settings.scans == Dilation_scans::never)
            for_tiles(c, team,
                      [&](int n) { start_tile(s, w, t.tile[static_cast<std::size_t>(n)]); });
        w.started = true;
    }
    long long sources = 0;
    for (const Dilation_tile& tile : t.tile) sources += static_cast<long long>(tile.sources.size());
    for (const Scan_insertions& out : t.scanned)
        sources += static_cast<long long>(out.sources.size());
    const bool scans = w.settings.scans == Dilation_scans::automatic
                           ? first || sources * kScan_share > pixels
                           : w.settings.scans == Dilation_scans::always;
    if (scans) {
        grow_by_scans(c, team);
        s.modif = 0;
        for (const Scan_insertions& out : t.scanned) s.modif += out.modif;
        s.nb_pix_mod = 0;
        return;
    }
    hand_scanned_to_tiles(t);
    t.ready.clear();
    t.ready_head = 0;
    t.active = 0;
    for_tiles(c, team, [&](int n) { set_sources(s, w, t.tile[static_cast<std::size_t>(n)]); });
    for (int n = 0; n < static_cast<int>(t.tile.size()); ++n)
        if (!t.tile[static_cast<std::size_t>(n)].sources.empty()) schedule(t, n);
    if (t.active > 0) run_pass(c, team, [&](int) { grow_worker(c); });

    for_tiles(c, team, [&](int n) {
        const int ti = n / t.cols;
        const int tj = n % t.cols;
        if (changed(t, ti, tj) || changed(t, ti - 1, tj) || changed(t, ti + 1, tj) ||
            changed(t, ti, tj - 1) || changed(t, ti, tj + 1))
            mark_tile(c, n);
        else
            t.tile[static_cast<std::size_t>(n)].modif = 0;
    });
    for_tiles(c, team, [&](int n) { clear_kept(c, t.tile[static_cast<std::size_t>(n)]); });

    s.modif = 0;
    for (const Dilation_tile& tile : t.tile) s.modif += tile.modif;
    s.nb_pix_mod = 0;
}

void gonflette(Program_state& s)
{
    Dilation_work w;
    gonflette(s, w);
}
