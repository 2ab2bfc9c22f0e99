// The straightforward surface stages: full sweeps over the grids exactly as
// the stages are defined, one growth sweep at a time, one heap-allocated
// window per smoothed pixel. They are the definition of the surface that the
// product's engine must reproduce bit for bit; the differential tests and the
// benchmark compare against them. Same contracts as in surface/surface.h.
#pragma once

#include "base/program_state.h"

namespace reference {

void gonflette(Program_state& s);
void dilation(Program_state& s);
void gap_filling(Program_state& s);
double InterpolePointSpline(const Program_state& s, double x, double y, int n);
void smoothing(Program_state& s, int maille);

} // namespace reference
