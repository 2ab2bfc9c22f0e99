// The grid: the limits a grid is checked against, the exact cell size as
// text, and the contours' footprint that --clip keeps.
#pragma once

#include "gis/gis.h"

#include <cstdint>
#include <string>
#include <vector>

// Bytes of memory this machine gives a process: its physical memory, or
// what the address-space limit leaves of it when lower; 0 when unknown.
double machine_memory();
// A size in bytes with its unit, "12 kB" to "3.5 EB", and beyond as a
// power of ten ("1.9 x 10^33 bytes").
std::string bytes_text(double bytes);

// The shortest text that reads back as `v` ("12.5", "0.000833333333333").
std::string exact_number(double v);
// The cell size of a geotransform for the metadata: "12.5", or "75 x 150"
// when the cells are not square.
std::string cell_size_text(const double gt[6]);

// The footprint of the contours: 1 for every cell whose centre lies in the
// convex hull of the centres of the contour cells of itab (those not
// NO_DATA), the contour cells included; 0 elsewhere. Line by line.
std::vector<std::uint8_t> contour_footprint(const Program_state& s);
// Empties (NO_DATA) the cells of itab1 outside `footprint`; returns how many.
long long clip_to_footprint(Program_state& s, const std::vector<std::uint8_t>& footprint);

// The cells of a grid of nb_lig x nb_col placed by `geo` whose centre lies
// inside the polygons of the cutline (1), line by line; its polygons are
// reprojected to the grid's CRS. Throws when it holds no polygon.
std::vector<std::uint8_t> cutline_mask(const Cutline_options& c, int nb_lig, int nb_col,
                                       const Georef& geo);
