// The readers of contours: vector and raster GIS files in, the contour grid
// out, and the contour files of the interactive program written from it.
#pragma once

#include "gis/gis.h"

// ---- Import ---------------------------------------------------------------

// Reads the contour file of `o` into a contour grid: sets nb_lig, nb_col,
// itype, val, taille_pix, nomim1 (the file) and itab (allocated) of `s`, and
// `geo`. Vector contours are rasterised with GDAL; a raster is converted,
// its nodata becoming NO_DATA. Throws Gis_error.
void import_contours(const Import_options& o, Program_state& s, Georef& geo);
// The vector half of import_contours, on an open GDAL dataset.
void import_vector(const Import_options& o, GDALDataset& ds, Program_state& s, Georef& geo);
// The raster half of import_contours, on an open GDAL dataset.
void import_raster(const Import_options& o, GDALDataset& ds, Program_state& s, Georef& geo);

// Checks one elevation: a whole number inside the int range, and not NO_DATA
// (which would read as no contour). Returns the reason it is refused, or
// nullptr when it is accepted.
const char* elevation_refusal(double v);

// ---- Contour files for the interactive program ----------------------------

// Range of a contour grid as a created input header records it: from
// 1000000 and 0, NO_DATA pixels included.
void header_range(const Program_state& s, int& min_in, int& max_in);
// Writes NAME_c4.raw (or _c2.raw), its six-line input header and the
// georeferencing sidecar NAME_c4.vrt, a GDAL virtual raster describing the
// raw file, from itab. `base` is DIR/NAME; DIR is created when missing.
// Each file appears under its final name only once complete.
void write_contour_files(Program_state& s, const Georef& geo, const std::string& base);
// Name of the sidecar of a contour raster path ending in _c4.raw or _c2.raw.
std::string sidecar_name(const std::string& raster_path);
