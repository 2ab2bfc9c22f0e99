// A contour raster read into the contour grid: its grid kept, its nodata
// pixels empty, every other pixel a whole altitude.
#include "gis/sources/sources.h"

#include <cmath>
#include <gdal_priv.h>
#include <vector>

void import_raster(const Import_options& o, GDALDataset& ds, Program_state& s, Georef& geo)
{
    if (o.cell > 0 || !o.like.empty() || !o.attribute.empty() || !o.layer.empty())
        gis_fail("%s is a raster, which keeps its own grid: --cell, --like, --attribute and "
                 "--layer apply to vector contours",
                 o.contours.c_str());
    if (o.band > ds.GetRasterCount())
        gis_fail("%s has %d band(s): there is no band %d", o.contours.c_str(), ds.GetRasterCount(),
                 o.band);
    if (ds.GetGeoTransform(geo.gt) != CE_None)
        gis_fail("%s has no georeferencing (no geotransform): its DEM could not be placed on the "
                 "ground",
                 o.contours.c_str());
    geo.wkt = o.crs.empty() ? crs_wkt(ds.GetSpatialRef(), o.contours) : crs_from_user(o.crs);

    s.nb_lig = ds.GetRasterYSize();
    s.nb_col = ds.GetRasterXSize();
    s.itype = o.bits16 ? 0 : 1;
    s.val = o.bits16 ? 2 : 4;
    s.taille_pix = header_pixel_size(geo.gt[1]);
    check_grid_size(s.nb_lig, s.nb_col, o.bytes_per_cell, "");
    s.itab = new_int_grid(s.nb_col, s.nb_lig);

    GDALRasterBand* band = ds.GetRasterBand(o.band);
    int has_nodata = 0;
    const double nodata = band->GetNoDataValue(&has_nodata);
    std::vector<double> row(static_cast<std::size_t>(s.nb_col));
    progress_stage("reading", true);
    for (int i = 0; i < s.nb_lig; ++i) {
        if (band->RasterIO(GF_Read, 0, i, s.nb_col, 1, row.data(), s.nb_col, 1, GDT_Float64, 0, 0,
                           nullptr) != CE_None)
            gis_fail("cannot read %s: %s", o.contours.c_str(), gdal_error("read error").c_str());
        for (int j = 0; j < s.nb_col; ++j) {
            const double v = row[static_cast<std::size_t>(j)];
            const bool empty =
                (has_nodata && (v == nodata || (std::isnan(nodata) && std::isnan(v)))) ||
                (o.has_empty && v == o.empty);
            if (empty && o.bits16)
                gis_fail("the pixel at line %d, column %d of %s is empty, and a 16-bit contour "
                         "raster cannot hold an empty pixel (drop --16bit)",
                         i, j, o.contours.c_str());
            if (empty) {
                s.itab[i][j] = NO_DATA;
                continue;
            }
            // NO_DATA itself is let through: in the file it already means empty.
            if (v != NO_DATA)
                if (const char* why = elevation_refusal(v))
                    gis_fail("the pixel at line %d, column %d of %s holds %.15g, which %s", i, j,
                             o.contours.c_str(), v, why);
            if (o.bits16 && (v < 0 || v > 65535))
                gis_fail("the pixel at line %d, column %d of %s holds %.15g, outside the 0 to "
                         "65535 of a 16-bit contour raster",
                         i, j, o.contours.c_str(), v);
            s.itab[i][j] = static_cast<int>(v);
        }
        progress_fraction(static_cast<double>(i + 1) / s.nb_lig);
    }
    progress_done();
    if (geo.wkt.empty())
        std::fprintf(stderr,
                     "relief_forge_gis: warning: %s has no CRS, so neither will the outputs "
                     "(give one with --crs)\n",
                     o.contours.c_str());
}
