// The inside of a dilation pass, shared by its files; nothing outside the
// dilation includes it. gonflette.cpp gives the method's account and chooses
// each pass's way; where each rule of the pass lives:
//
// - the growth equations (a pixel's layer and level from its neighbours):
//   grow_from in growth_tiles.cpp for the pass by tiles; fixed_key and
//   offer_of in growth_scans.cpp with the line loops down_offers and
//   up_offers (scan_lines_body.h) for the pass by scans; the straightforward
//   sweeps they are tested against in tests/reference/gonflette.cpp;
// - the marks (the midpoint with the last strictly higher cross neighbour):
//   midpoint and mark_of in marks.cpp, the line loop insert_marks
//   (scan_lines_body.h) for the pixels away from the grid's borders;
// - which marks a pass by tiles redoes: mark_changed in marks.cpp; a pass by
//   scans marks every pixel on its way up (scan_up in growth_scans.cpp);
// - the neighbours and their visiting order: kNeighbour below.
#pragma once

#include "base/program_state.h"
#include "surface/parallel.h"
#include "surface/scan_lines.h"
#include "surface/surface.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

// The word kept per pixel in Dilation_work::layer: the layer in the low bits,
// then two flags.
inline constexpr std::uint32_t kLayer_mask = (1u << 29) - 1;
// Layer of a pixel that no level has reached (all of them before the first pass).
inline constexpr std::uint32_t kUnreached = kLayer_mask;
static_assert(kUnreached == kScan_unreached);
// Its grown level changed in this pass; the marks around it are still to redo.
inline constexpr std::uint32_t kLevel_changed = 1u << 29;
// It waits in the queue of the worker running its tile.
inline constexpr std::uint32_t kQueued = 1u << 30;

// The eight neighbours of a pixel, in the window's visiting order: lines
// i - 1 to i + 1, columns j - 1 to j + 1; `cross` for those on its line or
// column (above, left, right, below).
struct Neighbour {
    int dk;
    int dl;
    bool cross;
};
inline constexpr Neighbour kNeighbour[8] = {
    {-1, -1, false}, {-1, 0, true},  {-1, 1, false}, {0, -1, true},
    {0, 1, true},    {1, -1, false}, {1, 0, true},   {1, 1, false},
};

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
    std::vector<std::int32_t> changed;
    bool rescan = false;
    // Pixels handed by the tiles around, and whether the tile waits to run
    // or runs: both under Tile_queue::lock.
    std::vector<std::int32_t> inbox;
    bool scheduled = false;
    // Pixels the tile's marks inserted in this pass.
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

// The tiles waiting to run, and those waiting or running, under `lock`;
// `wake` tells an idle worker that one is waiting or that none is left.
struct Tile_queue {
    std::mutex lock;
    std::condition_variable wake;
    std::vector<int> ready;
    std::size_t ready_head = 0;
    int active = 0;
};

// What the passes keep from one to the next besides the layer words: where
// a pixel's layer word lies, the tiles, the workers, and the pixels the last
// pass by scans inserted.
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

    Tile_queue queue;

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

    Dilation_tile& at(int tile_number) { return tile[static_cast<std::size_t>(tile_number)]; }
};

// What a pass shares among its workers. The layer words and grown levels of
// a tile are read by the workers of the tiles around while its own writes
// them: all such accesses go through relaxed atomics, plain loads and stores.
// A worker that fails (its memory running out) records why, and the others
// stop at their next wait for it.
struct Pass {
    Pass(Program_state& s, Dilation_work& w, Dilation_tiles& t) : state(s), work(w), tiles(t) {}
    Program_state& state;
    Dilation_work& work;
    Dilation_tiles& tiles;
    std::atomic<bool> failed{false};
    std::mutex failure_lock;
    std::exception_ptr failure;
};

// Thrown within a worker that waits for one that has failed.
struct Pass_stopped {};

// Records the first failure of a worker and wakes the workers that wait.
void record_failure(Pass& pass, std::exception_ptr why);

// Runs body(worker) on every worker of the team and returns once all have;
// the first failure among them is thrown then.
template <typename Body> void run_pass(Pass& pass, Worker_team& team, Body&& body)
{
    team.run([&](int worker) {
        try {
            body(worker);
        } catch (const Pass_stopped&) {
        } catch (...) {
            record_failure(pass, std::current_exception());
        }
    });
    if (pass.failure) std::rethrow_exception(pass.failure);
}

// Runs body(tile_number) for every tile, the tiles shared out among the team.
template <typename Body> void for_tiles(Pass& pass, Worker_team& team, Body&& body)
{
    std::atomic<int> next{0};
    const int count = static_cast<int>(pass.tiles.tile.size());
    run_pass(pass, team, [&](int) {
        for (int n = next.fetch_add(1, std::memory_order_relaxed); n < count;
             n = next.fetch_add(1, std::memory_order_relaxed))
            body(n);
    });
}

inline std::uint32_t word_at(Pass& pass, std::int32_t p)
{
    return std::atomic_ref<std::uint32_t>(pass.work.layer[static_cast<std::size_t>(p)])
        .load(std::memory_order_relaxed);
}

inline void set_word(Pass& pass, std::int32_t p, std::uint32_t word)
{
    std::atomic_ref<std::uint32_t>(pass.work.layer[static_cast<std::size_t>(p)])
        .store(word, std::memory_order_relaxed);
}

inline int level_at(int* line, int j)
{
    return std::atomic_ref<int>(line[j]).load(std::memory_order_relaxed);
}

inline void set_level(int* line, int j, int level)
{
    std::atomic_ref<int>(line[j]).store(level, std::memory_order_relaxed);
}

// ---- Growth by tiles (growth_tiles.cpp) -----------------------------------

// Fills every tile for a first pass by tiles: nothing reached yet, no mark,
// and every level of itab waiting as new.
void start_tiles(Pass& pass, Worker_team& team);
// Grows the tiles from the levels the pass before inserted, recomputing only
// the pixels they can change; notes the pixels whose level changed.
void grow_by_tiles(Pass& pass, Worker_team& team);

// ---- Growth by scans (growth_scans.cpp) -----------------------------------

// Grows the whole grid afresh from the levels of itab, and marks every pixel.
void grow_by_scans(Pass& pass, Worker_team& team);
// Hands the pixels the last scans inserted to their tiles, as the levels the
// next pass grows from.
void hand_scanned_to_tiles(Dilation_tiles& tiles);

// ---- Marks (marks.cpp) ----------------------------------------------------

// Marks pixels j0 to j1 - 1 of line i: writes each mark into itab1 when
// `write_marks`, and into itab where it falls on an empty pixel, which is
// counted in `modif` and kept in `sources` as a new level for the next pass.
void mark_segment(Program_state& s, std::vector<std::int32_t>& sources, int& modif,
                  std::int32_t stride, int i, int j0, int j1, bool write_marks);
// After a pass by tiles: redoes the marks that read a level that changed,
// counts the insertions in each tile's modif, and clears the notes of change.
void mark_changed(Pass& pass, Worker_team& team);
