// Contours from GIS files: which kind the file is, and the rasterisation of
// vector contours with GDAL's own rasteriser.
#include "gis/gis.h"

#include <climits>
#include <cmath>
#include <filesystem>
#include <gdal_alg.h>
#include <gdal_priv.h>
#include <memory>
#include <ogrsf_frmts.h>

namespace {

// The attribute names taken for the elevation when none is given, any case.
const char* const kElevation_names[] = {"ELEV",   "ELEVATION", "ALT",     "ALTITUDE",
                                        "HEIGHT", "Z",         "CONTOUR", "LEVEL"};

// Grids beyond this would not fit the memory of the run's three int grids.
constexpr long long kMax_pixels = 500'000'000;
constexpr int kMax_side = 1'000'000;

struct Dataset_closer {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using Dataset_ptr = std::unique_ptr<GDALDataset, Dataset_closer>;

std::string attribute_list(OGRFeatureDefn* defn)
{
    std::string names;
    for (int k = 0; k < defn->GetFieldCount(); ++k) {
        if (!names.empty()) names += ", ";
        names += defn->GetFieldDefn(k)->GetNameRef();
    }
    return names.empty() ? "none" : names;
}

OGRLayer* pick_layer(GDALDataset& ds, const Import_options& o)
{
    if (o.layer.empty()) return ds.GetLayer(0);
    OGRLayer* layer = ds.GetLayerByName(o.layer.c_str());
    if (layer) return layer;
    std::string names;
    for (int k = 0; k < ds.GetLayerCount(); ++k) {
        if (!names.empty()) names += ", ";
        names += ds.GetLayer(k)->GetName();
    }
    gis_fail("%s has no layer '%s' (its layers: %s)", o.contours.c_str(), o.layer.c_str(),
             names.c_str());
}

// The index of the elevation attribute, or -1 when the elevation is the Z.
int elevation_field(const Import_options& o, OGRLayer& layer)
{
    OGRFeatureDefn* defn = layer.GetLayerDefn();
    if (!o.attribute.empty()) {
        const int k = defn->GetFieldIndex(o.attribute.c_str());
        if (k < 0)
            gis_fail("the layer '%s' of %s has no attribute '%s' (its attributes: %s)",
                     layer.GetName(), o.contours.c_str(), o.attribute.c_str(),
                     attribute_list(defn).c_str());
        return k;
    }
    for (const char* name : kElevation_names)
        for (int k = 0; k < defn->GetFieldCount(); ++k)
            if (EQUAL(defn->GetFieldDefn(k)->GetNameRef(), name)) return k;
    return -1;
}

// The lowest and highest Z of every vertex of a geometry.
struct Z_span : OGRDefaultConstGeometryVisitor {
    using OGRDefaultConstGeometryVisitor::visit;
    bool any = false;
    bool flat = false; // a vertex without Z
    double lo = 0, hi = 0;
    void visit(const OGRPoint* p) override
    {
        if (p->IsEmpty()) return;
        if (!p->Is3D()) {
            flat = true;
            return;
        }
        const double z = p->getZ();
        lo = any ? std::min(lo, z) : z;
        hi = any ? std::max(hi, z) : z;
        any = true;
    }
};

std::string feature_name(const OGRFeature& f, long long index, OGRLayer& layer,
                         const std::string& file)
{
    const long long fid = f.GetFID() == OGRNullFID ? index : static_cast<long long>(f.GetFID());
    return "feature " + std::to_string(fid) + " of the layer '" + layer.GetName() + "' of " + file;
}

// The elevation of one feature, refused unless it is a whole number.
int feature_elevation(const Import_options& o, OGRLayer& layer, const OGRFeature& f, int field,
                      long long index)
{
    double v = 0;
    if (field >= 0) {
        if (!f.IsFieldSetAndNotNull(field))
            gis_fail("%s has no elevation (its attribute '%s' is empty)",
                     feature_name(f, index, layer, o.contours).c_str(),
                     f.GetFieldDefnRef(field)->GetNameRef());
        const OGRFieldType type = f.GetFieldDefnRef(field)->GetType();
        if (type == OFTInteger || type == OFTInteger64 || type == OFTReal) {
            v = f.GetFieldAsDouble(field);
        } else if (!parse_real(f.GetFieldAsString(field), v)) {
            gis_fail("the elevation '%s' of %s is not a number", f.GetFieldAsString(field),
                     feature_name(f, index, layer, o.contours).c_str());
        }
    } else {
        Z_span z;
        f.GetGeometryRef()->accept(&z);
        if (z.flat || !z.any)
            gis_fail("the layer '%s' of %s has no elevation attribute (its attributes: %s) and "
                     "%s has no Z: name the attribute with --attribute",
                     layer.GetName(), o.contours.c_str(),
                     attribute_list(layer.GetLayerDefn()).c_str(),
                     feature_name(f, index, layer, o.contours).c_str());
        if (z.lo != z.hi)
            gis_fail("the vertices of %s lie at different heights, from %.15g to %.15g: a contour "
                     "line is level",
                     feature_name(f, index, layer, o.contours).c_str(), z.lo, z.hi);
        v = z.lo;
    }
    if (const char* why = elevation_refusal(v))
        gis_fail("the elevation %.15g of %s %s", v,
                 feature_name(f, index, layer, o.contours).c_str(), why);
    return static_cast<int>(v);
}

// A plain line or point geometry for the rasteriser: curves made linear,
// polygons reduced to their rings (a contour polygon's inside is not on the
// contour), the Z dropped.
OGRGeometry* burnable_geometry(const OGRGeometry* g)
{
    OGRGeometry* plain = g->hasCurveGeometry() ? g->getLinearGeometry() : g->clone();
    const OGRwkbGeometryType flat = wkbFlatten(plain->getGeometryType());
    if (flat == wkbPolygon || flat == wkbMultiPolygon || flat == wkbPolyhedralSurface ||
        flat == wkbTIN || flat == wkbTriangle)
        plain = OGRGeometryFactory::forceToMultiLineString(plain);
    plain->flattenTo2D();
    return plain;
}

void check_grid_size(long long lines, long long cols, const char* hint)
{
    if (lines > kMax_side || cols > kMax_side || lines * cols > kMax_pixels)
        gis_fail("a grid of %lld lines and %lld columns is too large%s", lines, cols, hint);
}

} // namespace

const char* elevation_refusal(double v)
{
    if (!std::isfinite(v)) return "is not a number";
    if (v != std::trunc(v)) return "is not a whole number: relief_forge works on whole altitudes";
    if (v < INT_MIN || v > INT_MAX) return "is outside the range of 32-bit altitudes";
    if (v == NO_DATA) return "is -99999, the value that marks empty pixels";
    return nullptr;
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

void import_contours(const Import_options& o, Program_state& s, Georef& geo)
{
    std::error_code ec;
    if (!std::filesystem::exists(o.contours, ec))
        gis_fail("cannot open %s: no such file or directory", o.contours.c_str());
    CPLErrorReset();
    Dataset_ptr ds(GDALDataset::Open(o.contours.c_str(), GDAL_OF_VECTOR | GDAL_OF_RASTER));
    if (!ds)
        gis_fail("cannot read %s: %s", o.contours.c_str(),
                 gdal_error("GDAL does not recognise its format").c_str());
    s.nomim1 = o.contours;
    if (ds->GetLayerCount() > 0)
        import_vector(o, *ds, s, geo);
    else if (ds->GetRasterCount() > 0)
        import_raster(o, *ds, s, geo);
    else
        gis_fail("%s holds neither a vector layer nor a raster band", o.contours.c_str());
}

void import_vector(const Import_options& o, GDALDataset& ds, Program_state& s, Georef& geo)
{
    if (o.bits16)
        gis_fail("%s holds vector contours, which need the 32-bit contour raster: a 16-bit "
                 "raster has no empty pixel, so every cell off the contours would be read as "
                 "an altitude (drop --16bit)",
                 o.contours.c_str());
    if (o.cell <= 0 && o.like.empty())
        gis_fail("vector contours need a grid: give its cell size with --cell or a raster "
                 "with --like");
    if (o.has_empty || o.band != 1)
        gis_fail("--empty and --band apply to raster contours; %s holds vectors",
                 o.contours.c_str());
    OGRLayer* layer = pick_layer(ds, o);
    const int field = elevation_field(o, *layer);

    std::string layer_wkt;
    if (!o.crs.empty())
        layer_wkt = crs_from_user(o.crs);
    else
        layer_wkt = crs_wkt(layer->GetSpatialRef(), o.contours);
    OGRSpatialReference layer_srs;
    if (!layer_wkt.empty()) {
        layer_srs.importFromWkt(layer_wkt.c_str());
        layer_srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    }

    // The features, checked, into a layer in memory that holds exactly what
    // is burnt: a plain geometry and a whole elevation.
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("Memory");
    Dataset_ptr mem(memory->Create("", 0, 0, 0, GDT_Unknown, nullptr));
    OGRLayer* burn =
        mem->CreateLayer("contours", layer_wkt.empty() ? nullptr : &layer_srs, wkbUnknown, nullptr);
    OGRFieldDefn level("level", OFTInteger);
    burn->CreateField(&level);
    long long index = 0, kept = 0;
    layer->ResetReading();
    for (const auto& f : *layer) {
        const OGRGeometry* g = f->GetGeometryRef();
        ++index;
        if (!g || g->IsEmpty()) continue;
        const int v = feature_elevation(o, *layer, *f, field, index - 1);
        OGRFeature copy(burn->GetLayerDefn());
        copy.SetField(0, v);
        copy.SetGeometryDirectly(burnable_geometry(g));
        if (burn->CreateFeature(&copy) != OGRERR_NONE)
            gis_fail("cannot keep %s: %s", feature_name(*f, index - 1, *layer, o.contours).c_str(),
                     gdal_error("out of memory").c_str());
        ++kept;
    }
    if (kept == 0)
        gis_fail("the layer '%s' of %s holds no contour (no feature with a geometry)",
                 layer->GetName(), o.contours.c_str());

    // The grid: the layer's extent on cells of --cell, or the --like raster's.
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
        if (burn->GetExtent(&env, TRUE) != OGRERR_NONE)
            gis_fail("cannot tell the extent of the contours of %s", o.contours.c_str());
        const Cell_grid g = grid_for_extent(env.MinX, env.MaxX, env.MinY, env.MaxY, o.cell);
        s.nb_lig = g.nb_lig;
        s.nb_col = g.nb_col;
        std::copy(g.gt, g.gt + 6, geo.gt);
        geo.wkt = layer_wkt;
        s.taille_pix = header_pixel_size(o.cell);
    }
    s.itype = 1;
    s.val = 4;

    // Rasterise on a grid of NO_DATA; every cell a contour touches takes its
    // level, so that a line stays closed to the dilation's growth across it.
    GDALDriver* mem_raster = GetGDALDriverManager()->GetDriverByName("MEM");
    Dataset_ptr grid(mem_raster->Create("", s.nb_col, s.nb_lig, 1, GDT_Int32, nullptr));
    if (!grid)
        gis_fail("not enough memory for a grid of %d lines and %d columns", s.nb_lig, s.nb_col);
    grid->SetGeoTransform(geo.gt);
    if (!geo.wkt.empty()) grid->SetProjection(geo.wkt.c_str());
    GDALRasterBand* band = grid->GetRasterBand(1);
    band->Fill(NO_DATA);
    int bands[1] = {1};
    OGRLayerH layers[1] = {OGRLayer::ToHandle(burn)};
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
        gis_fail("no contour of the layer '%s' of %s falls on the grid", layer->GetName(),
                 o.contours.c_str());
    if (geo.wkt.empty())
        std::fprintf(stderr,
                     "relief_forge_gis: warning: %s has no CRS, so neither will the outputs "
                     "(give one with --crs)\n",
                     o.contours.c_str());
}
