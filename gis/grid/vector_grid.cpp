// The grid vector contours are burnt on, and their burning with GDAL's own
// rasteriser.
#include "gis/gis.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <gdal_alg.h>
#include <gdal_priv.h>
#include <memory>
#include <ogrsf_frmts.h>

namespace {

// Grids beyond this would not fit the memory of the run's three int grids.
constexpr long long kMax_pixels = 500'000'000;
constexpr int kMax_side = 1'000'000;

struct Dataset_closer {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using Dataset_ptr = std::unique_ptr<GDALDataset, Dataset_closer>;

} // namespace

void check_grid_size(long long lines, long long cols, const char* hint)
{
    if (lines > kMax_side || cols > kMax_side || lines * cols > kMax_pixels)
        gis_fail("a grid of %lld lines and %lld columns is too large%s", lines, cols, hint);
}

Cell_grid grid_for_extent(double minx, double maxx, double miny, double maxy, double cell)
{
    // Corners on whole multiples of the cell; the maxima fall inside the
    // last cell, never on its far edge, so that no contour is cut off.
    const double c0 = std::floor(minx / cell);
    const double c1 = std::floor(maxx / cell) + 1;
    const double l0 = std::floor(miny / cell);
    const double l1 = std::floor(maxy / cell) + 1;
    check_grid_size(static_cast<long long>(l1 - l0), static_cast<long long>(c1 - c0),
                    ": choose a larger --cell");
    Cell_grid g;
    g.nb_col = static_cast<int>(c1 - c0);
    g.nb_lig = static_cast<int>(l1 - l0);
    g.gt[0] = c0 * cell;
    g.gt[1] = cell;
    g.gt[2] = 0;
    g.gt[3] = l1 * cell;
    g.gt[4] = 0;
    g.gt[5] = -cell;
    return g;
}

int header_pixel_size(double cell)
{
    const double r = std::floor(std::fabs(cell) + 0.5);
    if (r < 1) return 1;
    if (r > INT_MAX) return INT_MAX;
    return static_cast<int>(r);
}

void choose_vector_grid(const Import_options& o, OGRLayer& burn, const std::string& layer_wkt,
                        Program_state& s, Georef& geo)
{
    if (!o.like.empty()) {
        CPLErrorReset();
        Dataset_ptr like(GDALDataset::Open(o.like.c_str(), GDAL_OF_RASTER));
        if (!like)
            gis_fail("cannot read the raster %s given with --like: %s", o.like.c_str(),
                     gdal_error("GDAL does not recognise its format").c_str());
        if (like->GetGeoTransform(geo.gt) != CE_None)
            gis_fail("the raster %s given with --like has no georeferencing", o.like.c_str());
        s.nb_lig = like->GetRasterYSize();
        s.nb_col = like->GetRasterXSize();
        check_grid_size(s.nb_lig, s.nb_col, "");
        geo.wkt = crs_wkt(like->GetSpatialRef(), o.like);
        if (geo.wkt.empty()) geo.wkt = layer_wkt;
        s.taille_pix = header_pixel_size(geo.gt[1]);
    } else {
        OGREnvelope env;
        if (burn.GetExtent(&env, TRUE) != OGRERR_NONE)
            gis_fail("cannot tell the extent of the contours of %s", o.contours.c_str());
        const Cell_grid g = grid_for_extent(env.MinX, env.MaxX, env.MinY, env.MaxY, o.cell);
        s.nb_lig = g.nb_lig;
        s.nb_col = g.nb_col;
        std::copy(g.gt, g.gt + 6, geo.gt);
        geo.wkt = layer_wkt;
        s.taille_pix = header_pixel_size(o.cell);
    }
}

void rasterise_vector_contours(const Import_options& o, OGRLayer& burn, const char* layer_name,
                               Program_state& s, const Georef& geo)
{
    // Rasterise on a grid of NO_DATA; every cell a contour touches takes its
    // level, so that a line stays closed to the dilation's growth across it.
    GDALDriver* mem_raster = GetGDALDriverManager()->GetDriverByName("MEM");
    Dataset_ptr grid(mem_raster->Create("", s.nb_col, s.nb_lig, 1, GDT_Int32, nullptr));
    if (!grid)
        gis_fail("not enough memory for a grid of %d lines and %d columns", s.nb_lig, s.nb_col);
    grid->SetGeoTransform(const_cast<double*>(geo.gt));
    if (!geo.wkt.empty()) grid->SetProjection(geo.wkt.c_str());
    GDALRasterBand* band = grid->GetRasterBand(1);
    band->Fill(NO_DATA);
    int bands[1] = {1};
    OGRLayerH layers[1] = {OGRLayer::ToHandle(&burn)};
    const char* options[] = {"ATTRIBUTE=level", "ALL_TOUCHED=TRUE", nullptr};
    progress_stage("rasterising", true);
    CPLErrorReset();
    const CPLErr err =
        GDALRasterizeLayers(GDALDataset::ToHandle(grid.get()), 1, bands, 1, layers, nullptr,
                            nullptr, nullptr, const_cast<char**>(options), gdal_progress, nullptr);
    progress_done();
    if (err != CE_None)
        gis_fail("cannot rasterise the contours of %s: %s", o.contours.c_str(),
                 gdal_error("GDAL's rasteriser failed").c_str());

    s.itab = new_int_grid(s.nb_col, s.nb_lig);
    bool any = false;
    for (int i = 0; i < s.nb_lig; ++i) {
        if (band->RasterIO(GF_Read, 0, i, s.nb_col, 1, s.itab[i], s.nb_col, 1, GDT_Int32, 0, 0,
                           nullptr) != CE_None)
            gis_fail("cannot read the rasterised contours: %s", gdal_error("read error").c_str());
        for (int j = 0; j < s.nb_col && !any; ++j) any = s.itab[i][j] != NO_DATA;
    }
    if (!any)
        gis_fail("no contour of the layer '%s' of %s falls on the grid", layer_name,
                 o.contours.c_str());
}
