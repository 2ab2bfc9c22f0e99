// The growth by tiles: a pass that starts from the grown grid of the pass
// before and recomputes only the pixels that the levels it inserted can
// change, tile by tile while each lies in a core's cache.
//
// From one pass to the next only the pixels just inserted change, becoming
// levels of itab; layers only shrink. So a pass recomputes only the
// neighbours of pixels whose value has just changed, and of those only the
// ones of higher layers, the only ones that read it; when a pixel comes out
// unchanged the change stops there.
//
// A worker takes a tile and grows it through all its layers while it lies in
// cache, in the order of the growth sweeps, so that most pixels are
// recomputed once. A change that reaches a pixel of another tile is handed to
// that tile, which takes it up when it is next run; workers run the tiles
// until none has work left. Each tile's pixels are written only by the worker
// running it.
#include "surface/dilation_pass.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Beyond this share of a tile's pixels changed, one scan of the tile redoes
// its marks for less than the neighbourhoods.
constexpr std::size_t kRescan_share = 4;

// The tile a worker runs, and the pixels it queues: its own in a ring of the
// worker's, processed first in first out, as line and column within the tile;
// those of the tiles around in one list per tile, handed on when the ring
// runs dry. A pixel waits in the ring at most once at a time, so the ring
// never holds more entries than the tile has pixels.
struct Tile_runner {
    Pass& pass;
    std::uint32_t* words;
    int** levels;
    std::int32_t stride;
    std::unique_ptr<std::uint32_t[]> ring;
    std::uint32_t mask = 0;
    std::uint32_t head = 0;
    std::uint32_t tail = 0;
    int tile_number = 0; // of the tile run
    Dilation_tile* tile = nullptr;
    int first_line = 0, end_line = 0, first_col = 0, end_col = 0;
    std::vector<std::int32_t> out[9];

    explicit Tile_runner(Pass& shared)
        : pass(shared), words(shared.work.layer.get()), levels(shared.state.itab2),
          stride(shared.tiles.stride)
    {
        std::uint32_t room = 1;
        while (room < static_cast<std::uint32_t>(shared.tiles.side) *
                          static_cast<std::uint32_t>(shared.tiles.side))
            room <<= 1;
        ring = std::make_unique_for_overwrite<std::uint32_t[]>(room);
        mask = room - 1;
    }

    void take(int number)
    {
        tile_number = number;
        tile = &pass.tiles.at(number);
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
            set_word(pass, x, word | kQueued);
            push(k, l);
            return;
        }
        const int dk = k < first_line ? 0 : k < end_line ? 1 : 2;
        const int dl = l < first_col ? 0 : l < end_col ? 1 : 2;
        out[dk * 3 + dl].push_back(x);
    }
};

