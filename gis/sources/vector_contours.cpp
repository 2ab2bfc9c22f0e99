// Vector contours: the features of a layer, checked, kept as the lines and
// whole levels that are burnt on the grid.
#include "gis/sources/sources.h"

#include <algorithm>
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

// The layers of -l, each once, in the order given; the first layer without.
std::vector<OGRLayer*> pick_layers(GDALDataset& ds, const Import_options& o)
{
    if (o.layers.empty()) return {ds.GetLayer(0)};
    std::vector<OGRLayer*> picked;
    for (const std::string& name : o.layers) {
        OGRLayer* layer = ds.GetLayerByName(name.c_str());
        if (!layer) {
            std::string names;
            for (int k = 0; k < ds.GetLayerCount(); ++k) {
                if (!names.empty()) names += ", ";
                names += ds.GetLayer(k)->GetName();
            }
            gis_fail("%s has no layer '%s' (its layers: %s)", o.contours.c_str(), name.c_str(),
                     names.c_str());
        }
        if (std::find(picked.begin(), picked.end(), layer) == picked.end()) picked.push_back(layer);
    }
    return picked;
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

// The elevation of one feature as written, refused unless it is a number;
// whether it is whole is told once the levels' factor is known.
double feature_elevation(const Import_options& o, OGRLayer& layer, const OGRFeature& f, int field,
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
        if (std::fabs(z.hi - z.lo) > 1e-6 * std::max(1.0, std::fabs(z.lo)))
            gis_fail("the vertices of %s lie at different heights, from %.15g to %.15g: a contour "
                     "line is level",
                     feature_name(f, index, layer, o.contours).c_str(), z.lo, z.hi);
        v = z.lo;
    }
    if (!std::isfinite(v))
        gis_fail("the elevation %.17g of %s is not a number", v,
                 feature_name(f, index, layer, o.contours).c_str());
    return v;
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

bool is_point(const OGRGeometry* g)
{
    const OGRwkbGeometryType flat = wkbFlatten(g->getGeometryType());
    return flat == wkbPoint || flat == wkbMultiPoint;
}

bool is_polygonal(const OGRGeometry* g)
{
    const OGRwkbGeometryType flat = wkbFlatten(g->getGeometryType());
    return flat == wkbPolygon || flat == wkbMultiPolygon || flat == wkbCurvePolygon ||
           flat == wkbMultiSurface;
}

// Two attributes that bound a band of levels, such as ELEV_MIN and
// ELEV_MAX, as polygons of the bands between two contours carry them;
// empty when the layer has no such pair.
std::pair<std::string, std::string> band_attributes(OGRFeatureDefn* defn)
{
    for (int k = 0; k < defn->GetFieldCount(); ++k) {
        const std::string name = defn->GetFieldDefn(k)->GetNameRef();
        if (name.size() < 3 || !EQUAL(name.c_str() + name.size() - 3, "MIN")) continue;
        const std::string stem = name.substr(0, name.size() - 3);
        for (int m = 0; m < defn->GetFieldCount(); ++m) {
            const std::string other = defn->GetFieldDefn(m)->GetNameRef();
            if (other.size() == name.size() && EQUALN(other.c_str(), stem.c_str(), stem.size()) &&
                EQUAL(other.c_str() + stem.size(), "MAX"))
                return {name, other};
        }
    }
    return {};
}

// The CRS the contours are burnt in: --t_srs when given, their own else.
struct Reprojection {
    std::unique_ptr<OGRCoordinateTransformation> transform;
    std::string wkt;
};

// From `from_wkt` to `target_wkt`, or to --t_srs when none is given; no
// transformation when neither is, or when the layer has no CRS to reproject
// from beside other layers that have one.
Reprojection reprojection(const Import_options& o, const std::string& from_wkt,
                          const std::string& target_wkt = "")
{
    Reprojection r;
    r.wkt = from_wkt;
    if (o.t_srs.empty() && target_wkt.empty()) return r;
    if (from_wkt.empty() && !target_wkt.empty()) return r;
    if (from_wkt.empty())
        gis_fail("%s has no CRS to reproject from: give it with --crs, and the CRS to reproject "
                 "to with --t_srs",
                 o.contours.c_str());
    r.wkt = !target_wkt.empty() ? target_wkt : crs_from_user(o.t_srs);
    OGRSpatialReference source, target;
    source.importFromWkt(from_wkt.c_str());
    source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    target.importFromWkt(r.wkt.c_str());
    target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    CPLErrorReset();
    r.transform.reset(OGRCreateCoordinateTransformation(&source, &target));
    if (!r.transform)
        gis_fail("the contours of %s cannot be reprojected to '%s': %s", o.contours.c_str(),
                 o.t_srs.empty() ? "the first layer's CRS" : o.t_srs.c_str(),
                 gdal_error("no transformation between the two CRS").c_str());
    return r;
}

// A --cell that leaves fewer than two cells across the contours: in a
// geographic CRS, most often metres given for degrees.
void check_cell_for_crs(const Import_options& o, OGRLayer& burn, const std::string& wkt)
{
    if (o.cell <= 0 || !o.like.empty()) return;
    OGREnvelope env;
    if (burn.GetExtent(&env, TRUE) != OGRERR_NONE) return;
    const double span = std::max(env.MaxX - env.MinX, env.MaxY - env.MinY);
    if (!(span > 0) || std::max(o.cell, o.cell_y) * 2 <= span) return;
    OGRSpatialReference srs;
    const bool has_crs = !wkt.empty() && srs.importFromWkt(wkt.c_str()) == OGRERR_NONE;
    if (has_crs && srs.IsGeographic()) {
        const double lon = (env.MinX + env.MaxX) / 2, lat = (env.MinY + env.MaxY) / 2;
        const int zone = std::clamp(static_cast<int>(std::floor((lon + 180) / 6)) + 1, 1, 60);
        gis_fail("a cell of %.17g degrees is larger than half the contours' extent (%.6g x %.6g "
                 "degrees): their CRS is geographic, so --cell is in degrees; reproject them "
                 "with --t_srs (such as EPSG:%d, UTM zone %d%c) to give the cell in metres, or "
                 "give it in degrees (%.3g is about %.17g m)",
                 o.cell, env.MaxX - env.MinX, env.MaxY - env.MinY,
                 (lat >= 0 ? 32600 : 32700) + zone, zone, lat >= 0 ? 'N' : 'S', o.cell / 111320.0,
                 o.cell);
    }
    const char* unit = "ground units";
    if (has_crs) srs.GetLinearUnits(&unit);
    gis_fail("a cell of %.17g is larger than half the contours' extent (%.6g x %.6g, in %s): "
             "choose a smaller --cell",
             o.cell, env.MaxX - env.MinX, env.MaxY - env.MinY, unit);
}

} // namespace

