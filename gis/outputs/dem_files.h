// The DEM the interactive program wrote, read back for export.
#pragma once

#include "gis/gis.h"

#include <string>
#include <vector>

struct Dem_header {
    int values[6] = {};     // lines, columns, bytes per pixel, min, max, pixel size
    int count = 0;          // how many of them were read
    std::string input_path; // the "Name of the input file" line; empty when absent
    int maille = 1;         // the window-smoothing line, 1 when absent
};
// Reads the text of a DEM header.
Dem_header parse_dem_header(const std::string& text);
// Reads DIR/NAME_m4 (or _m2): its header and its raw raster into itab1 (and
// jtab1 for 16 bits); sets nb_lig, nb_col, itype, val, taille_pix and nomim1
// (the input contour raster named by the header). Throws Gis_error.
Dem_header read_interactive_dem(const std::string& base, Program_state& s);
// The georeferencing sidecar of the contour raster `input_path` named by a
// DEM header: beside it, or else beside the DEM in `dem_dir` (the folder may
// have moved). Throws when neither exists.
std::string find_sidecar(const std::string& input_path, const std::string& dem_dir);
