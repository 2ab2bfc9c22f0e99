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
// Renders the relief: every `step`-th pixel of the DEM, hillshade blended
// with the colour ramp, empty pixels transparent, input contours drawn over
// it when given, and a legend of the range at the right when the image is
// tall enough for it.
Rgba_image render_relief(const Relief_view& v, int step, const Altitude_range& range);
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
