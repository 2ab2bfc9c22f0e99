// Surface construction: the grid stages of a run, in the order main calls them.
//
// Every stage works on the grids of the Program state (nb_lig lines by nb_col
// columns, addressed [line][column]); empty pixels hold NO_DATA.
#pragma once

#include "base/program_state.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The largest grid the stages can index: at most kGrid_pixels_max pixels, and
// at most kGrid_side_max lines or columns.
inline constexpr long long kGrid_pixels_max = 2147483647;
inline constexpr int kGrid_side_max = (1 << 29) - 2;

// A Scaled altitude counts an altitude in 512ths of the equidistance: the
// interval between two contours can be halved nine times in whole numbers.
inline constexpr int kScale = 512;

// Start of the dilation's minimum search: every Scaled altitude of a run lies
// strictly inside -kNo_level_yet to kNo_level_yet, so that the search finds
// it and the sum of any two levels fits an int.
inline constexpr int kNo_level_yet = 99999999;

// The largest smoothing mesh: its binomial coefficients all fit 32 bits
// (Comb is exact up to 33).
inline constexpr int kMesh_max = 33;
// The largest smoothing mesh a grid of nb_lig lines and nb_col columns
// takes: its window must fit inside the grid. Below 2, no smoothing fits.
inline int largest_mesh(int nb_lig, int nb_col)
{
    return std::min({kMesh_max, nb_lig - 1, nb_col - 1});
}

// One altitude to its Scaled altitude: v / equid * 512 in extended precision,
// rounded to a 32-bit float, truncated toward zero. Needs equid > 0; a result
// beyond the int range comes back as INT_MIN or INT_MAX.
int to_scaled(int v, int equid);
// One Scaled altitude back to an altitude: v * (1/512) * equid in extended
// precision, rounded to a 32-bit float, truncated toward zero; beyond the int
// range, INT_MIN or INT_MAX.
int from_scaled(int v, int equid);

// Changes itab: every pixel that is not NO_DATA becomes its Scaled altitude,
// and a level whose Scaled altitude is NO_DATA becomes NO_DATA + 1.
void scale_to_scaled(Program_state& s, int equid);
// Changes itab1, the surface: every pixel goes back to an altitude, NO_DATA
// values included, and an altitude of NO_DATA becomes NO_DATA + 1.
void scale_back(Program_state& s, int equid);
// Changes itab2 and itab1: both become copies of itab.
void copy_surface(Program_state& s);

// How a dilation pass grows the grid: afresh in whole scans, or from the
// levels the pass before inserted; automatic takes the scans for a pass with
// many of them.
enum class Dilation_scans { automatic, always, never };

// How a dilation pass spreads its work, and whether it keeps its marks; the
// results never depend on the rest.
struct Dilation_settings {
    int threads = 0; // workers; 0: one per core, one alone for a small grid
    // Lines and columns of a tile, and a quarter of the narrowest stripe of
    // the scans; 0: the default, a few tiles per core cache.
    int tile_side = 0;
    Dilation_scans scans = Dilation_scans::automatic;
    // Whether itab1 gets the marks. False leaves it untouched, for a caller
    // that overwrites it: the passes then write one grid less, and its pages
    // are not touched before that caller needs them.
    bool marks = true;
};

// The tiles of the grid and what each keeps from one pass to the next; defined
// with the dilation.
struct Dilation_tiles;

// Working storage that the dilation passes carry from one pass to the next,
// so that a pass revisits only what the pixels inserted by the pass before
// can change:
// - layer: per pixel, the growth sweep that reached it (0 for a level of itab,
//   1 for a pixel reached along a line or column in the first growth sweep, n
//   for one reached in sweep n) and two flags used within a pass;
// - tiles: the grid in square tiles, each with the pixels the last pass
//   inserted in it, which workers grow each on its own while it lies in cache.
// Empty (started false) until the first pass fills it from itab. It stays
// valid only while itab, itab1 and itab2 change through the passes that use
// it; any other change needs a fresh one. The settings but tile_side, which
// the first pass reads, may change between passes.
struct Dilation_work {
    Dilation_settings settings;
    std::unique_ptr<std::uint32_t[]> layer;
    std::unique_ptr<Dilation_tiles> tiles;
    bool started = false;

