// The growth by scans: a pass that grows the whole grid afresh in two scans
// that stream through memory, and marks every pixel on the way; taken for a
// pass with many new levels, the first above all.
//
// What a pixel offers its neighbours is a key (Scan_key): a level of itab
// and a pixel of the first sweep offer layer 2 (a level of itab touched only
// diagonally reaches the pixel in the second sweep), the level of itab
// counted from the minimum search's start; every other pixel takes the least
// key of those offered around it, and offers it one layer on. Those first
// sweeps' pixels offer the least keys of all and are fixed, so the grown grid
// is the least over the fixed pixels of their key plus their distance: one
// sweep down the grid (the offers of the line above, then from the left) and
// one up it (of the line below, then from the right) find it, since every
// nearest fixed pixel is reached by a shortest path that goes first one way
// then the other. The marks are made on the way up as soon as the levels
// they read are final.
#include "surface/dilation_pass.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Stripes of the scans are 4 to 16 tiles wide, in sums of line and column:
// runs long enough for the memory to stream, and stripes enough, a few per
// worker, for the workers to keep clear of each other.
constexpr int kStripe_tiles_min = 4;
constexpr int kStripe_tiles_max = 16;
constexpr int kStripes_per_worker = 4;

// The key offered by a pixel of layer word `word` and grown level `level`.
Scan_key offer_of(std::uint32_t word, int level)
{
    const std::uint32_t l = word & kLayer_mask;
    return l == 0 ? make_key(2, std::min(level, kNo_level_yet)) : make_key(l + 1, level);
}

