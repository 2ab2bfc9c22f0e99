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
// A pass takes one of two ways to this solution, with the same result:
// - by tiles (growth_tiles.cpp): from the grown grid of the pass before, it
//   recomputes only what the pixels that pass inserted can change, then
//   redoes the marks only on and beside the pixels whose level changed
//   (marks.cpp);
// - by scans (growth_scans.cpp): it grows the whole grid afresh in two scans
//   that stream through memory, and marks every pixel on the way; it costs
//   less for a pass with many new levels, the first above all.
// dilation_pass.h lists where each rule of the pass lives.
#include "base/host.h"
#include "base/program_state.h"
#include "surface/dilation_pass.h"
#include "surface/parallel.h"
#include "surface/surface.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>

Dilation_work::Dilation_work() = default;
Dilation_work::Dilation_work(Dilation_work&&) noexcept = default;
Dilation_work& Dilation_work::operator=(Dilation_work&&) noexcept = default;
Dilation_work::~Dilation_work() = default;

void record_failure(Pass& pass, std::exception_ptr why)
{
    {
        const std::lock_guard<std::mutex> hold(pass.failure_lock);
        if (!pass.failure) pass.failure = std::move(why);
    }
    // The workers of the growth wait for tiles under the queue's lock.
    {
        const std::lock_guard<std::mutex> hold(pass.tiles.queue.lock);
        pass.failed.store(true);
    }
    pass.tiles.queue.wake.notify_all();
}

namespace {

// Tiles of this side hold 16 bytes a pixel of grids and layer words, 64 KB
// in all: with the tiles around, well within a core's cache, and still few
// pixels on their borders.
constexpr int kTile_side = 64;
constexpr int kTile_side_max = 256;

// Layer words beyond the columns of each line: a cache line's worth.
constexpr int kLine_padding = 16;

// A pass with more new levels than one pixel in this many grows the whole
// grid afresh by scans, which cost less than the frontier beyond.
constexpr long long kScan_share = 32;

// Cuts the grid into tiles.
void make_tiles(const Program_state& s, Dilation_work& w)
{
    auto tiles = std::make_unique<Dilation_tiles>();
    const std::int64_t padded = static_cast<std::int64_t>(s.nb_col) + kLine_padding;
    tiles->stride = padded * s.nb_lig <= INT32_MAX ? static_cast<std::int32_t>(padded) : s.nb_col;
    tiles->inverse = 1.0 / tiles->stride;
    // The ring holds a tile's line and column in 16 bits each, and one entry
    // per pixel of a tile.
    tiles->side =
        w.settings.tile_side > 0 ? std::min(w.settings.tile_side, kTile_side_max) : kTile_side;
    tiles->lines = (s.nb_lig + tiles->side - 1) / tiles->side;
    tiles->cols = (s.nb_col + tiles->side - 1) / tiles->side;
    tiles->tile.resize(static_cast<std::size_t>(tiles->lines) *
                       static_cast<std::size_t>(tiles->cols));
    for (int n = 0; n < static_cast<int>(tiles->tile.size()); ++n) {
        Dilation_tile& tile = tiles->tile[static_cast<std::size_t>(n)];
        tile.first_line = n / tiles->cols * tiles->side;
        tile.end_line = std::min(tile.first_line + tiles->side, s.nb_lig);
        tile.first_col = n % tiles->cols * tiles->side;
        tile.end_col = std::min(tile.first_col + tiles->side, s.nb_col);
    }
    w.tiles = std::move(tiles);
}

// Sets up the working storage for the first pass on these grids. Throws for
// a grid too large to index.
void start_work(const Program_state& s, Dilation_work& w, long long pixels)
{
    static_assert(kGrid_side_max < static_cast<int>(kUnreached) && kGrid_pixels_max <= INT32_MAX);
    if (pixels > kGrid_pixels_max || s.nb_lig > kGrid_side_max || s.nb_col > kGrid_side_max)
        throw std::length_error("the dilation cannot index a grid of this size");
    make_tiles(s, w);
    // Left unset: the first pass sets every word, by scans or in start_tiles.
    // Large pages where the host has them spare the first pass a page fault
    // every 4 KiB.
    const std::size_t words =
        static_cast<std::size_t>(w.tiles->stride) * static_cast<std::size_t>(s.nb_lig);
    w.layer = std::make_unique_for_overwrite<std::uint32_t[]>(words);
    host_prefer_large_pages(w.layer.get(), words * sizeof(std::uint32_t));
}

// The workers, started once for all the steps of the passes, and again only
// when the settings ask for another number.
Worker_team& team_of(Dilation_work& w, long long pixels)
{
    const int workers = w.settings.threads > 0 ? w.settings.threads : worker_count(pixels);
    Dilation_tiles& tiles = *w.tiles;
    if (!tiles.team || tiles.team_asked != workers) {
        tiles.team.reset();
        tiles.team = std::make_unique<Worker_team>(workers);
        tiles.team_asked = workers;
    }
    return *tiles.team;
}

// Whether this pass grows the grid afresh by scans rather than by tiles.
bool grows_by_scans(const Dilation_work& w, bool first, long long pixels)
{
    if (w.settings.scans != Dilation_scans::automatic)
        return w.settings.scans == Dilation_scans::always;
    long long sources = 0;
    for (const Dilation_tile& tile : w.tiles->tile)
        sources += static_cast<long long>(tile.sources.size());
    for (const Scan_insertions& out : w.tiles->scanned)
        sources += static_cast<long long>(out.sources.size());
    return first || sources * kScan_share > pixels;
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
    if (first) start_work(s, w, pixels);
    Worker_team& team = team_of(w, pixels);
    Dilation_tiles& tiles = *w.tiles;
    Pass pass{s, w, tiles};
    if (first && w.settings.scans == Dilation_scans::never) start_tiles(pass, team);
    w.started = true;

    s.modif = 0;
    if (grows_by_scans(w, first, pixels)) {
        grow_by_scans(pass, team);
        for (const Scan_insertions& out : tiles.scanned) s.modif += out.modif;
    } else {
        hand_scanned_to_tiles(tiles);
        grow_by_tiles(pass, team);
        mark_changed(pass, team);
        for (const Dilation_tile& tile : tiles.tile) s.modif += tile.modif;
    }
    s.nb_pix_mod = 0;
}

void gonflette(Program_state& s)
{
    Dilation_work w;
    gonflette(s, w);
}