// Notes that the grown level of pixel p of `tile` changed in this pass.
void note_change(Dilation_tile& tile, std::int32_t p)
{
    if (tile.rescan) return;
    tile.changed.push_back(p);
    if (tile.changed.size() > tile.pixels() / kRescan_share) tile.rescan = true;
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
        const bool counted = l[n] < layer && (layer > 1 || kNeighbour[n].cross);
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
void recompute_inner(Tile_runner& runner, std::int32_t p, int i, int j, std::uint32_t word)
{
    std::uint32_t* const wd = runner.words + p;
    const std::int32_t st = runner.stride;
    int* const line = runner.levels[i] + j;
    std::int32_t offset[8];
    std::uint32_t words[8];
    int levels[8];
#pragma GCC unroll 8
    for (int n = 0; n < 8; ++n) {
        offset[n] = kNeighbour[n].dk * st + kNeighbour[n].dl;
        words[n] = wd[offset[n]];
        levels[n] = runner.levels[i + kNeighbour[n].dk][j + kNeighbour[n].dl];
    }
    const Grown g = grow_from(words, levels);
    if (g.layer == kUnreached) return;
    const int before = *line;
    if (g.layer == (word & kLayer_mask) && g.level == before) return;
    std::uint32_t flags = word & kLevel_changed;
    if (g.level != before && flags == 0) {
        flags = kLevel_changed;
        note_change(*runner.tile, p);
    }
    *line = g.level;
    *wd = g.layer | flags;
#pragma GCC unroll 8
    for (int n = 0; n < 8; ++n) {
        const std::uint32_t x = words[n];
        if ((x & kLayer_mask) > g.layer && (x & kQueued) == 0) {
            // A neighbour on the tile's border is read by the workers around.
            std::atomic_ref<std::uint32_t>(wd[offset[n]])
                .store(x | kQueued, std::memory_order_relaxed);
            runner.push(i + kNeighbour[n].dk, j + kNeighbour[n].dl);
        }
    }
}

// Recomputes pixel (i, j), index p, from its neighbours and, when its layer
// or level changes, queues the neighbours that read it: those of higher
// layers. On the tile's border, where the workers of the tiles around read
// and write, through atomics.
void recompute(Tile_runner& runner, int i, int j)
{
    Pass& pass = runner.pass;
    Program_state& s = pass.state;
    const std::int32_t st = runner.stride;
    const std::int32_t p = i * st + j;
    const std::uint32_t word = word_at(pass, p) & ~kQueued;
    if (i > runner.first_line && i + 1 < runner.end_line && j > runner.first_col &&
        j + 1 < runner.end_col) {
        runner.words[p] = word;
        if ((word & kLayer_mask) != 0) recompute_inner(runner, p, i, j, word);
        return;
    }
    set_word(pass, p, word);
    if ((word & kLayer_mask) == 0) return;
    const int nc = s.nb_col;
    std::uint32_t words[8];
    int levels[8];
    unsigned valid = 0;
#pragma GCC unroll 8
    for (int n = 0; n < 8; ++n) {
        const int k = i + kNeighbour[n].dk;
        const int l = j + kNeighbour[n].dl;
        words[n] = kUnreached;
        levels[n] = kNo_level_yet;
        if (k < 0 || k >= s.nb_lig || l < 0 || l >= nc) continue;
        valid |= 1u << n;
        words[n] = word_at(pass, p + kNeighbour[n].dk * st + kNeighbour[n].dl);
        levels[n] = level_at(s.itab2[k], l);
    }
    // A pixel queued by a neighbour that reached it is reached.
    const Grown g = grow_from(words, levels);
    if (g.layer == kUnreached) return;
    const int before = level_at(s.itab2[i], j);
    if (g.layer == (word & kLayer_mask) && g.level == before) return;
    std::uint32_t flags = word & kLevel_changed;
    if (g.level != before && flags == 0) {
        flags = kLevel_changed;
        note_change(*runner.tile, p);
    }
    set_level(s.itab2[i], j, g.level);
    set_word(pass, p, g.layer | flags);
    for (int n = 0; n < 8; ++n)
        if ((valid >> n & 1) && (words[n] & kLayer_mask) > g.layer)
            runner.queue_pixel(i + kNeighbour[n].dk, j + kNeighbour[n].dl,
                               p + kNeighbour[n].dk * st + kNeighbour[n].dl, words[n]);
}

// Queues the neighbours of level (i, j) of itab along its line and column
// (`cross`) or its diagonal ones.
void queue_around_level(Tile_runner& runner, int i, int j, bool cross)
{
    Program_state& s = runner.pass.state;
    const std::int32_t p = i * runner.stride + j;
    for (int n = 0; n < 8; ++n) {
        if (kNeighbour[n].cross != cross) continue;
        const int k = i + kNeighbour[n].dk;
        const int l = j + kNeighbour[n].dl;
        if (k < 0 || k >= s.nb_lig || l < 0 || l >= s.nb_col) continue;
        const std::int32_t x = p + kNeighbour[n].dk * runner.stride + kNeighbour[n].dl;
        const std::uint32_t word = word_at(runner.pass, x);
        if ((word & kLayer_mask) > 0) runner.queue_pixel(k, l, x, word);
    }
}

// Recomputes the queued pixels in order until the ring runs dry, or `limit`
// of them.
void drain(Tile_runner& runner, std::uint32_t limit = UINT32_MAX)
{
    for (std::uint32_t done = 0; !runner.empty() && done < limit; ++done) {
        int i, j;
        runner.pop(i, j);
        recompute(runner, i, j);
    }
}

// Puts a tile in the queue of those waiting to run, unless it waits or runs
// already. Under Tile_queue::lock.
void schedule(Dilation_tiles& tiles, int tile_number)
{
    Dilation_tile& tile = tiles.at(tile_number);
    if (tile.scheduled) return;
    tile.scheduled = true;
    Tile_queue& queue = tiles.queue;
    ++queue.active;
    queue.ready.push_back(tile_number);
    queue.wake.notify_one();
}

// Hands the pixels queued for the tiles around to them.
void hand_on(Tile_runner& runner)
{
    Dilation_tiles& tiles = runner.pass.tiles;
    bool any = false;
    for (const auto& list : runner.out) any = any || !list.empty();
    if (!any) return;
    std::lock_guard<std::mutex> hold(tiles.queue.lock);
    const int ti = runner.tile_number / tiles.cols;
    const int tj = runner.tile_number % tiles.cols;
    for (int d = 0; d < 9; ++d) {
        std::vector<std::int32_t>& list = runner.out[d];
        if (list.empty()) continue;
        const int m = (ti + d / 3 - 1) * tiles.cols + tj + d % 3 - 1;
        Dilation_tile& other = tiles.at(m);
        other.inbox.insert(other.inbox.end(), list.begin(), list.end());
        list.clear();
        schedule(tiles, m);
    }
}

// Sets the new levels of `tile` in the grown grid, before any tile grows, so
// that every tile reads the levels of the tiles around from the start.
void set_sources(Program_state& s, Dilation_work& w, Dilation_tile& tile)
{
    for (const std::int32_t p : tile.sources) {
        int i, j;
        w.tiles->split(p, i, j);
        s.itab2[i][j] = s.itab[i][j];
        w.layer[static_cast<std::size_t>(p)] = 0u | kLevel_changed;
        note_change(tile, p);
    }
}

// Grows the runner's tile from its new levels, in the order of the first
// sweeps: their line and column neighbours, then their diagonal ones, then on.
void grow_from_sources(Tile_runner& runner)
{
    Dilation_tile& tile = *runner.tile;
    const auto around = [&](bool cross) {
        for (const std::int32_t p : tile.sources) {
            int i, j;
            runner.pass.tiles.split(p, i, j);
            queue_around_level(runner, i, j, cross);
        }
    };
    around(true);
    drain(runner, runner.tail - runner.head);
    around(false);
    tile.sources.clear();
}

// Runs a tile until neither its ring nor its inbox holds work.
void run_tile(Tile_runner& runner, int tile_number, std::vector<std::int32_t>& handed)
{
    Dilation_tiles& tiles = runner.pass.tiles;
    Tile_queue& queue = tiles.queue;
    runner.take(tile_number);
    if (!runner.tile->sources.empty()) grow_from_sources(runner);
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(queue.lock);
            handed.swap(runner.tile->inbox);
        }
        for (const std::int32_t x : handed) {
            int i, j;
            tiles.split(x, i, j);
            runner.queue_pixel(i, j, x, word_at(runner.pass, x));
        }
        handed.clear();
        drain(runner);
        hand_on(runner);
        std::lock_guard<std::mutex> hold(queue.lock);
        if (!runner.tile->inbox.empty()) continue;
        runner.tile->scheduled = false;
        if (--queue.active == 0) queue.wake.notify_all();
        return;
    }
}

