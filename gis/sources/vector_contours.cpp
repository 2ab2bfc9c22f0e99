// Vector contours: the features of a layer, checked, kept as the lines and
// whole levels that are burnt on the grid.
#include "gis/sources/sources.h"

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

} // namespace

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

    choose_vector_grid(o, *burn, layer_wkt, s, geo);
    s.itype = 1;
    s.val = 4;
    rasterise_vector_contours(o, *burn, layer->GetName(), s, geo);
    if (geo.wkt.empty())
        std::fprintf(stderr,
                     "relief_forge_gis: warning: %s has no CRS, so neither will the outputs "
                     "(give one with --crs)\n",
                     o.contours.c_str());
}
