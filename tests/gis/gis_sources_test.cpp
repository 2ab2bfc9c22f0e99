// The contour data people have: fractional and noisy levels, a geographic
// CRS, a drawing with labels, band polygons, a raster without empty pixels,
// a zipped file, and outputs that would overwrite an input.
#include "gis/gis_fixture.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>

using namespace gis_test;

namespace {

std::vector<Contour> summit_with_levels(const std::vector<double>& levels)
{
    std::vector<Contour> c = summit();
    for (std::size_t k = 0; k < c.size(); ++k) c[k].level = levels[k];
    return c;
}

double mean(const std::vector<double>& v)
{
    return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

// A drawing: the contours as 3D lines, and TEXT labels at Z = 0.
void write_dxf(const std::string& path, const std::vector<Contour>& contours,
               const std::vector<std::pair<double, double>>& labels)
{
    GDALDriver* dxf = GetGDALDriverManager()->GetDriverByName("DXF");
    GDALDataset* ds = dxf->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    ASSERT_NE(ds, nullptr);
    OGRLayer* layer = ds->CreateLayer("entities", nullptr, wkbUnknown, nullptr);
    for (const Contour& c : contours) {
        OGRFeature f(layer->GetLayerDefn());
        OGRLineString line;
        for (const auto& [x, y] : c.points) line.addPoint(x, y, c.level);
        f.SetGeometry(&line);
        ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
    }
    for (const auto& [x, y] : labels) {
        OGRFeature f(layer->GetLayerDefn());
        OGRPoint p(x, y, 0);
        f.SetGeometry(&p);
        f.SetStyleString("LABEL(f:\"Arial\",t:\"120 m\",s:5g)");
        ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
    }
    GDALClose(GDALDataset::ToHandle(ds));
}

// Bands between two levels, as polygons with ELEV_MIN and ELEV_MAX.
void write_bands(const std::string& path)
{
    GDALDriver* gpkg = GetGDALDriverManager()->GetDriverByName("GPKG");
    GDALDataset* ds = gpkg->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    ASSERT_NE(ds, nullptr);
    OGRSpatialReference srs;
    srs.SetFromUserInput(kUtm31);
    OGRLayer* layer = ds->CreateLayer("contour", &srs, wkbPolygon, nullptr);
    for (const char* name : {"ID", "ELEV_MIN", "ELEV_MAX"}) {
        OGRFieldDefn field(name, OFTReal);
        ASSERT_EQ(layer->CreateField(&field), OGRERR_NONE);
    }
    const std::vector<Contour> rings = summit();
    for (int k = 0; k < 3; ++k) {
        OGRFeature f(layer->GetLayerDefn());
        f.SetField("ID", k);
        f.SetField("ELEV_MIN", 100 + 10 * k);
        f.SetField("ELEV_MAX", 110 + 10 * k);
        OGRLinearRing ring;
        for (const auto& [x, y] : rings[static_cast<std::size_t>(k)].points) ring.addPoint(x, y);
        OGRPolygon poly;
        poly.addRing(&ring);
        f.SetGeometry(&poly);
        ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
    }
    GDALClose(GDALDataset::ToHandle(ds));
}

std::vector<Contour> summit_in_degrees()
{
    OGRSpatialReference utm, wgs84;
    utm.SetFromUserInput(kUtm31);
    wgs84.SetFromUserInput("EPSG:4326");
    utm.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    OGRCoordinateTransformation* t = OGRCreateCoordinateTransformation(&utm, &wgs84);
    std::vector<Contour> c = summit();
    for (Contour& line : c)
        for (auto& [x, y] : line.points) t->Transform(1, &x, &y);
    OGRCoordinateTransformation::DestroyCT(t);
    return c;
}

} // namespace

class GisSources : public Gis {
  protected:
    // The summit as the interactive program builds it from `levels` with
    // `equid`: its DEM, read after an import of the contours.
    std::vector<std::int32_t> interactive_summit(const std::vector<double>& levels, int equid)
    {
        write_vector(at("whole.geojson"), summit_with_levels(levels));
        const Program_run imp =
            gis({"import", at("whole.geojson"), "--cell", "10", "--out", maps + "whole", "-q"});
        EXPECT_EQ(imp.status, 0) << imp.err;
        EXPECT_EQ(interactive("whole", "1", equid, 1).status, 0);
        return raw_pixels(read_file(maps + "whole_m4.raw"), 4);
    }
};

TEST_F(GisSources, FractionalAndNoisyLevelsAreBuiltScaledAndWrittenBackInTheirUnits)
{
    // 2.5 m contours, once clean and once as a float sum leaves them.
    const std::vector<std::int32_t> decimetres = interactive_summit({250, 275, 300, 225}, 25);
    struct Case {
        const char* name;
        std::vector<double> levels;
    };
    const Case cases[] = {
        {"clean", {25, 27.5, 30, 22.5}},
        {"noisy", {25.000000000000004, 27.499999999999996, 29.999999999999996, 22.5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A GeoPackage keeps every bit of the noise.
        write_vector(at("half.gpkg"), summit_with_levels(c.levels),
                     Vector_layer{"GPKG", "contours", "ELEV", OFTReal, kUtm31});
        const Program_run r = gis({"build", at("half.gpkg"), "--cell", "10", "--oversample", "1",
                                   "--out", at("dem.tif")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("multiplied by 10"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("equidistance 2.5, the greatest common step"), std::string::npos);
        const Raster tif = read_raster(at("dem.tif"));
        EXPECT_EQ(tif.type, GDT_Float32);
        EXPECT_EQ(tif.metadata("RF_Z_SCALE"), "10");
        EXPECT_EQ(tif.metadata("RF_EQUIDISTANCE"), "2.5");
        // The surface without the truncation of the way back, which put the
        // interactive program's whole DEM below it.
        const std::vector<double> exact = read_values(at("dem.tif"));
        std::vector<double> truncated(decimetres.begin(), decimetres.end());
        for (double& v : truncated) v /= 10;
        ASSERT_EQ(exact.size(), truncated.size());
        for (std::size_t k = 0; k < exact.size(); ++k) {
            ASSERT_GE(exact[k], truncated[k] - 1e-4) << k;
            ASSERT_LT(exact[k], truncated[k] + 0.1 + 1e-4) << k;
        }
        EXPECT_GT(mean(exact), mean(truncated) + 0.01);
    }

    // --float is -ot Float32, the default.
    const Program_run f = gis({"build", at("half.gpkg"), "--cell", "10", "-e", "2.5", "--float",
                               "--oversample", "1", "--out", at("exact.tif"), "-q"});
    ASSERT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(read_values(at("exact.tif")), read_values(at("dem.tif")));
}

TEST_F(GisSources, EquidistanceInferredFromTheLevelsAndAGivenOneChecked)
{
    write_vector(at("summit.geojson"), summit());
    struct Case {
        const char* name;
        std::vector<std::string> e;
        const char* said; // on standard error; nullptr: no word on the equidistance
    };
    const Case cases[] = {
        {"left_out", {}, "equidistance 10, the greatest common step between the levels"},
        {"fitting", {"-e", "10"}, nullptr},
        {"fitting_finer", {"-e", "5"}, nullptr},
        {"too_large",
         {"-e", "5000"},
         "do not fit the equidistance 5000: their greatest common "
         "step is 10"},
        {"odd", {"-e", "7"}, "do not fit the equidistance 7"},
        {"fractional", {"-e", "2.5"}, nullptr},
    };
    std::vector<std::int32_t> given;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"build", at("summit.geojson"), "--cell", "10",
                                         "--out", at("dem.tif")};
        args.insert(args.end(), c.e.begin(), c.e.end());
        const Program_run r = gis(args);
        ASSERT_EQ(r.status, 0) << r.err;
        if (c.said)
            EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err.find("equidistance"), std::string::npos) << r.err;
        const Raster tif = read_raster(at("dem.tif"));
        if (std::string(c.name) == "left_out") given = tif.pixels;
        if (std::string(c.name) == "fitting") {
            EXPECT_EQ(tif.pixels, given);
        }
    }
    write_vector(at("one.geojson"), summit_with_levels({100, 100, 100, 100}));
    const Program_run one = gis({"build", at("one.geojson"), "--cell", "10", "--out", at("d.tif")});
    EXPECT_EQ(one.status, 1);
    EXPECT_NE(one.err.find("single level"), std::string::npos) << one.err;
}

TEST_F(GisSources, GeographicContoursAreReprojectedOrTheirCellRefused)
{
    write_vector(at("utm.geojson"), summit());
    Vector_layer degrees;
    degrees.crs = "EPSG:4326";
    write_vector(at("wgs84.geojson"), summit_in_degrees(), degrees);
    const double gt[6] = {500100, 5, 0, 4800250, 0, -5};
    write_raster(at("grid.tif"), std::vector<std::vector<double>>(30, std::vector<double>(50, 0)),
                 GDT_Byte, gt, kUtm31, nullptr);

    const Program_run cell =
        gis({"build", at("wgs84.geojson"), "--cell", "75", "-e", "10", "--out", at("dem.tif")});
    EXPECT_EQ(cell.status, 1);
    for (const char* part : {"75 degrees", "--t_srs", "EPSG:32631"})
        EXPECT_NE(cell.err.find(part), std::string::npos) << cell.err;
    EXPECT_FALSE(file_exists(at("dem.tif")));

    const Program_run utm = gis({"build", at("utm.geojson"), "--like", at("grid.tif"), "-e", "10",
                                 "--out", at("utm.tif"), "-q"});
    ASSERT_EQ(utm.status, 0) << utm.err;
    const Program_run moved = gis({"build", at("wgs84.geojson"), "--t_srs", kUtm31, "--like",
                                   at("grid.tif"), "-e", "10", "--out", at("moved.tif"), "-q"});
    ASSERT_EQ(moved.status, 0) << moved.err;
    const Raster a = read_raster(at("utm.tif")), b = read_raster(at("moved.tif"));
    EXPECT_TRUE(same_crs(b.wkt, wkt_of(kUtm31)));
    EXPECT_EQ(b.pixels, a.pixels);

    const Program_run own = gis({"build", at("wgs84.geojson"), "--t_srs", kUtm31, "--cell", "10",
                                 "-e", "10", "--out", at("own.tif"), "-q"});
    ASSERT_EQ(own.status, 0) << own.err;
    const Raster c = read_raster(at("own.tif"));
    EXPECT_NEAR(c.gt[0], kSummit_gt[0], 10);
    EXPECT_NEAR(c.gt[3], kSummit_gt[3], 10);
    EXPECT_NEAR(c.lines, kSummit_lines, 1);
}

TEST_F(GisSources, DrawingLabelsAreLeftOutAndCountedUnlessTakenAsSpotHeights)
{
    write_dxf(at("plain.dxf"), summit(), {});
    write_dxf(at("labels.dxf"), summit(), {{500203, 4800153}, {500150, 4800100}});
    const std::vector<std::string> grid = {"--cell", "10", "--crs",        kUtm31,
                                           "-e",     "10", "--oversample", "1"};
    auto run = [&](const char* file, std::vector<std::string> more, const char* out) {
        std::vector<std::string> args = {"build", at(file), "--out", at(out)};
        args.insert(args.end(), grid.begin(), grid.end());
        args.insert(args.end(), more.begin(), more.end());
        return gis(args);
    };
    const Program_run plain = run("plain.dxf", {}, "plain.tif");
    const Program_run labels = run("labels.dxf", {}, "labels.tif");
    const Program_run spots = run("labels.dxf", {"--spot-heights"}, "spots.tif");
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(labels.status, 0) << labels.err;
    ASSERT_EQ(spots.status, 0) << spots.err;
    EXPECT_NE(labels.err.find("left out 2 point feature(s)"), std::string::npos) << labels.err;
    EXPECT_NE(labels.err.find("--spot-heights"), std::string::npos);
    const Raster p = read_raster(at("plain.tif"));
    EXPECT_EQ(read_raster(at("labels.tif")).pixels, p.pixels);
    const Raster s = read_raster(at("spots.tif"));
    EXPECT_EQ(*std::min_element(s.pixels.begin(), s.pixels.end()), 0);
    EXPECT_EQ(s.metadata("RF_SPOT_HEIGHTS"), "2");

    // --where picks features: without the 90 m line the lowest level is 100.
    write_vector(at("summit.geojson"), summit());
    const Program_run w = gis({"build", at("summit.geojson"), "--cell", "10", "--where",
                               "ELEV >= 100", "--oversample", "1", "--out", at("where.tif"), "-q"});
    ASSERT_EQ(w.status, 0) << w.err;
    const Raster wt = read_raster(at("where.tif"));
    EXPECT_EQ(*std::min_element(wt.pixels.begin(), wt.pixels.end()), 100);
}

TEST_F(GisSources, LayerAndAttributeUsedAreSaidAndKeptAndZippedFilesOpen)
{
    Vector_layer layout;
    layout.driver = "GPKG";
    layout.layer = "courbes";
    layout.field = "hauteur";
    write_vector(at("two.gpkg"), summit(), layout);
    layout.layer = "autres";
    write_vector(at("other.gpkg"), summit_with_levels({1, 2, 3, 4}), layout);
    GDALDataset* two = GDALDataset::Open(at("two.gpkg").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE);
    GDALDataset* other = GDALDataset::Open(at("other.gpkg").c_str(), GDAL_OF_VECTOR);
    ASSERT_TRUE(two && other);
    ASSERT_NE(two->CopyLayer(other->GetLayer(0), "autres"), nullptr);
    GDALClose(GDALDataset::ToHandle(other));
    GDALClose(GDALDataset::ToHandle(two));

    const Program_run r = gis({"build", at("two.gpkg"), "-a", "hauteur", "--cell", "10", "-e", "10",
                               "--out", at("dem.tif")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("layer 'courbes' (one of 2 layers"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the attribute 'hauteur'"), std::string::npos);
    const Raster tif = read_raster(at("dem.tif"));
    EXPECT_EQ(tif.metadata("RF_LAYER"), "courbes");
    EXPECT_EQ(tif.metadata("RF_ATTRIBUTE"), "hauteur");

    // The same contours inside a zip archive, read through /vsizip/.
    write_vector(at("summit.geojson"), summit());
    const std::string text = read_file(at("summit.geojson"));
    VSILFILE* zipped = VSIFOpenL(("/vsizip/" + at("c.zip") + "/summit.geojson").c_str(), "wb");
    ASSERT_NE(zipped, nullptr);
    ASSERT_EQ(VSIFWriteL(text.data(), 1, text.size(), zipped), text.size());
    VSIFCloseL(zipped);
    const Program_run z = gis({"build", "/vsizip/" + at("c.zip") + "/summit.geojson", "--cell",
                               "10", "-e", "10", "--out", at("zip.tif"), "-q"});
    ASSERT_EQ(z.status, 0) << z.err;
    const Program_run u = gis({"build", at("summit.geojson"), "--cell", "10", "-e", "10", "--out",
                               at("plain.tif"), "-q"});
    ASSERT_EQ(u.status, 0) << u.err;
    EXPECT_EQ(read_raster(at("zip.tif")).pixels, read_raster(at("plain.tif")).pixels);
}

TEST_F(GisSources, RefusedSourcesAndOutputsThatAreInputs)
{
    write_bands(at("bands.gpkg"));
    const double gt[6] = {700000, 25, 0, 6600000, 0, -25};
    const std::vector<double> lines = {0, 200, 0, 0, 300, 0};
    std::vector<std::vector<double>> rows;
    for (double v : lines) rows.push_back(std::vector<double>(6, v));
    write_raster(at("zero.tif"), rows, GDT_Int16, gt, "EPSG:2154", nullptr);
    write_vector(at("summit.geojson"), summit());
    write_dxf(at("nocrs.dxf"), summit(), {});
    write_raster(at("grid.tif"), {{0, 0}, {0, 0}}, GDT_Byte, kSummit_gt, kUtm31, nullptr);
    ASSERT_EQ(
        gis({"import", at("summit.geojson"), "--cell", "10", "--out", maps + "s", "-q"}).status, 0);
    ASSERT_EQ(interactive("s", "1", 10, 1).status, 0);
    const std::string zero = read_file(at("zero.tif"));

    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<const char*> message;
    };
    const Case cases[] = {
        {"band_polygons",
         {"build", at("bands.gpkg"), "-a", "ELEV_MAX", "--cell", "10", "--out", at("o.tif")},
         {"'ELEV_MIN' and 'ELEV_MAX'", "gdal_contour without -p"}},
        {"raster_without_empty_pixels",
         {"build", at("zero.tif"), "--out", at("o.tif")},
         {"no pixel of", "--empty 0"}},
        {"bad_where",
         {"build", at("summit.geojson"), "--cell", "10", "--where", "ELEV >>", "--out",
          at("o.tif")},
         {"--where 'ELEV >>'"}},
        {"t_srs_without_a_crs",
         {"build", at("nocrs.dxf"), "--cell", "10", "--t_srs", "EPSG:4326", "--out", at("o.tif")},
         {"has no CRS to reproject from", "--crs"}},
        {"forced_z_scale_too_small",
         {"build", at("summit.geojson"), "--cell", "10", "-e", "0.25", "--z-scale", "10", "--out",
          at("o.tif")},
         {"the equidistance 0.25", "--z-scale 10"}},
        {"cell_larger_than_the_contours",
         {"build", at("summit.geojson"), "--cell", "300", "--out", at("o.tif")},
         {"a cell of 300 is larger than half the contours' extent", "in metre"}},
        {"out_is_the_raster", {"build", at("zero.tif"), "--out", at("zero.tif")}, {"the contours"}},
        {"out_is_the_raster_spelt_otherwise",
         {"build", at("zero.tif"), "--empty", "0", "--out", tmp.path + "/./sub/../zero.tif"},
         {"is the contours"}},
        {"out_is_the_vectors",
         {"build", at("summit.geojson"), "--cell", "10", "--out", at("summit.geojson")},
         {"is the contours"}},
        {"out_is_the_like_raster",
         {"build", at("summit.geojson"), "--like", at("grid.tif"), "--out", at("grid.tif")},
         {"the --like raster"}},
        {"preview_is_the_out",
         {"build", at("summit.geojson"), "--cell", "10", "--out", at("o.tif"), "--preview",
          at("o.tif")},
         {"name the same file"}},
        {"import_over_its_own_sidecar",
         {"import", maps + "s_c4.vrt", "--out", maps + "s"},
         {"is the contours"}},
        {"export_over_the_dem", {"export", maps + "s_m4", "--to", maps + "s_m4.raw"}, {"the DEM"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Program_run r = gis(c.args);
        EXPECT_EQ(r.status, 1);
        for (const char* part : c.message) EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
        EXPECT_FALSE(file_exists(at("o.tif")));
    }
    EXPECT_EQ(read_file(at("zero.tif")), zero);

    // The background given, the same raster builds; mostly contour, it is warned about.
    const Program_run ok = gis({"build", at("zero.tif"), "--empty", "0", "--out", at("o.tif")});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.err.find("warning: contours cover"), std::string::npos) << ok.err;
    for (auto& row : rows) row[0] = row[1] = 300;
    write_raster(at("crowded.tif"), rows, GDT_Int16, gt, "EPSG:2154", nullptr);
    const Program_run crowded =
        gis({"build", at("crowded.tif"), "--empty", "0", "--out", at("c.tif")});
    EXPECT_NE(crowded.err.find("warning: contours cover"), std::string::npos) << crowded.err;
}