// A worker of the growth: runs waiting tiles until none waits or runs.
void grow_worker(Pass& pass)
{
    Tile_runner runner(pass);
    std::vector<std::int32_t> handed;
    Tile_queue& queue = pass.tiles.queue;
    std::unique_lock<std::mutex> hold(queue.lock);
    for (;;) {
        queue.wake.wait(hold, [&] {
            return queue.ready_head < queue.ready.size() || queue.active == 0 || pass.failed.load();
        });
        if (queue.ready_head == queue.ready.size() || pass.failed.load()) return;
        const int tile_number = queue.ready[queue.ready_head++];
        if (queue.ready_head == queue.ready.size()) {
            queue.ready.clear();
            queue.ready_head = 0;
        }
        hold.unlock();
        run_tile(runner, tile_number, handed);
        hold.lock();
    }
}

// Fills `tile` for a first pass by tiles.
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

} // namespace

void start_tiles(Pass& pass, Worker_team& team)
{
    for_tiles(pass, team, [&](int n) { start_tile(pass.state, pass.work, pass.tiles.at(n)); });
}

void grow_by_tiles(Pass& pass, Worker_team& team)
{
    Dilation_tiles& tiles = pass.tiles;
    tiles.queue.ready.clear();
    tiles.queue.ready_head = 0;
    tiles.queue.active = 0;
    for_tiles(pass, team, [&](int n) { set_sources(pass.state, pass.work, tiles.at(n)); });
    for (int n = 0; n < static_cast<int>(tiles.tile.size()); ++n)
        if (!tiles.at(n).sources.empty()) schedule(tiles, n);
    if (tiles.queue.active > 0) run_pass(pass, team, [&](int) { grow_worker(pass); });
}
