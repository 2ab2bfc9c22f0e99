// The Program state's grids, allocated and released one way: each grid is
// one zero-filled block of NRUTIL's (igrille, usgrille), whose pages the
// host may back with large pages.
#pragma once

#include "base/program_state.h"

#include <cstdint>

// A zero-filled grid of nb_lig lines of nb_col elements; nullptr when memory
// runs out.
int** new_grid(int nb_col, int nb_lig);
std::uint16_t** new_grid16(int nb_col, int nb_lig);

// Releases every grid of `s` that is allocated and sets it to nullptr.
void release_grids(Program_state& s);
