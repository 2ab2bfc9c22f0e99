// The readers of contours: vector and raster GIS files in, the contour grid
// out, and the contour files of the interactive program written from it.
#pragma once

#include "gis/gis.h"

// ---- Import ---------------------------------------------------------------

// What a reader found besides the grid: where the levels came from and how
// they were made whole. The command says it and writes it in the metadata.
struct Source_info {
    std::string layer;             // vector layers read, comma-separated; empty for a raster
    int layer_count = 0;           // layers of the vector file
    std::string attribute;         // elevation attribute; empty: the vertices' Z
    int band = 0;                  // band of a raster input; 0 for vectors
    int z_factor = 1;              // power of ten the levels were multiplied by
    long long step = 0;            // greatest common step between the scaled levels
    long long points_left_out = 0; // point features not burnt (labels, spot heights)
    long long spot_heights = 0;    // point features burnt with --spot-heights
    int oversample = 1;            // the contour grid is this many times finer than the output
    std::string oversample_why;    // how that factor was chosen
};

// Reads the contour file of `o` into a contour grid: sets nb_lig, nb_col,
// itype, val, taille_pix, nomim1 (the file) and itab (allocated) of `s`, and
// `geo`. Vector contours are rasterised with GDAL; a raster is converted,
// its nodata becoming NO_DATA. Throws Gis_error.
void import_contours(const Import_options& o, Program_state& s, Georef& geo, Source_info& info);
// The vector half of import_contours, on an open GDAL dataset.
void import_vector(const Import_options& o, GDALDataset& ds, Program_state& s, Georef& geo,
                   Source_info& info);
// The raster half of import_contours, on an open GDAL dataset.
void import_raster(const Import_options& o, GDALDataset& ds, Program_state& s, Georef& geo,
                   Source_info& info);

// Checks one elevation, once scaled: a whole number (but for float noise,
// see is_whole) inside the int range, and not NO_DATA (which would read as
// no contour). Returns the reason it is refused, or nullptr when it is
// accepted; the level is then std::nearbyint(v).
const char* elevation_refusal(double v);

// ---- Levels ---------------------------------------------------------------

// Whether v is a whole number but for float noise: within 1e-6 of its
// magnitude (or of 1 when smaller), and never more than 0.001 away.
bool is_whole(double v);
// The smallest power of ten, 1 to kMax_z_factor, that makes every level of
// `levels` and the equidistance (when > 0) whole; `forced` > 0 is the only
// factor tried. Returns 0 when none does, `failing` then being the first
// value left fractional.
int level_factor(const std::vector<double>& levels, double equidistance, int forced,
                 double& failing);
// The greatest common step between whole levels: 0 for fewer than two
// distinct levels.
long long level_step(const std::vector<long long>& levels);
// Refuses an equidistance that the factor (given or found) leaves fractional.
[[noreturn]] void refuse_equidistance_factor(const Import_options& o);
// Sorts and keeps one of each value.
void keep_distinct(std::vector<double>& v);

// The equidistance of a run on levels scaled by info.z_factor: the one
// given (in the contours' units, 0 = none) scaled, with a warning when the
// levels do not fit it, or else the levels' greatest common step. Throws
// when neither is there.
int run_equidistance(double given, const Source_info& info);

// ---- Contour files for the interactive program ----------------------------

// Range of a contour grid as a created input header records it: the true
// range, NO_DATA pixels included.
void header_range(const Program_state& s, int& min_in, int& max_in);
// Writes NAME_c4.raw (or _c2.raw), its six-line input header and the
// georeferencing sidecar NAME_c4.vrt, a GDAL virtual raster describing the
// raw file, from itab. `base` is DIR/NAME; DIR is created when missing.
// Each file appears under its final name only once complete.
void write_contour_files(Program_state& s, const Georef& geo, const std::string& base);
// Name of the sidecar of a contour raster path ending in _c4.raw or _c2.raw.
std::string sidecar_name(const std::string& raster_path);

// ---- Files ----------------------------------------------------------------

// Refuses a command whose output would overwrite one of its inputs, a file
// GDAL reads with one, or another of its outputs, or would lie inside an
// input folder, before anything is read; an input inside an archive
// (/vsizip/, /vsitar/, /vsigzip/) is the archive. Returns the command's
// output files.
std::vector<std::string> refuse_output_on_input(const Cli& cli);
