// A contour raster read into the contour grid: its grid kept, its nodata
// pixels empty, every other pixel a whole altitude.
#include "gis/sources/sources.h"

#include <algorithm>
#include <cmath>
#include <gdal_priv.h>
#include <unordered_set>
#include <vector>

namespace {

bool is_empty(double v, bool has_nodata, double nodata, const Import_options& o)
{
    return (has_nodata && (v == nodata || (std::isnan(nodata) && std::isnan(v)))) ||
           (o.has_empty && v == o.empty) || v == NO_DATA;
}

// The distinct levels of the band, which the factor and the step come from.
std::vector<double> raster_levels(GDALRasterBand& band, const Import_options& o, int lines,
                                  int cols, bool has_nodata, double nodata)
{
    std::vector<double> row(static_cast<std::size_t>(cols));
    std::unordered_set<double> seen;
    for (int i = 0; i < lines; ++i) {
        if (band.RasterIO(GF_Read, 0, i, cols, 1, row.data(), cols, 1, GDT_Float64, 0, 0,
                          nullptr) != CE_None)
            gis_fail("cannot read %s: %s", o.contours.c_str(), gdal_error("read error").c_str());
        for (double v : row)
            if (!is_empty(v, has_nodata, nodata, o) && std::isfinite(v)) seen.insert(v);
    }
    std::vector<double> levels(seen.begin(), seen.end());
    keep_distinct(levels);
    return levels;
}

} // namespace

void import_raster(const Import_options& o, GDALDataset& ds, Program_state& s, Georef& geo,
                   Source_info& info)
{
    if (o.cell > 0 || !o.like.empty() || !o.attribute.empty() || !o.layers.empty())
        gis_fail("%s is a raster, which keeps its own grid: --cell, --like, --attribute and "
                 "--layer apply to vector contours",
                 o.contours.c_str());
    if (!o.t_srs.empty() || !o.where.empty() || o.spot_heights)
        gis_fail("%s is a raster: --t_srs, --where and --spot-heights apply to vector "
                 "contours",
                 o.contours.c_str());
    if (o.band > ds.GetRasterCount())
        gis_fail("%s has %d band(s): there is no band %d", o.contours.c_str(), ds.GetRasterCount(),
                 o.band);
    if (o.oversample > 1)
        gis_fail("%s is a raster, which keeps its own grid: --oversample applies to vector "
                 "contours",
                 o.contours.c_str());
    if (ds.GetGeoTransform(geo.gt) != CE_None)
        gis_fail("%s has no georeferencing (no geotransform): its DEM could not be placed on the "
                 "ground",
                 o.contours.c_str());
    geo.wkt = o.crs.empty() ? crs_wkt(ds.GetSpatialRef(), o.contours) : crs_from_user(o.crs);
    info.band = o.band;

    s.nb_lig = ds.GetRasterYSize();
    s.nb_col = ds.GetRasterXSize();
    s.itype = o.bits16 ? 0 : 1;
    s.val = o.bits16 ? 2 : 4;
    s.taille_pix = header_pixel_size(geo.gt[1]);
    check_grid_size(s.nb_lig, s.nb_col, o.bytes_per_cell + o.out_bytes_per_cell, "");

    GDALRasterBand* band = ds.GetRasterBand(o.band);
    int has_nodata = 0;
    const double nodata = band->GetNoDataValue(&has_nodata);
    const std::vector<double> levels =
        raster_levels(*band, o, s.nb_lig, s.nb_col, has_nodata != 0, nodata);
    double failing = 0;
    info.z_factor = level_factor(levels, o.equidistance, o.z_scale, failing);
    if (info.z_factor == 0 && !std::binary_search(levels.begin(), levels.end(), failing))
        refuse_equidistance_factor(o);
    if (info.z_factor == 0 && o.z_scale > 0)
        gis_fail("%s holds %.17g, which is not whole once multiplied by --z-scale %d",
                 o.contours.c_str(), failing, o.z_scale);
    if (info.z_factor == 0)
        gis_fail("%s holds %.17g, which is not a whole number, nor made whole by a power of ten "
                 "up to %d: relief_forge works on whole altitudes",
                 o.contours.c_str(), failing, kMax_z_factor);
    const double factor = info.z_factor;
    std::vector<long long> scaled_levels;
    for (double v : levels)
        if (is_whole(v * factor))
            scaled_levels.push_back(static_cast<long long>(std::nearbyint(v * factor)));
    info.step = level_step(scaled_levels);

    s.itab = new_int_grid(s.nb_col, s.nb_lig);
    std::vector<double> row(static_cast<std::size_t>(s.nb_col));
    long long empties = 0;
    progress_stage("reading", true);
    for (int i = 0; i < s.nb_lig; ++i) {
        if (band->RasterIO(GF_Read, 0, i, s.nb_col, 1, row.data(), s.nb_col, 1, GDT_Float64, 0, 0,
                           nullptr) != CE_None)
            gis_fail("cannot read %s: %s", o.contours.c_str(), gdal_error("read error").c_str());
        for (int j = 0; j < s.nb_col; ++j) {
            const double raw = row[static_cast<std::size_t>(j)];
            // NO_DATA itself is let through: in the file it already means empty.
            const bool empty = is_empty(raw, has_nodata != 0, nodata, o);
            if (empty && o.bits16)
                gis_fail("the pixel at line %d, column %d of %s is empty, and a 16-bit contour "
                         "raster cannot hold an empty pixel (drop --16bit)",
                         i, j, o.contours.c_str());
            if (empty) {
                s.itab[i][j] = NO_DATA;
                ++empties;
                continue;
            }
            const double v = raw * factor;
            if (const char* why = elevation_refusal(v))
                gis_fail("the pixel at line %d, column %d of %s holds %.17g, which %s%s", i, j,
                         o.contours.c_str(), raw,
                         factor > 1
                             ? ("multiplied by " + std::to_string(info.z_factor) + " ").c_str()
                             : "",
                         why);
            const double level = std::nearbyint(v);
            if (o.bits16 && (level < 0 || level > 65535))
                gis_fail("the pixel at line %d, column %d of %s holds %.17g, outside the 0 to "
                         "65535 of a 16-bit contour raster",
                         i, j, o.contours.c_str(), raw);
            s.itab[i][j] = static_cast<int>(level);
        }
        progress_fraction(static_cast<double>(i + 1) / s.nb_lig);
    }
    progress_done();
    // Background read as contour: the DEM would be the raster itself.
    const long long pixels = static_cast<long long>(s.nb_lig) * s.nb_col;
    if (!o.bits16 && empties == 0)
        gis_fail("no pixel of %s is empty: every one would be a contour and the DEM the raster "
                 "itself; give the background value with --empty (such as --empty 0), or "
                 "set the band's nodata",
                 o.contours.c_str());
    if (!o.bits16 && empties * 2 < pixels)
        std::fprintf(stderr,
                     "relief_forge_gis: warning: contours cover %.0f %% of %s: if its background "
                     "is a value, give it with --empty\n",
                     100.0 * static_cast<double>(pixels - empties) / static_cast<double>(pixels),
                     o.contours.c_str());
    if (geo.wkt.empty())
        std::fprintf(stderr,
                     "relief_forge_gis: warning: %s has no CRS, so neither will the outputs "
                     "(give one with --crs)\n",
                     o.contours.c_str());
}
