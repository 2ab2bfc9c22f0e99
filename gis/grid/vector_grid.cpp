// The grid vector contours are burnt on, and their burning with GDAL's own
// rasteriser.
#include "gis/gis.h"
#include "gis/grid/grid.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <gdal_alg.h>
#include <gdal_priv.h>
#include <memory>
#include <ogrsf_frmts.h>
#include <vector>

namespace {

struct Dataset_closer {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using Dataset_ptr = std::unique_ptr<GDALDataset, Dataset_closer>;

} // namespace

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
        check_grid_size(s.nb_lig, s.nb_col, o.bytes_per_cell + o.out_bytes_per_cell, "");
        geo.wkt = crs_wkt(like->GetSpatialRef(), o.like);
        if (geo.wkt.empty()) geo.wkt = layer_wkt;
        s.taille_pix = header_pixel_size(geo.gt[1]);
    } else {
        OGREnvelope env;
        if (o.has_extent) {
            env.MinX = o.extent[0];
            env.MinY = o.extent[1];
            env.MaxX = o.extent[2];
            env.MaxY = o.extent[3];
        } else if (burn.GetExtent(&env, TRUE) != OGRERR_NONE) {
            gis_fail("cannot tell the extent of the contours of %s", o.contours.c_str());
        }
        const Cell_grid g = grid_for_extent(env.MinX, env.MaxX, env.MinY, env.MaxY, o.cell, o.tap,
                                            o.bytes_per_cell + o.out_bytes_per_cell, o.cell_y);
        s.nb_lig = g.nb_lig;
        s.nb_col = g.nb_col;
        std::copy(g.gt, g.gt + 6, geo.gt);
        geo.wkt = layer_wkt;
        s.taille_pix = header_pixel_size(o.cell);
    }
}

namespace {

// The mean distance between the contours, in cells, that auto oversampling
// brings them to on the fine grid: measured on real terrain, the error
// falls little beyond it (see docs/gis.md).
constexpr double kTarget_spacing = 6;

// The total length of the lines of `burn`, polygons by their rings.
double contour_length(OGRLayer& burn)
{
    double length = 0;
    burn.ResetReading();
    for (const auto& f : burn) {
        const OGRGeometry* g = f->GetGeometryRef();
        if (!g) continue;
        const OGRwkbGeometryType flat = wkbFlatten(g->getGeometryType());
        if (flat == wkbLineString)
            length += g->toLineString()->get_Length();
        else if (flat == wkbMultiLineString)
            length += g->toMultiLineString()->get_Length();
    }
    burn.ResetReading();
    return length;
}

std::string one_decimal(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, v >= 100 ? "%.0f" : "%.1f", v);
    return text;
}

} // namespace

int choose_oversample(const Import_options& o, OGRLayer& burn, const Program_state& s,
                      const Georef& geo, std::string& why)
{
    const double cells = static_cast<double>(s.nb_lig) * s.nb_col;
    const auto fine_bytes = [&](int n) {
        return cells * n * n * o.bytes_per_cell + cells * o.out_bytes_per_cell;
    };
    if (o.oversample > 0) {
        const double n = o.oversample;
        check_grid_size(s.nb_lig * n, s.nb_col * n, fine_bytes(o.oversample) / (cells * n * n),
                        ": choose a smaller --oversample");
        why = "as asked";
        return o.oversample;
    }
    // Contours d apart cross an area A with a length of about A / d.
    const double dx = std::hypot(geo.gt[1], geo.gt[4]), dy = std::hypot(geo.gt[2], geo.gt[5]);
    const double length = contour_length(burn);
    const double spacing = length > 0 ? cells * dx * dy / length / std::sqrt(dx * dy) : HUGE_VAL;
    int n = std::clamp(static_cast<int>(std::ceil(kTarget_spacing / spacing)), 1, kMax_oversample);
    const int wanted = n;
    const double memory = machine_memory();
    while (n > 1 && (cells * n * n > kMax_fine_cells || (memory > 0 && fine_bytes(n) > memory / 2)))
        --n;
    why = "the contours lie " + (std::isfinite(spacing) ? one_decimal(spacing) : "no") +
          " cells apart on average";
    if (n < wanted)
        why += "; " + std::to_string(wanted) + " would bring them " +
               one_decimal(spacing * wanted) + " fine cells apart, but the fine grid is kept " +
               (cells * wanted * wanted > kMax_fine_cells ? "within 16.8 million cells"
                                                          : "within half the memory") +
               " (--oversample N forces a factor)";
    else if (n > 1)
        why += ", " + one_decimal(spacing * n) + " on the fine grid";
    else
        why += ", enough for the output cells";
    if (n > 1)
        check_grid_size(s.nb_lig * static_cast<double>(n), s.nb_col * static_cast<double>(n),
                        fine_bytes(n) / (cells * n * n), ": choose a smaller --oversample");
    return n;
}

void rasterise_vector_contours(const Import_options& o, OGRLayer& burn, const char* layer_name,
                               Program_state& s, const Georef& geo)
{
    // Rasterise on a grid of NO_DATA: the cells of each line as GDAL draws
    // it, or with --burn all-touched every cell the line touches. GDAL gives
    // a point on a cell's edge to the cell east or south of it, so contours
    // on the far edges of a grid made from their own extent would fall off
    // it: they are burnt on one more column and line, folded back into the
    // last ones.
    const bool fold = o.like.empty() && !o.has_extent;
    const int cols = s.nb_col + (fold ? 1 : 0), lines = s.nb_lig + (fold ? 1 : 0);
    GDALDriver* mem_raster = GetGDALDriverManager()->GetDriverByName("MEM");
    Dataset_ptr grid(mem_raster->Create("", cols, lines, 1, GDT_Int32, nullptr));
    if (!grid)
        gis_fail("not enough memory for a grid of %d lines and %d columns", s.nb_lig, s.nb_col);
    grid->SetGeoTransform(const_cast<double*>(geo.gt));
    if (!geo.wkt.empty()) grid->SetProjection(geo.wkt.c_str());
    GDALRasterBand* band = grid->GetRasterBand(1);
    band->Fill(NO_DATA);
    int bands[1] = {1};
    OGRLayerH layers[1] = {OGRLayer::ToHandle(&burn)};
    const char* options[] = {"ATTRIBUTE=level", o.all_touched ? "ALL_TOUCHED=TRUE" : nullptr,
                             nullptr};
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
    std::vector<int> row(static_cast<std::size_t>(cols));
    const auto last = static_cast<std::size_t>(s.nb_col - 1);
    bool any = false;
    for (int i = 0; i < lines; ++i) {
        if (band->RasterIO(GF_Read, 0, i, cols, 1, row.data(), cols, 1, GDT_Int32, 0, 0, nullptr) !=
            CE_None)
            gis_fail("cannot read the rasterised contours: %s", gdal_error("read error").c_str());
        if (fold && row[last] == NO_DATA) row[last] = row[last + 1];
        int* to = s.itab[std::min(i, s.nb_lig - 1)];
        for (int j = 0; j < s.nb_col; ++j) {
            const int v = row[static_cast<std::size_t>(j)];
            if (i < s.nb_lig || to[j] == NO_DATA) to[j] = v;
            any = any || v != NO_DATA;
        }
    }
    if (!any)
        gis_fail("no contour of the layer '%s' of %s falls on the grid", layer_name,
                 o.contours.c_str());
}
