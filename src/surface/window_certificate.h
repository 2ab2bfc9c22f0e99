// A window of a larger grid, built on its own, and the cells of it that are
// certainly what the build of the whole grid gives them.
//
// A window's sides are either the grid's own edges or cuts, beyond which the
// whole grid goes on with contours the window does not see. The certificate
// carries a "may differ" flag from the cuts through every stage; a cell whose
// flag stays down holds the whole grid's value. docs/tiles.md gives the
// argument.
#pragma once

#include "base/program_state.h"

#include <cstdint>
#include <vector>

// Which sides of the window are cuts through the whole grid.
struct Window_cuts {
    bool top = false;
    bool bottom = false;
    bool left = false;
    bool right = false;
};

// Per cell, line by line: 1 where the window's value may differ from the
// whole grid's, 0 where it is certainly the same.
using Doubt = std::vector<std::uint8_t>;

// The dilation loop of the window in s (itab holds Scaled altitudes), pass by
// pass as dilation() runs it but quiet, with the doubt of itab carried along.
// `whole_passes` is the pass count of the whole grid when it is known, 0 when
// not. Returns the window's pass count; `doubt` holds the doubt of itab after
// the loop. Throws what gonflette throws.
int certified_dilation(Program_state& s, Window_cuts cuts, int whole_passes, Doubt& doubt);

// The doubt of the gap filling's result, from the itab the dilation left and
// its doubt: an empty region is certain only when the whole grid holds the
// same region with the same border, which the sweeps then fill alike. Call
// before gap_filling(s).
void certify_gap_filling(const Program_state& s, Window_cuts cuts, Doubt& doubt);

// The doubt of the smoothed surface with mesh maille > 1, from the doubt of
// the surface it reads: a cell is certain when its patch's window is the
// whole grid's and holds only certain cells.
void certify_smoothing(const Program_state& s, Window_cuts cuts, int maille, Doubt& doubt);

// The surface stages of a run on the window in s, as the program runs them
// (itab holds Scaled altitudes; maille > 1 smooths): the surface lands in
// itab1, `doubt` holds its doubt, and the window's pass count comes back.
// Throws what the stages throw.
int build_window_surface(Program_state& s, int maille, Window_cuts cuts, int whole_passes,
                         Doubt& doubt);
