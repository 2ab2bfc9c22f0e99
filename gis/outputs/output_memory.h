// The memory the output path needs, checked before it starts.
#pragma once

#include <string>

// Checks that the memory left (see machine_memory) holds what writing `out`
// needs beside the grids already held: for a COG its drawn copy and its
// overviews, for a preview the picture and GDAL's copy of it, and GDAL's
// working memory. Throws Gis_error naming both sizes when it does not; else
// bounds GDAL's block cache to a part of what is left, so that GDAL's own
// allocations stay within it.
void check_output_memory(const std::string& out, int nb_lig, int nb_col, bool cog, bool preview);
