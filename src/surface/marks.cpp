// The marks of a dilation pass: on the lower side of each border between
// levels of the grown grid, the level halfway between the two; where a mark
// falls on an empty pixel of itab, it is inserted there as a new contour.
//
// After a pass by tiles the marks are recomputed only on and beside the
// pixels whose level changed, and only there can a mark fall on an empty
// pixel: an unchanged mark was inserted, if it could be, by the pass before.
#include "surface/dilation_pass.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

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

// Writes the mark of (i, j) into itab1 when `write_marks`, and into itab when
// it falls on an empty pixel; such a pixel is counted in `modif` and kept in
// `sources` as a new level for the next pass. A mark equal to NO_DATA cannot
// be told from no mark and is not inserted.
void mark_and_insert(Program_state& s, std::vector<std::int32_t>& sources, int& modif,
                     std::int32_t stride, int i, int j, bool write_marks)
{
    const int mark = mark_of(s, i, j);
    if (write_marks) s.itab1[i][j] = mark;
    if (mark == NO_DATA || s.itab[i][j] != NO_DATA) return;
    s.itab[i][j] = mark;
    ++modif;
    sources.push_back(i * stride + j);
}

} // namespace

// Away from the grid's borders the marks of a line are computed in one line
// loop, then the empty pixels among them filled.
void mark_segment(Program_state& s, std::vector<std::int32_t>& sources, int& modif,
                  std::int32_t stride, int i, int j0, int j1, bool write_marks)
{
    const int nc = s.nb_col;
    const int ja = std::max(j0, 1);
    const int jb = std::min(j1, nc - 1);
    if (i == 0 || i + 1 == s.nb_lig || ja >= jb) {
        for (int j = j0; j < j1; ++j) mark_and_insert(s, sources, modif, stride, i, j, write_marks);
        return;
    }
    if (j0 < ja) mark_and_insert(s, sources, modif, stride, i, j0, write_marks);
    // The pixels inserted are listed without branches: which marks fall on
    // empty pixels follows no pattern to predict.
    const Scan_lines& lines = scan_lines();
    constexpr int kChunk = 512;
    std::int32_t inserted[kChunk];
    for (int j = ja; j < jb; j += kChunk) {
        const int n = std::min(kChunk, jb - j);
        lines.insert_marks(s.itab2[i - 1] + j, s.itab2[i] + j, s.itab2[i + 1] + j,
                           write_marks ? s.itab1[i] + j : nullptr, s.itab[i] + j, inserted, n);
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
    if (jb < j1) mark_and_insert(s, sources, modif, stride, i, jb, write_marks);
}

namespace {

// Marks every pixel of `tile`.
void mark_whole(Program_state& s, Dilation_tile& tile, std::int32_t stride, bool write_marks)
{
    for (int i = tile.first_line; i < tile.end_line; ++i)
        mark_segment(s, tile.sources, tile.modif, stride, i, tile.first_col, tile.end_col,
                     write_marks);
}

bool level_changed(const Dilation_work& w, std::int32_t p)
{
    return (w.layer[static_cast<std::size_t>(p)] & kLevel_changed) != 0;
}

// Whether the tile at (ti, tj) in the grid of tiles, if there is one there,
// has pixels whose level changed.
bool tile_changed(const Dilation_tiles& tiles, int ti, int tj)
{
    if (ti < 0 || ti >= tiles.lines || tj < 0 || tj >= tiles.cols) return false;
    const Dilation_tile& tile = tiles.tile[static_cast<std::size_t>(ti * tiles.cols + tj)];
    return tile.rescan || !tile.changed.empty();
}

// Redoes the marks of a tile that read a level that changed: on and beside
// its own pixels whose level changed, and on its borders beside those of the
// tiles around.
void mark_tile(Pass& pass, int tile_number)
{
    Program_state& s = pass.state;
    Dilation_tiles& tiles = pass.tiles;
    Dilation_tile& tile = tiles.at(tile_number);
    const int ti = tile_number / tiles.cols;
    const int tj = tile_number % tiles.cols;
    tile.modif = 0;
    const std::int32_t st = tiles.stride;
    const bool write_marks = pass.work.settings.marks;
    if (tile.rescan) {
        mark_whole(s, tile, st, write_marks);
        return;
    }
    const auto inside_tile = [&](int k, int l) {
        return k >= tile.first_line && k < tile.end_line && l >= tile.first_col && l < tile.end_col;
    };
    for (const std::int32_t p : tile.changed) {
        int i, j;
        tiles.split(p, i, j);
        mark_and_insert(s, tile.sources, tile.modif, st, i, j, write_marks);
        for (int m = 0; m < 8; ++m) {
            if (!kNeighbour[m].cross) continue;
            const int k = i + kNeighbour[m].dk;
            const int l = j + kNeighbour[m].dl;
            if (inside_tile(k, l) && !level_changed(pass.work, k * st + l))
                mark_and_insert(s, tile.sources, tile.modif, st, k, l, write_marks);
        }
    }
    // The border lines and columns beside a tile whose levels changed.
    const auto border = [&](int i0, int j0, int di, int dj, int count, int ok, int ol) {
        for (int m = 0; m < count; ++m) {
            const int i = i0 + m * di;
            const int j = j0 + m * dj;
            if (level_changed(pass.work, (i + ok) * st + j + ol) &&
                !level_changed(pass.work, i * st + j))
                mark_and_insert(s, tile.sources, tile.modif, st, i, j, write_marks);
        }
    };
    const int h = tile.end_line - tile.first_line;
    const int wd = tile.end_col - tile.first_col;
    if (tile_changed(tiles, ti - 1, tj)) border(tile.first_line, tile.first_col, 0, 1, wd, -1, 0);
    if (tile_changed(tiles, ti + 1, tj)) border(tile.end_line - 1, tile.first_col, 0, 1, wd, 1, 0);
    if (tile_changed(tiles, ti, tj - 1)) border(tile.first_line, tile.first_col, 1, 0, h, 0, -1);
    if (tile_changed(tiles, ti, tj + 1)) border(tile.first_line, tile.end_col - 1, 1, 0, h, 0, 1);
}

// Clears the notes of change of `tile`, for the next pass.
void clear_changes(Pass& pass, Dilation_tile& tile)
{
    if (tile.rescan) {
        for (int i = tile.first_line; i < tile.end_line; ++i) {
            std::uint32_t* words =
                &pass.work.layer[static_cast<std::size_t>(pass.tiles.index(i, 0))];
            for (int j = tile.first_col; j < tile.end_col; ++j) words[j] &= ~kLevel_changed;
        }
    } else {
        for (const std::int32_t p : tile.changed)
            pass.work.layer[static_cast<std::size_t>(p)] &= ~kLevel_changed;
    }
    tile.changed.clear();
    tile.rescan = false;
}

} // namespace

void mark_changed(Pass& pass, Worker_team& team)
{
    Dilation_tiles& tiles = pass.tiles;
    for_tiles(pass, team, [&](int n) {
        const int ti = n / tiles.cols;
        const int tj = n % tiles.cols;
        if (tile_changed(tiles, ti, tj) || tile_changed(tiles, ti - 1, tj) ||
            tile_changed(tiles, ti + 1, tj) || tile_changed(tiles, ti, tj - 1) ||
            tile_changed(tiles, ti, tj + 1))
            mark_tile(pass, n);
        else
            tiles.at(n).modif = 0;
    });
    for_tiles(pass, team, [&](int n) { clear_changes(pass, tiles.at(n)); });
}