    Dilation_work();
    Dilation_work(Dilation_work&&) noexcept;
    Dilation_work& operator=(Dilation_work&&) noexcept;
    ~Dilation_work();
};

// One contour dilation pass. Changes itab2 (grown grid), itab1 (marks),
// itab (gains the inserted mid-level pixels, only where it was NO_DATA),
// modif (pixels inserted) and nb_pix_mod (0 on return). Grows from scratch,
// with working storage of its own. Throws std::length_error for a grid of
// 2^31 pixels or more, or with a side of 2^29 - 1 or more, and std::bad_alloc
// when the working storage cannot be allocated.
void gonflette(Program_state& s);

// The same pass, with working storage kept from the pass before: the first
// call with a fresh `w` grows from scratch, every later one starts from the
// grown grid and marks left by the last and from the pixels it inserted, and
// costs in proportion to the pixels whose grown level or mark changes. Same
// results, and the same exceptions, as gonflette(s).
void gonflette(Program_state& s, Dilation_work& w);

// The dilation loop: passes of gonflette, with their console lines, until a
// pass inserts nothing. Changes what gonflette changes, but leaves itab1 as
// it falls: the stages after it make itab1 a copy of itab. modif is 0 on
// return. Throws what gonflette throws.
void dilation(Program_state& s);

// Residual gap filling, in place on itab: sweeps that give each empty pixel
// the rounded mean of its filled line and column neighbours, until a sweep
// fills nothing. Changes itab and nb_pix_mod (0 on return). A mean that comes
// out as NO_DATA is written as -99998, so that its pixel reads as filled and
// the sweeps come to an end. Only the first sweep scans the whole grid; the
// later ones visit only the pixels they can fill. Throws std::length_error
// for a grid of 2^31 pixels or more and std::bad_alloc when its working
// storage (one int per pixel) cannot be allocated.
void gap_filling(Program_state& s);

// n! in extended precision; 0 for negative n.
long double Fact(int n);
// The binomial coefficient n choose p, rounded from factorials; exact for
// 0 <= p <= n <= 33. For 34 <= n <= 66 only the low 32 bits of the rounded
// quotient come back, which are not the coefficient.
std::int32_t Comb(int p, int n);
// The value at column x, line y of the Bezier patch of degree n whose control
// points are the (n + 1) x (n + 1) pixels of itab in the window around the
// pixel, clamped to the grid. Reads itab only. Needs n >= 1 and
// n + 1 <= nb_lig, nb_col. Throws std::bad_alloc when a working matrix cannot
// be allocated. The run never calls it: smoothing() computes the same value
// for every pixel its own faster way, and must keep matching it bit for bit
// (tests/surface and the differential tests hold the two together).
double InterpolePointSpline(const Program_state& s, double x, double y, int n);

// The smoothing stage, with its console lines: every pixel of itab1 becomes
// InterpolePointSpline of itab at its position, truncated toward zero.
// Reads itab, changes itab1. Called only for maille > 1. Throws
// std::invalid_argument, before any output, when the window of maille + 1
// pixels does not fit the grid or maille exceeds 66, the largest degree whose
// binomial quotient Comb can convert. When the run is to end at its next safe
// point (interrupt_pending), it stops early and leaves itab1 part-smoothed.
void smoothing(Program_state& s, int maille);

// Extends the running minimum *Minv and maximum *maxv with every value of the
// NBlig x NBcol grid tab, printing a progress line every 200 lines and then
// the result line. NO_DATA takes part like any value.
void Min_max(int* Minv, int* maxv, int** tab, int NBcol, int NBlig);
