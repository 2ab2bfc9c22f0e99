// The grids of the benchmark: a Program state that owns its three int grids,
// the generated contour raster, and the comparisons of two states.
#pragma once

#include "base/program_state.h"

#include <string>

// A Program state of nb_lig x nb_col whose itab, itab1 and itab2 it owns.
struct Bench_state {
    Program_state s;
    Bench_state(int nb_lig, int nb_col);
    ~Bench_state();
    Bench_state(const Bench_state&) = delete;
    Bench_state& operator=(const Bench_state&) = delete;
};

// Writes, with contour_gen, a 32-bit contour raster of `size` x `size`
// pixels into `dir` and returns the path of its raw file. Throws when the
// generator fails.
std::string generate_contours(const std::string& dir, int size, int equid, unsigned long seed);

// Reads nb_lig and nb_col from the header beside the raw raster at `path`
// (NAME_c4.raw: NAME_c4.txt). False when it cannot be read or gives no size.
bool read_raster_size(const std::string& path, int& nb_lig, int& nb_col);

// Reads the raw 32-bit raster at `path` into itab.
void load_contours(Program_state& s, const std::string& path);

// Copies the three int grids of `from` into `to`, row by row.
void copy_grids(const Program_state& from, Program_state& to);

// "" when grid `a` equals grid `b`, else where they first differ.
std::string grid_difference(int** a, int** b, int nb_lig, int nb_col);