// Waits until done(count) holds, or throws Pass_stopped once a worker of
// the pass has failed.
template <typename Done>
void wait_until(const Pass& pass, const std::atomic<int>& count, Done&& done)
{
    for (int spins = 0; !done(count.load(std::memory_order_acquire)); ++spins) {
        if (pass.failed.load(std::memory_order_relaxed)) throw Pass_stopped{};
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
void wait_for(const Pass& pass, const std::atomic<int>& count, int target)
{
    wait_until(pass, count, [target](int n) { return n >= target; });
}

void wait_for_down_to(const Pass& pass, const std::atomic<int>& count, int target)
{
    wait_until(pass, count, [target](int n) { return n <= target; });
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
    Pass& pass;
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

    std::atomic<int>& stripe_done(int k) { return done[static_cast<std::size_t>(k)]; }

    // Lines first to last of stripe k.
    int first_line(int k) const { return std::max(0, k * width - pass.state.nb_col + 1); }
    int last_line(int k) const { return std::min(pass.state.nb_lig - 1, (k + 1) * width - 1); }
};

// What stripe k covers of line i: columns j0 to j0 + end - start - 1, that is
// offsets start to end - 1 from the stripe's first sum, i + j - k * width.
struct Stripe_run {
    int start;
    int end;
    int j0;
};

Stripe_run stripe_run(const Scans& scans, int k, int i)
{
    const int base = k * scans.width - i; // column of offset 0
    const int start = std::max(0, -base);
    const int end = std::min(scans.width, scans.pass.state.nb_col - base);
    return {start, end, base + start};
}

// The key that pixel (i, j) offers once set in this scan; kScan_far_key
// beyond the grid.
Scan_key offer_at(Pass& pass, int i, int j)
{
    if (i < 0 || i >= pass.state.nb_lig || j < 0 || j >= pass.state.nb_col) return kScan_far_key;
    return offer_of(pass.work.layer[static_cast<std::size_t>(pass.tiles.index(i, j))],
                    pass.state.itab2[i][j]);
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

// Line i of stripe k on the way down; keys.last holds line i - 1 of the stripe
// where the stripe had it.
void down_run(Scans& scans, int k, int i, Stripe_lines& keys)
{
    Program_state& s = scans.pass.state;
    const int nc = s.nb_col;
    const Stripe_run r = stripe_run(scans, k, i);
    const Stripe_run before = stripe_run(scans, k, i - 1);
    const int base = k * scans.width - i;
    // The pixels above read beyond what the stripe had of line i - 1: the
    // stripe before's, or none.
    const auto fetch_above = [&](int x) {
        *keys.last_at(x) = offer_at(scans.pass, i - 1, base + x + 1);
    };
    fill_beyond(r.start - 2, r.end, i > 0 ? before : Stripe_run{0, 0, 0}, fetch_above);
    const int* const up = i > 0 ? s.itab[i - 1] : nullptr;
    const int* const at = s.itab[i];
    const int* const down = i + 1 < s.nb_lig ? s.itab[i + 1] : nullptr;
    // Column j at offset j - base: the line above's j - 1 to j + 1 at
    // offsets j - base - 2 to j - base.
    const Scan_key* const last = keys.last_at(-base - 1);
    Scan_key* const line = keys.line_at(-base);
    const int j0 = r.j0;
    const int j1 = base + r.end;
    const auto one = [&](int j) {
        const Scan_key above = least(least(last[j - 1], last[j]), last[j + 1]) + kScan_step;
        line[j] = least(fixed_key(up, at, down, j, nc), above);
    };
    const int ja = up && down ? std::max(j0, 1) : j1;
    const int jb = up && down ? std::max(ja, std::min(j1, nc - 1)) : j1;
    for (int j = j0; j < ja; ++j) one(j);
    if (jb > ja)
        scans.lines.down_offers(up + ja, at + ja, down + ja, last + ja, line + ja, jb - ja);
    for (int j = jb; j < j1; ++j) one(j);
    std::uint32_t* const wl =
        &scans.pass.work.layer[static_cast<std::size_t>(scans.pass.tiles.index(i, 0))];
    // The next line's run lies one column to the left.
    if (i + 2 < s.nb_lig) prefetch_run(s.itab[i + 2], j0 - 1, j1);
    if (i + 1 < s.nb_lig) {
        prefetch_run(wl + scans.pass.tiles.stride, j0 - 1, j1);
        prefetch_run(s.itab2[i + 1], j0 - 1, j1);
    }
    Scan_key left = offer_at(scans.pass, i, j0 - 1);
    scans.lines.chain_rightward(line + j0, j1 - j0, left);
    scans.lines.down_store(line + j0, at + j0, wl + j0, s.itab2[i] + j0, j1 - j0);
    std::swap(keys.last, keys.line);
}

// Line i of stripe k on the way up; keys.last holds line i + 1 of the stripe
// where the stripe had it.
void up_run(Scans& scans, int k, int i, Stripe_lines& keys)
{
    Program_state& s = scans.pass.state;
    const Stripe_run r = stripe_run(scans, k, i);
    const Stripe_run after = stripe_run(scans, k, i + 1);
    const int base = k * scans.width - i;
    // The pixels below read beyond what the stripe had of line i + 1: the
    // stripe after's, or none.
    const auto fetch_below = [&](int x) {
        *keys.last_at(x) = offer_at(scans.pass, i + 1, base + x - 1);
    };
    fill_beyond(r.start, r.end + 2, i + 1 < s.nb_lig ? after : Stripe_run{0, 0, 0}, fetch_below);
    // Column j at offset j - base: the line below's j - 1 to j + 1 at
    // offsets j - base to j - base + 2.
    const Scan_key* const last = keys.last_at(-base + 1);
    Scan_key* const line = keys.line_at(-base);
    const int j0 = r.j0;
    const int j1 = base + r.end;
    std::uint32_t* const wl =
        &scans.pass.work.layer[static_cast<std::size_t>(scans.pass.tiles.index(i, 0))];
    int* const gl = s.itab2[i];
    scans.lines.up_offers(wl + j0, gl + j0, last + j0, line + j0, j1 - j0);
    // The next line's run, one column to the right, and the marks of this
    // line, made after it.
    if (i > 0) {
        prefetch_run(wl - scans.pass.tiles.stride, j0, j1 + 1);
        prefetch_run(s.itab2[i - 1], j0, j1 + 1);
    }
    if (scans.pass.work.settings.marks) prefetch_run(s.itab1[i], j0, j1 + 1);
    prefetch_run(s.itab[i], j0, j1 + 1);
    Scan_key right = offer_at(scans.pass, i, j1);
    scans.lines.chain_leftward(line + j0, j1 - j0, right);
    scans.lines.up_store(line + j0, wl + j0, gl + j0, j1 - j0);
    std::swap(keys.last, keys.line);
}

// Marks pixels j0 to j1 - 1 of line i (clipped to the grid), their
// insertions counted in `out`.
void mark_run(Scans& scans, Scan_insertions& out, int i, int j0, int j1)
{
    j0 = std::max(j0, 0);
    j1 = std::min(j1, scans.pass.state.nb_col);
    if (j0 < j1)
        mark_segment(scans.pass.state, out.sources, out.modif, scans.pass.tiles.stride, i, j0, j1,
                     scans.pass.work.settings.marks);
}

void scan_down(Scans& scans)
{
    Stripe_lines keys(scans.width);
    for (int k = scans.next.fetch_add(1); k < scans.count; k = scans.next.fetch_add(1)) {
        for (int i = scans.first_line(k); i <= scans.last_line(k); ++i) {
            if (k > 0) wait_for(scans.pass, scans.stripe_done(k - 1), i + 1);
            down_run(scans, k, i, keys);
            scans.stripe_done(k).store(i + 1, std::memory_order_release);
        }
        scans.stripe_done(k).store(scans.pass.state.nb_lig, std::memory_order_release);
    }
}

// A pixel's marks read its line and column neighbours: the last of them set
// on the way up is the one above or on the left, of one less i + j. So when
// a stripe has finished line i, the marks of line i + 1 under that line's
// run read only final levels, and so, once it has finished line 0, do those
// of line 0 one column to the right of its run.
void scan_up(Scans& scans, int worker)
{
    Stripe_lines keys(scans.width);
    Scan_insertions& out = scans.inserted[static_cast<std::size_t>(worker)];
    const int lines = scans.pass.state.nb_lig;
    for (int n = scans.next.fetch_add(1); n < scans.count; n = scans.next.fetch_add(1)) {
        const int k = scans.count - 1 - n;
        for (int i = scans.last_line(k); i >= scans.first_line(k); --i) {
            if (k + 1 < scans.count) wait_for_down_to(scans.pass, scans.stripe_done(k + 1), i);
            up_run(scans, k, i, keys);
            scans.stripe_done(k).store(i, std::memory_order_release);
            const Stripe_run r = stripe_run(scans, k, i);
            const int base = k * scans.width - i;
            if (i + 1 < lines) mark_run(scans, out, i + 1, r.j0, base + r.end);
        }
        if (scans.first_line(k) == 0) {
            const int base = k * scans.width;
            mark_run(scans, out, 0, k == 0 ? 0 : base + 1, base + scans.width + 1);
        }
        scans.stripe_done(k).store(0, std::memory_order_release);
    }
}

} // namespace

void grow_by_scans(Pass& pass, Worker_team& team)
{
    Dilation_tiles& tiles = pass.tiles;
    for (Dilation_tile& tile : tiles.tile) {
        tile.sources.clear();
        tile.modif = 0;
    }
    tiles.scanned.resize(static_cast<std::size_t>(team.size()));
    for (Scan_insertions& out : tiles.scanned) {
        out.sources.clear();
        out.modif = 0;
    }
    const long long sums = static_cast<long long>(pass.state.nb_lig) + pass.state.nb_col - 1;
    const long long width = std::clamp(sums / (kStripes_per_worker * team.size()),
                                       static_cast<long long>(tiles.side) * kStripe_tiles_min,
                                       static_cast<long long>(tiles.side) * kStripe_tiles_max);
    Scans scans{pass, scan_lines(), static_cast<int>(width), 0, {0}, nullptr, tiles.scanned};
    scans.count = static_cast<int>((sums + scans.width - 1) / scans.width);
    scans.done = std::make_unique<std::atomic<int>[]>(static_cast<std::size_t>(scans.count));
    for (int k = 0; k < scans.count; ++k) scans.stripe_done(k).store(scans.first_line(k));
    run_pass(pass, team, [&](int) { scan_down(scans); });
    scans.next.store(0);
    for (int k = 0; k < scans.count; ++k) scans.stripe_done(k).store(scans.last_line(k) + 1);
    run_pass(pass, team, [&](int worker) { scan_up(scans, worker); });
}

void hand_scanned_to_tiles(Dilation_tiles& tiles)
{
    for (Scan_insertions& out : tiles.scanned) {
        for (const std::int32_t p : out.sources) {
            int i, j;
            tiles.split(p, i, j);
            tiles.at(i / tiles.side * tiles.cols + j / tiles.side).sources.push_back(p);
        }
        out.sources.clear();
    }
}