void import_vector(const Import_options& o, GDALDataset& ds, Program_state& s, Georef& geo,
                   Source_info& info)
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
    const std::vector<OGRLayer*> layers = pick_layers(ds, o);
    info.layer_count = ds.GetLayerCount();

    // The CRS of the first layer (or --crs) is the contours'; --t_srs
    // reprojects them, and other layers in another CRS are reprojected to it.
    const auto layer_crs = [&](OGRLayer& layer) {
        return !o.crs.empty() ? crs_from_user(o.crs) : crs_wkt(layer.GetSpatialRef(), o.contours);
    };
    const std::string layer_wkt = layer_crs(*layers.front());
    const Reprojection to = reprojection(o, layer_wkt);
    OGRSpatialReference burn_srs;
    if (!to.wkt.empty()) {
        burn_srs.importFromWkt(to.wkt.c_str());
        burn_srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    }

    // The features, checked, into a layer in memory that holds exactly what
    // is burnt: a plain geometry and, once every level is known, the whole
    // scaled elevation.
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("Memory");
    Dataset_ptr mem(memory->Create("", 0, 0, 0, GDT_Unknown, nullptr));
    OGRLayer* burn =
        mem->CreateLayer("contours", to.wkt.empty() ? nullptr : &burn_srs, wkbUnknown, nullptr);
    OGRFieldDefn level("level", OFTInteger);
    burn->CreateField(&level);
    std::vector<double> values;         // the elevation of each kept feature, as written
    std::vector<std::string> names;     // and its name
    std::vector<double> contour_levels; // the levels of lines, which give the step
    for (OGRLayer* layer : layers) {
        const int field = elevation_field(o, *layer);
        const std::string attribute =
            field >= 0 ? layer->GetLayerDefn()->GetFieldDefn(field)->GetNameRef() : "";
        if (!info.layer.empty()) info.layer += ",";
        info.layer += layer->GetName();
        if (layer == layers.front())
            info.attribute = attribute;
        else if (attribute != info.attribute)
            info.attribute += "," + attribute;
        CPLErrorReset();
        if (!o.where.empty() && layer->SetAttributeFilter(o.where.c_str()) != OGRERR_NONE)
            gis_fail("the filter --where '%s' cannot be applied to the layer '%s' of %s: %s",
                     o.where.c_str(), layer->GetName(), o.contours.c_str(),
                     gdal_error("GDAL cannot read it").c_str());
        const auto bands = band_attributes(layer->GetLayerDefn());
        const std::string wkt = layer == layers.front() ? layer_wkt : layer_crs(*layer);
        const Reprojection own = o.t_srs.empty() && crs_same(wkt, layer_wkt)
                                     ? Reprojection{}
                                     : reprojection(o, wkt, to.wkt);
        long long index = 0;
        layer->ResetReading();
        for (const auto& f : *layer) {
            const OGRGeometry* g = f->GetGeometryRef();
            ++index;
            if (!g || g->IsEmpty()) continue;
            // Labels of a drawing are points at Z = 0, not spot heights.
            const bool point = is_point(g);
            if (point && !o.spot_heights) {
                ++info.points_left_out;
                continue;
            }
            if (is_polygonal(g) && !bands.first.empty())
                gis_fail("the layer '%s' of %s holds polygons with the attributes '%s' and '%s': "
                         "bands between two levels, whose boundaries lie partly at one level and "
                         "partly at the other, so no single value of theirs can be burnt; build "
                         "from the contour lines instead (gdal_contour without -p)",
                         layer->GetName(), o.contours.c_str(), bands.first.c_str(),
                         bands.second.c_str());
            const double v = feature_elevation(o, *layer, *f, field, index - 1);
            OGRFeature copy(burn->GetLayerDefn());
            OGRGeometry* plain = burnable_geometry(g);
            if (own.transform && plain->transform(own.transform.get()) != OGRERR_NONE) {
                delete plain;
                gis_fail("%s cannot be reprojected to '%s'",
                         feature_name(*f, index - 1, *layer, o.contours).c_str(),
                         o.t_srs.empty() ? "the first layer's CRS" : o.t_srs.c_str());
            }
            copy.SetGeometryDirectly(plain);
            if (burn->CreateFeature(&copy) != OGRERR_NONE)
                gis_fail("cannot keep %s: %s",
                         feature_name(*f, index - 1, *layer, o.contours).c_str(),
                         gdal_error("out of memory").c_str());
            values.push_back(v);
            names.push_back(feature_name(*f, index - 1, *layer, o.contours));
            if (point)
                ++info.spot_heights;
            else
                contour_levels.push_back(v);
        }
    }
    if (values.empty())
        gis_fail("the layer%s '%s' of %s hold%s no contour (no %sfeature with a geometry%s)",
                 layers.size() > 1 ? "s" : "", info.layer.c_str(), o.contours.c_str(),
                 layers.size() > 1 ? "" : "s", o.where.empty() ? "" : "matching --where ",
                 info.points_left_out > 0 ? " other than points: see --spot-heights" : "");

    // One factor for every level, then the levels made whole with it.
    std::vector<double> distinct = values;
    keep_distinct(distinct);
    double failing = 0;
    info.z_factor = level_factor(distinct, o.equidistance, o.z_scale, failing);
    const auto name_of = [&](double v) {
        const auto k = std::find(values.begin(), values.end(), v) - values.begin();
        return names[static_cast<std::size_t>(k)];
    };
    if (info.z_factor == 0 && !std::binary_search(distinct.begin(), distinct.end(), failing))
        refuse_equidistance_factor(o);
    if (info.z_factor == 0 && o.z_scale > 0)
        gis_fail("the elevation %.17g of %s is not whole once multiplied by --z-scale %d", failing,
                 name_of(failing).c_str(), o.z_scale);
    if (info.z_factor == 0)
        gis_fail("the elevation %.17g of %s is not a whole number, nor made whole by a power of "
                 "ten up to %d: relief_forge works on whole altitudes",
                 failing, name_of(failing).c_str(), kMax_z_factor);
    std::vector<long long> scaled_levels;
    burn->ResetReading();
    std::size_t k = 0;
    for (const auto& f : *burn) {
        const double v = values[k] * info.z_factor;
        if (const char* why = elevation_refusal(v))
            gis_fail("the elevation %.17g of %s%s %s", values[k], names[k].c_str(),
                     info.z_factor > 1
                         ? (", multiplied by " + std::to_string(info.z_factor) + ",").c_str()
                         : "",
                     why);
        f->SetField(0, static_cast<int>(std::nearbyint(v)));
        if (burn->SetFeature(f.get()) != OGRERR_NONE)
            gis_fail("cannot keep %s: %s", name_of(values[k]).c_str(),
                     gdal_error("out of memory").c_str());
        ++k;
    }
    for (double v : contour_levels)
        scaled_levels.push_back(static_cast<long long>(std::nearbyint(v * info.z_factor)));
    std::sort(scaled_levels.begin(), scaled_levels.end());
    scaled_levels.erase(std::unique(scaled_levels.begin(), scaled_levels.end()),
                        scaled_levels.end());
    info.step = level_step(scaled_levels);

    check_cell_for_crs(o, *burn, to.wkt);
    choose_vector_grid(o, *burn, to.wkt, s, geo);
    s.itype = 1;
    s.val = 4;
    // The output grid made finer: the contours burnt on it are averaged back.
    const int n = o.oversample == 1 ? 1 : choose_oversample(o, *burn, s, geo, info.oversample_why);
    info.oversample = n;
    if (n > 1) {
        s.nb_lig *= n;
        s.nb_col *= n;
        for (int k : {1, 2, 4, 5}) geo.gt[k] /= n;
    }
    rasterise_vector_contours(o, *burn, info.layer.c_str(), s, geo);
    if (geo.wkt.empty())
        std::fprintf(stderr,
                     "relief_forge_gis: warning: %s has no CRS, so neither will the outputs "
                     "(give one with --crs)\n",
                     o.contours.c_str());
}
