// The preview picture of a DEM.
#pragma once

#include "gis/gis.h"

#include <cstdint>
#include <string>
#include <vector>

// What the preview shows: the DEM as written (low 16 bits for 16-bit runs),
// the ground size of a cell in the altitudes' unit, and optionally which
// pixels held an input contour.
struct Relief_view {
    int** dem = nullptr;
    int nb_lig = 0;
    int nb_col = 0;
    bool low16 = false;                     // values are shown as their low 16 bits
    bool has_empty = true;                  // NO_DATA pixels are empty (32-bit runs)
    double dx = 1;                          // ground width of a cell
    double dy = 1;                          // ground height of a cell
    double zfactor = 1;                     // vertical exaggeration of the hillshade
    const std::uint8_t* contours = nullptr; // nb_lig * nb_col flags, or null
    std::string unit;                       // the altitudes' unit ("m", "ft"), or none
    double divisor = 1;                     // altitude = value / divisor (scaled levels)
    std::string ground_unit;                // unit of dx and dy ("m", "ft"), or none
};

struct Rgba_image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> px; // width * height * 4 bytes, row by row
};

struct Altitude_range {
    bool any = false; // false when every pixel is empty
    int min = 0;
    int max = 0;
};

// Range of the non-empty pixels of the view.
Altitude_range relief_range(const Relief_view& v);
// Lambertian shade, 0 to 1, of a pixel whose surface rises by dzde per unit
// east and dzdn per unit north, lit from the north-west at 45 degrees.
double hillshade(double dzde, double dzdn);
// Colour of the ramp at `t` (0 = lowest, 1 = highest), as RGB 0 to 255.
void ramp_colour(double t, std::uint8_t rgb[3]);
// Colour of the sea ramp at `t` (0 = the shore, 1 = the deepest), light to
// dark blue.
void sea_colour(double t, std::uint8_t rgb[3]);
// Colour of the value `z` in `range`: the land ramp from 0 (or the lowest
// value when none is below 0) to the highest, the sea ramp below 0.
void altitude_colour(double z, const Altitude_range& range, std::uint8_t rgb[3]);
// The legend's ticks: every multiple of a 1, 2 or 5 times a power of ten
// step inside [lo, hi], the step chosen to give 3 to `most` ticks; the one
// value when lo == hi.
std::vector<double> round_ticks(double lo, double hi, int most);
// The picture's size: the ground proportions of the grid (cells of dx by
// dy), one pixel for the finer cell side, the longer side brought within
// [min_side, max_side].
void picture_size(const Relief_view& v, int min_side, int max_side, int& width, int& height);
// The scale bar's length: the largest 1, 2 or 5 times a power of ten that
// is at most a quarter of `ground_width`.
double scale_bar_length(double ground_width);
// Its label: "500 m", "2 km" (metres from 1000 on), "200 ft", "50".
std::string scale_bar_label(double length, const std::string& unit);
// Renders the relief on `width` x `height` pixels, each showing the cell
// under its centre: hillshade blended with the colour ramps, empty pixels
// transparent, input contours drawn over it when given, and at the right,
// when the image is tall enough, a legend: the unit, the ramp with round
// ticks, and the vertical exaggeration ("VE x5"), and at the bottom left a
// scale bar of scale_bar_length() of the ground the picture spans.
Rgba_image render_relief(const Relief_view& v, int width, int height, const Altitude_range& range);
// The vertical exaggeration that makes a relief of `span` over a ground
// diagonal of `diagonal` readable in the hillshade: none for steep ground,
// up to 50 times for gentle hills.
double auto_zfactor(double span, double diagonal);
// Ground size of a cell of `geo`, in metres for a geographic CRS (taken at
// the grid's centre, whose line and column are given).
void ground_cell_size(const Georef& geo, double centre_line, double centre_col, double& dx,
                      double& dy);
// Writes the preview PNG of `v`, its range in the PNG's text metadata.
void write_preview(const Relief_view& v, const Georef& geo, const std::string& path,
                   const std::string& title);
