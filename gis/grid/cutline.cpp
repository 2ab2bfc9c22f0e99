// The mask of --cutline: the polygons of a vector file burnt on the output
// grid, so that the cells whose centre lies outside them become nodata.
#include "gis/grid/grid.h"

#include <gdal_alg.h>
#include <gdal_priv.h>
#include <memory>
#include <ogrsf_frmts.h>

namespace {

struct Dataset_closer {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using Dataset_ptr = std::unique_ptr<GDALDataset, Dataset_closer>;

bool is_polygonal(const OGRGeometry* g)
{
    const OGRwkbGeometryType flat = wkbFlatten(g->getGeometryType());
    return flat == wkbPolygon || flat == wkbMultiPolygon || flat == wkbCurvePolygon ||
           flat == wkbMultiSurface;
}

} // namespace

std::vector<std::uint8_t> cutline_mask(const Cutline_options& c, int nb_lig, int nb_col,
                                       const Georef& geo)
{
    CPLErrorReset();
    Dataset_ptr ds(GDALDataset::Open(c.path.c_str(), GDAL_OF_VECTOR));
    if (!ds)
        gis_fail("cannot read the cutline %s: %s", c.path.c_str(),
                 gdal_error("GDAL finds no vector layer in it").c_str());
    OGRLayer* layer = c.layer.empty() ? ds->GetLayer(0) : ds->GetLayerByName(c.layer.c_str());
    if (!layer)
        gis_fail("the cutline %s has no layer%s%s%s", c.path.c_str(), c.layer.empty() ? "" : " '",
                 c.layer.c_str(), c.layer.empty() ? "" : "'");
    CPLErrorReset();
    if (!c.where.empty() && layer->SetAttributeFilter(c.where.c_str()) != OGRERR_NONE)
        gis_fail("the filter -cwhere '%s' cannot be applied to the layer '%s' of %s: %s",
                 c.where.c_str(), layer->GetName(), c.path.c_str(),
                 gdal_error("GDAL cannot read it").c_str());

    // The polygons, in the grid's CRS, into a layer in memory.
    std::unique_ptr<OGRCoordinateTransformation> to_grid;
    const std::string wkt = crs_wkt(layer->GetSpatialRef(), c.path);
    OGRSpatialReference grid_srs;
    if (!geo.wkt.empty()) {
        grid_srs.importFromWkt(geo.wkt.c_str());
        grid_srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    }
    if (!wkt.empty() && !geo.wkt.empty() && !crs_same(wkt, geo.wkt)) {
        OGRSpatialReference from;
        from.importFromWkt(wkt.c_str());
        from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        CPLErrorReset();
        to_grid.reset(OGRCreateCoordinateTransformation(&from, &grid_srs));
        if (!to_grid)
            gis_fail("the cutline %s cannot be reprojected to the DEM's CRS: %s", c.path.c_str(),
                     gdal_error("no transformation between the two CRS").c_str());
    }
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("Memory");
    Dataset_ptr mem(memory->Create("", 0, 0, 0, GDT_Unknown, nullptr));
    OGRLayer* polygons =
        mem->CreateLayer("cutline", geo.wkt.empty() ? nullptr : &grid_srs, wkbUnknown, nullptr);
    long long kept = 0, other = 0;
    for (const auto& f : *layer) {
        const OGRGeometry* g = f->GetGeometryRef();
        if (!g || g->IsEmpty()) continue;
        if (!is_polygonal(g)) {
            ++other;
            continue;
        }
        OGRGeometry* plain = g->hasCurveGeometry() ? g->getLinearGeometry() : g->clone();
        if (to_grid && plain->transform(to_grid.get()) != OGRERR_NONE) {
            delete plain;
            gis_fail("feature %lld of the cutline %s cannot be reprojected to the DEM's CRS",
                     static_cast<long long>(f->GetFID()), c.path.c_str());
        }
        OGRFeature copy(polygons->GetLayerDefn());
        copy.SetGeometryDirectly(plain);
        if (polygons->CreateFeature(&copy) != OGRERR_NONE)
            gis_fail("cannot keep the cutline's polygons: %s", gdal_error("out of memory").c_str());
        ++kept;
    }
    if (kept == 0)
        gis_fail("the layer '%s' of the cutline %s holds no polygon%s%s", layer->GetName(),
                 c.path.c_str(), c.where.empty() ? "" : " matching -cwhere",
                 other > 0 ? " (only lines or points)" : "");
    if (other > 0)
        std::fprintf(stderr,
                     "relief_forge_gis: warning: %lld feature(s) of the cutline %s are not "
                     "polygons and mask nothing\n",
                     other, c.path.c_str());

    // GDAL burns the cells whose centre lies inside a polygon.
    GDALDriver* mem_raster = GetGDALDriverManager()->GetDriverByName("MEM");
    Dataset_ptr grid(mem_raster->Create("", nb_col, nb_lig, 1, GDT_Byte, nullptr));
    if (!grid) gis_fail("not enough memory for the cutline's mask");
    grid->SetGeoTransform(const_cast<double*>(geo.gt));
    int bands[1] = {1};
    double one[1] = {1};
    OGRLayerH layers[1] = {OGRLayer::ToHandle(polygons)};
    progress_stage("cutline", true);
    CPLErrorReset();
    if (GDALRasterizeLayers(GDALDataset::ToHandle(grid.get()), 1, bands, 1, layers, nullptr,
                            nullptr, one, nullptr, gdal_progress, nullptr) != CE_None)
        gis_fail("cannot burn the cutline %s: %s", c.path.c_str(),
                 gdal_error("GDAL's rasteriser failed").c_str());
    progress_done();
    std::vector<std::uint8_t> inside(static_cast<std::size_t>(nb_lig) *
                                     static_cast<std::size_t>(nb_col));
    if (grid->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, nb_col, nb_lig, inside.data(), nb_col,
                                         nb_lig, GDT_Byte, 0, 0, nullptr) != CE_None)
        gis_fail("cannot read the cutline's mask: %s", gdal_error("read error").c_str());
    return inside;
}
