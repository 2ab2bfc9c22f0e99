// relief_forge_gis as a user runs it, on vector and raster contours that
// GDAL makes here: the GeoTIFF is placed where the contours lie and holds,
// to the bit, the DEM the interactive program builds from the imported
// contour raster with the same answers.
#include "gis/gis_fixture.h"

#include <algorithm>
#include <filesystem>

using namespace gis_test;

namespace {

void expect_summit_grid(const Raster& r)
{
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.lines, kSummit_lines);
    EXPECT_EQ(r.cols, kSummit_cols);
    ASSERT_TRUE(r.has_gt);
    for (int k = 0; k < 6; ++k) EXPECT_DOUBLE_EQ(r.gt[k], kSummit_gt[k]) << "geotransform " << k;
}

int count(const std::vector<std::int32_t>& v, std::int32_t x)
{
    return static_cast<int>(std::count(v.begin(), v.end(), x));
}

} // namespace

class GisRun : public Gis {
  protected:
    // Imports `contours` as maps/<image>, runs the interactive program on it
    // and returns its DEM's pixels; checks the run went through.
    std::vector<std::int32_t> interactive_dem(const std::vector<std::string>& import_args,
                                              const std::string& image, int equid, int maille)
    {
        std::vector<std::string> args = {"import"};
        args.insert(args.end(), import_args.begin(), import_args.end());
        args.insert(args.end(), {"--out", maps + image, "-q"});
        const Program_run imp = gis(args);
        EXPECT_EQ(imp.status, 0) << imp.err;
        const Program_run run = interactive(image, "1", equid, maille);
        EXPECT_EQ(run.status, 0) << run.out;
        return raw_pixels(read_file(maps + image + "_m4.raw"), 4);
    }

    // The build that gives the interactive program's DEM: whole altitudes
    // on the output grid itself.
    Raster build(const std::vector<std::string>& import_args, int equid, int maille,
                 const std::string& tif, const char* type = "Int32")
    {
        std::vector<std::string> args = {"build"};
        args.insert(args.end(), import_args.begin(), import_args.end());
        args.insert(args.end(), {"-e", std::to_string(equid), "-s", std::to_string(maille), "--out",
                                 tif, "-q", "-ot", type, "--oversample", "1"});
        const Program_run r = gis(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return read_raster(tif);
    }
};

TEST_F(GisRun, GeoJsonBuildIsTheInteractiveDemAtTheContoursPlace)
{
    write_vector(at("summit.geojson"), summit());
    const std::vector<std::string> in = {at("summit.geojson"), "--cell", "10"};
    const Raster tif = build(in, 10, 3, at("dem.tif"));
    expect_summit_grid(tif);
    EXPECT_EQ(tif.type, GDT_Int32);
    EXPECT_TRUE(same_crs(tif.wkt, wkt_of(kUtm31)));
    ASSERT_TRUE(tif.has_nodata);
    EXPECT_EQ(tif.nodata, ND);
    EXPECT_EQ(count(tif.pixels, ND), 0);

    const std::vector<std::int32_t> dem = interactive_dem(in, "summit", 10, 3);
    EXPECT_EQ(tif.pixels, dem);
    // A real surface: from the lowest contour to about the summit.
    EXPECT_EQ(*std::min_element(dem.begin(), dem.end()), 90);
    EXPECT_GE(*std::max_element(dem.begin(), dem.end()), 115);
}

TEST_F(GisRun, ImportWritesTheRasterTheHeaderAndASidecarGdalReads)
{
    write_vector(at("summit.geojson"), summit());
    const Program_run r =
        gis({"import", at("summit.geojson"), "--cell", "10", "--out", maps + "summit", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(list_dir(maps),
              (std::vector<std::string>{"summit_c4.raw", "summit_c4.txt", "summit_c4.vrt"}));
    const std::vector<std::int32_t> raw = raw_pixels(read_file(maps + "summit_c4.raw"), 4);
    ASSERT_EQ(raw.size(), static_cast<std::size_t>(kSummit_lines * kSummit_cols));
    // Lines, columns, bytes, the raw range (NO_DATA included), the pixel size.
    EXPECT_EQ(read_file(maps + "summit_c4.txt"), "28\n40\n4\n-99999\n120\n10\n");
    // The summit's centre is inside the smallest ring: empty; every level is there.
    EXPECT_EQ(raw[static_cast<std::size_t>(14 * kSummit_cols + 20)], ND);
    for (int level : {90, 100, 110, 120}) EXPECT_GT(count(raw, level), 0) << level;

    const Raster vrt = read_raster(maps + "summit_c4.vrt");
    expect_summit_grid(vrt);
    EXPECT_TRUE(same_crs(vrt.wkt, wkt_of(kUtm31)));
    EXPECT_EQ(vrt.nodata, ND);
    EXPECT_EQ(vrt.pixels, raw);
}

TEST_F(GisRun, GeoPackageLayerAndAttributeByNameAndPolygonsGiveTheirRings)
{
    std::vector<Contour> c = summit();
    c[2].polygon = true; // the 120 ring as a filled polygon: only its edge is a contour
    Vector_layer layout;
    layout.driver = "GPKG";
    layout.layer = "courbes";
    layout.field = "hauteur";
    layout.type = OFTInteger;
    write_vector(at("summit.gpkg"), c, layout);
    const std::vector<std::string> in = {at("summit.gpkg"), "--layer", "courbes",
                                         "--attribute",     "hauteur", "--cell=10"};
    const Raster tif = build(in, 5, 1, at("dem.tif"));
    expect_summit_grid(tif);
    EXPECT_TRUE(same_crs(tif.wkt, wkt_of(kUtm31)));
    EXPECT_EQ(tif.pixels, interactive_dem(in, "summit", 5, 1));
    const std::vector<std::int32_t> raw = raw_pixels(read_file(maps + "summit_c4.raw"), 4);
    EXPECT_EQ(raw[static_cast<std::size_t>(14 * kSummit_cols + 20)], ND);
}

TEST_F(GisRun, DxfElevationsFromTheVerticesZWithTheCrsGiven)
{
    Vector_layer layout;
    layout.driver = "DXF";
    layout.layer = "0";
    layout.field = "";
    layout.crs = nullptr;
    write_vector(at("summit.dxf"), summit(), layout);
    const std::vector<std::string> in = {at("summit.dxf"), "--cell", "10", "--crs", kUtm31};
    const Raster tif = build(in, 10, 5, at("dem.tif"));
    expect_summit_grid(tif);
    EXPECT_TRUE(same_crs(tif.wkt, wkt_of(kUtm31)));
    EXPECT_EQ(tif.pixels, interactive_dem(in, "summit", 10, 5));
}

TEST_F(GisRun, GridOfAnotherRasterWithLike)
{
    const double gt[6] = {500100, 5, 0, 4800250, 0, -5};
    write_raster(at("grid.tif"), std::vector<std::vector<double>>(30, std::vector<double>(50, 0)),
                 GDT_Byte, gt, kUtm31, nullptr);
    write_vector(at("summit.geojson"), summit());
    const std::vector<std::string> in = {at("summit.geojson"), "--like", at("grid.tif")};
    const Raster tif = build(in, 10, 1, at("dem.tif"));
    ASSERT_TRUE(tif.opened);
    EXPECT_EQ(tif.lines, 30);
    EXPECT_EQ(tif.cols, 50);
    for (int k = 0; k < 6; ++k) EXPECT_DOUBLE_EQ(tif.gt[k], gt[k]);
    EXPECT_EQ(tif.pixels, interactive_dem(in, "summit", 10, 1));
    EXPECT_EQ(read_file(maps + "summit_c4.txt").substr(0, 8), "30\n50\n4\n");
}

TEST_F(GisRun, ExportOfTheInteractiveRunIsTheBuildGeoTiff)
{
    write_vector(at("summit.geojson"), summit());
    const std::vector<std::string> in = {at("summit.geojson"), "--cell", "10"};
    const Raster built = build(in, 10, 3, at("built.tif"));
    interactive_dem(in, "summit", 10, 3);
    const Program_run r = gis({"export", maps + "summit_m4", "--to", at("exported.tif"), "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Raster exported = read_raster(at("exported.tif"));
    expect_summit_grid(exported);
    EXPECT_EQ(exported.type, built.type);
    EXPECT_TRUE(same_crs(exported.wkt, built.wkt));
    EXPECT_EQ(exported.nodata, built.nodata);
    EXPECT_EQ(exported.pixels, built.pixels);
    EXPECT_EQ(exported.metadata("RF_SMOOTHING_MESH"), "3");
}

TEST_F(GisRun, ExportFindsTheSidecarBesideTheDemWhenTheFolderMoved)
{
    write_vector(at("summit.geojson"), summit());
    interactive_dem({at("summit.geojson"), "--cell", "10"}, "summit", 10, 1);
    std::filesystem::rename(maps, at("moved"));
    const Program_run r =
        gis({"export", at("moved/summit_m4.raw"), "--to", at("exported.tif"), "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    expect_summit_grid(read_raster(at("exported.tif")));
}

TEST_F(GisRun, ContourRasterNodataBecomesNoDataAndItsGridIsKept)
{
    // Two contour lines on an Int16 raster whose nodata is -32768.
    const double n = -32768;
    const std::vector<std::vector<double>> rows = {
        {n, n, n, n, n, n}, {200, 200, 200, 200, 200, 200}, {n, n, n, n, n, n},
        {n, n, n, n, n, n}, {300, 300, 300, 300, 300, 300}, {n, n, n, n, n, n},
    };
    const double gt[6] = {700000, 25, 0, 6600000, 0, -25};
    write_raster(at("lines.tif"), rows, GDT_Int16, gt, "EPSG:2154", &n);
    const Program_run r = gis({"import", at("lines.tif"), "--out", maps + "lines", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::int32_t> expected;
    for (const auto& row : rows)
        for (double v : row) expected.push_back(v == n ? ND : static_cast<std::int32_t>(v));
    EXPECT_EQ(raw_pixels(read_file(maps + "lines_c4.raw"), 4), expected);
    EXPECT_EQ(read_file(maps + "lines_c4.txt"), "6\n6\n4\n-99999\n300\n25\n");

    const Raster tif = build({at("lines.tif")}, 50, 1, at("dem.tif"));
    for (int k = 0; k < 6; ++k) EXPECT_DOUBLE_EQ(tif.gt[k], gt[k]);
    EXPECT_TRUE(same_crs(tif.wkt, wkt_of("EPSG:2154")));
    ASSERT_EQ(interactive(std::string("lines"), "1", 50, 1).status, 0);
    EXPECT_EQ(tif.pixels, raw_pixels(read_file(maps + "lines_m4.raw"), 4));
}

TEST_F(GisRun, SixteenBitRasterRoundTripsAsUInt16)
{
    // Every pixel of a 16-bit contour raster is an altitude.
    std::vector<std::vector<double>> rows(12, std::vector<double>(16));
    for (int i = 0; i < 12; ++i)
        for (int j = 0; j < 16; ++j)
            rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = 1000 + 37 * i + 11 * j;
    rows[11][15] = 65535;
    const double gt[6] = {2.5, 0.001, 0, 48.75, 0, -0.001};
    write_raster(at("dem16.tif"), rows, GDT_UInt16, gt, "EPSG:4326", nullptr);
    const Program_run imp =
        gis({"import", at("dem16.tif"), "--16bit", "--out", maps + "dem16", "-q"});
    ASSERT_EQ(imp.status, 0) << imp.err;
    EXPECT_EQ(read_file(maps + "dem16_c2.txt"), "12\n16\n2\n1000\n65535\n1\n");
    ASSERT_EQ(interactive("dem16", "0", 10, 3).status, 0);
    const Program_run exp = gis({"export", maps + "dem16_m2", "--to", at("exported.tif"), "-q"});
    ASSERT_EQ(exp.status, 0) << exp.err;

    const Raster built = build({at("dem16.tif"), "--16bit"}, 10, 3, at("built.tif"), "UInt16");
    const Raster exported = read_raster(at("exported.tif"));
    EXPECT_EQ(built.type, GDT_UInt16);
    EXPECT_EQ(exported.type, GDT_UInt16);
    EXPECT_FALSE(built.has_nodata);
    EXPECT_EQ(built.pixels, raw_pixels(read_file(maps + "dem16_m2.raw"), 2));
    EXPECT_EQ(exported.pixels, built.pixels);
    for (int k = 0; k < 6; ++k) EXPECT_DOUBLE_EQ(exported.gt[k], gt[k]);
    EXPECT_TRUE(same_crs(exported.wkt, wkt_of("EPSG:4326")));
}

TEST_F(GisRun, PreviewShowsTheRangeOfTheGeoTiff)
{
    write_vector(at("summit.geojson"), summit());
    const Program_run r = gis({"build", at("summit.geojson"), "--cell", "10", "-e", "10", "-s", "3",
                               "--out", at("dem.tif"), "--preview", at("dem.png"),
                               "--preview-contours", "-q", "-ot", "Int32", "--oversample", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Raster tif = read_raster(at("dem.tif"));
    const Raster png = read_raster(at("dem.png"));
    ASSERT_TRUE(png.opened);
    EXPECT_EQ(png.bands, 4);
    // Enlarged to 400 pixels on the longer side, the legend beside.
    EXPECT_EQ(png.lines, 280);
    EXPECT_GT(png.cols, 400);
    EXPECT_EQ(png.metadata("ALTITUDE_UNIT"), "m");
    EXPECT_EQ(png.metadata("LEGEND_TICKS"), "90 100 110 120");
    std::vector<std::int32_t> filled;
    std::copy_if(tif.pixels.begin(), tif.pixels.end(), std::back_inserter(filled),
                 [](std::int32_t v) { return v != ND; });
    const auto [lo, hi] = std::minmax_element(filled.begin(), filled.end());
    EXPECT_EQ(png.metadata("ALTITUDE_MIN"), std::to_string(*lo));
    EXPECT_EQ(png.metadata("ALTITUDE_MAX"), std::to_string(*hi));
    EXPECT_FALSE(file_exists(at("dem.png.aux.xml")));
}

TEST_F(GisRun, ProgressGoesToStandardErrorAsPercentagesNotRows)
{
    write_vector(at("summit.geojson"), summit());
    const Program_run r = gis({"build", at("summit.geojson"), "--cell", "10", "-e", "10", "-s", "3",
                               "--out", at("dem.tif")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("smoothing: 0...10...20"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("dilation: pass"), std::string::npos) << r.err;
    EXPECT_LT(std::count(r.err.begin(), r.err.end(), '\n'), 10);
    EXPECT_NE(r.out.find("dem.tif: 28 lines, 40 columns"), std::string::npos) << r.out;
}

// ---- The grid and the outputs ---------------------------------------------

TEST_F(GisRun, GridOfCeilExtentOverCellWithExtentAndTapAndTheExactCellSize)
{
    write_vector(at("summit.geojson"), summit());
    struct Case {
        const char* name;
        std::vector<std::string> grid;
        int lines, cols;
        double x0, y0;
        const char* cell; // RF_PIXEL_SIZE
    };
    const Case cases[] = {
        {"extent_400_x_278", {"--cell", "10"}, 28, 40, 500000, 4800283, "10"},
        {"tap", {"--cell", "10", "--tap"}, 29, 40, 500000, 4800290, "10"},
        {"extent",
         {"--cell", "12.5", "--extent", "499900", "4799900", "500500", "4800400"},
         40,
         48,
         499900,
         4800400,
         "12.5"},
        {"extent_commas_tap",
         {"--cell", "25", "--tap", "--extent=499910,4799910,500490,4800390"},
         20,
         24,
         499900,
         4800400,
         "25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> in = {at("summit.geojson")};
        in.insert(in.end(), c.grid.begin(), c.grid.end());
        const Raster tif = build(in, 10, 1, at("dem.tif"));
        EXPECT_EQ(tif.lines, c.lines);
        EXPECT_EQ(tif.cols, c.cols);
        EXPECT_DOUBLE_EQ(tif.gt[0], c.x0);
        EXPECT_DOUBLE_EQ(tif.gt[3], c.y0);
        EXPECT_EQ(tif.metadata("RF_PIXEL_SIZE"), c.cell);
        // Every level is burnt, the far edges' included.
        const std::vector<std::int32_t> raw = [&] {
            std::vector<std::string> args = {"import"};
            args.insert(args.end(), in.begin(), in.end());
            args.insert(args.end(), {"--out", maps + "grid", "-q"});
            EXPECT_EQ(gis(args).status, 0);
            return raw_pixels(read_file(maps + "grid_c4.raw"), 4);
        }();
        for (int level : {90, 100, 110, 120}) EXPECT_GT(count(raw, level), 0) << level;
    }
}

TEST_F(GisRun, ContoursOnTheFarEdgesOfTheirExtentAreBurnt)
{
    // A ring whose extent is exactly 10 x 10 cells: its east and south sides
    // lie on the grid's far edges.
    write_vector(at("square.geojson"),
                 {Contour{100, {{0, 0}, {100, 0}, {100, 100}, {0, 100}, {0, 0}}},
                  Contour{110, {{40, 40}, {60, 40}, {60, 60}, {40, 60}, {40, 40}}}});
    ASSERT_EQ(
        gis({"import", at("square.geojson"), "--cell", "10", "--out", maps + "sq", "-q"}).status,
        0);
    const std::vector<std::int32_t> raw = raw_pixels(read_file(maps + "sq_c4.raw"), 4);
    ASSERT_EQ(raw.size(), 100u);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(raw[static_cast<std::size_t>(k)], 100) << "north " << k;
        EXPECT_EQ(raw[static_cast<std::size_t>(90 + k)], 100) << "south " << k;
        EXPECT_EQ(raw[static_cast<std::size_t>(10 * k)], 100) << "west " << k;
        EXPECT_EQ(raw[static_cast<std::size_t>(10 * k + 9)], 100) << "east " << k;
    }
}

TEST_F(GisRun, ClipEmptiesOnlyTheCellsOutsideTheContoursHull)
{
    // A grid reaching far beyond the contours on every side.
    const double gt[6] = {499800, 10, 0, 4800500, 0, -10};
    write_raster(at("wide.tif"), std::vector<std::vector<double>>(70, std::vector<double>(90, 0)),
                 GDT_Byte, gt, kUtm31, nullptr);
    write_vector(at("summit.geojson"), summit());
    const std::vector<std::string> in = {at("summit.geojson"), "--like", at("wide.tif")};
    const Raster whole = build(in, 10, 1, at("whole.tif"));
    std::vector<std::string> clipped_in = in;
    clipped_in.push_back("--clip");
    const Raster clipped = build(clipped_in, 10, 1, at("clipped.tif"));
    ASSERT_EQ(whole.pixels.size(), clipped.pixels.size());
    EXPECT_EQ(count(whole.pixels, ND), 0);
    // The hull spans columns 20 to 60 and lines 21 to 49 of the wide grid.
    auto at_cell = [&](const Raster& r, int i, int j) {
        return r.pixels[static_cast<std::size_t>(i * 90 + j)];
    };
    EXPECT_EQ(at_cell(clipped, 0, 0), ND);
    EXPECT_EQ(at_cell(clipped, 35, 10), ND);
    EXPECT_EQ(at_cell(clipped, 60, 40), ND);
    EXPECT_NE(at_cell(clipped, 35, 40), ND);
    EXPECT_NE(at_cell(clipped, 49, 20), ND); // the open line's west end
    int outside = 0;
    for (std::size_t k = 0; k < whole.pixels.size(); ++k) {
        if (clipped.pixels[k] == ND)
            ++outside;
        else
            EXPECT_EQ(clipped.pixels[k], whole.pixels[k]) << k;
    }
    EXPECT_GT(outside, 90 * 70 - 41 * 29);
    EXPECT_LT(outside, 90 * 70 - 40 * 20);
}

TEST_F(GisRun, MissingOutputFoldersAreMadeBeforeTheWork)
{
    write_vector(at("summit.geojson"), summit());
    const Program_run r = gis({"build", at("summit.geojson"), "--cell", "10", "-e", "10", "--out",
                               at("dems/new/dem.tif"), "--preview", at("pictures/dem.png"), "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(read_raster(at("dems/new/dem.tif")).opened);
    EXPECT_TRUE(file_exists(at("pictures/dem.png")));

    // A folder that cannot be made is told before any stage runs.
    write_file(at("plain_file"), "x");
    for (const std::string& preview : {std::string(), at("plain_file/dem.png")}) {
        std::vector<std::string> args = {"build", at("summit.geojson"), "--cell", "10", "-e", "10",
                                         "--out"};
        args.push_back(preview.empty() ? at("plain_file/dem.tif") : at("dem.tif"));
        if (!preview.empty()) args.insert(args.end(), {"--preview", preview});
        const Program_run bad = gis(args);
        EXPECT_EQ(bad.status, 1);
        EXPECT_NE(bad.err.find("plain_file"), std::string::npos) << bad.err;
        EXPECT_EQ(bad.err.find("rasterising"), std::string::npos) << bad.err;
        EXPECT_FALSE(file_exists(at("dem.tif")));
    }
}

TEST_F(GisRun, CogHasOverviewsAndTheGeoTiffsPixels)
{
    write_vector(at("summit.geojson"), summit());
    const std::vector<std::string> in = {at("summit.geojson"), "--cell", "0.5"};
    const Raster tif = build(in, 10, 1, at("dem.tif"));
    const Program_run r = gis({"build", in[0], in[1], in[2], "-e", "10", "-of", "COG", "--out",
                               at("dem_cog.tif"), "-q", "-ot", "Int32", "--oversample", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Raster cog = read_raster(at("dem_cog.tif"));
    EXPECT_EQ(cog.lines, 556);
    EXPECT_EQ(cog.cols, 800);
    EXPECT_EQ(cog.pixels, tif.pixels);
    EXPECT_EQ(cog.nodata, ND);
    EXPECT_TRUE(same_crs(cog.wkt, tif.wkt));
    EXPECT_EQ(cog.metadata("RF_PIXEL_SIZE"), "0.5");
    GDALDataset* ds = GDALDataset::Open(at("dem_cog.tif").c_str(), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr);
    const char* layout = ds->GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE");
    EXPECT_STREQ(layout ? layout : "", "COG");
    EXPECT_GE(ds->GetRasterBand(1)->GetOverviewCount(), 2);
    GDALClose(GDALDataset::ToHandle(ds));
}

// ---- What is refused ------------------------------------------------------

class GisRefusal : public Gis {};

TEST_F(GisRefusal, EachFaultEndsWithStatus1AMessageAndNoFile)
{
    write_vector(at("summit.geojson"), summit());
    std::vector<Contour> half = summit();
    half[1].level = 105.1234567;
    write_vector(at("half.geojson"), half);
    write_vector(at("empty.gpkg"), {}, Vector_layer{"GPKG", "nothing", "ELEV", OFTReal, kUtm31});
    write_vector(at("noelev.geojson"), summit(),
                 Vector_layer{"GeoJSON", "c", "name", OFTString, kUtm31});
    std::vector<Contour> huge = summit();
    huge[0].level = 5000000;
    write_vector(at("huge.geojson"), huge);
    write_raster(at("plain.tif"), {{100, 200}, {300, 400}}, GDT_Int32, nullptr, nullptr, nullptr);
    const std::string tif = at("out.tif");

    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<const char*> message; // every part must be in the error
    };
    const Case cases[] = {
        {"missing_file",
         {"build", at("none.gpkg"), "--cell", "10", "-e", "10", "--out", tif},
         {"cannot open", "none.gpkg", "no such file"}},
        {"unreadable_file",
         {"build", at("out.tif.txt"), "--cell", "10", "-e", "10", "--out", tif},
         {"cannot"}},
        {"missing_attribute",
         {"build", at("summit.geojson"), "-a", "HOEHE", "--cell", "10", "-e", "10", "--out", tif},
         {"has no attribute 'HOEHE'", "its attributes: ELEV"}},
        {"no_elevation_at_all",
         {"build", at("noelev.geojson"), "--cell", "10", "-e", "10", "--out", tif},
         {"no elevation attribute", "its attributes: name", "--attribute"}},
        {"elevation_not_a_number",
         {"build", at("noelev.geojson"), "-a", "name", "--cell", "10", "-e", "10", "--out", tif},
         {"is not a number"}},
        {"empty_layer",
         {"build", at("empty.gpkg"), "--cell", "10", "-e", "10", "--out", tif},
         {"layer 'nothing'", "holds no contour"}},
        {"non_integer_elevation",
         {"build", at("half.geojson"), "--cell", "10", "-e", "10", "--out", tif},
         {"105.12345670000001", "feature 1", "not a whole number"}},
        {"raster_without_georeferencing",
         {"build", at("plain.tif"), "-e", "10", "--out", tif},
         {"plain.tif has no georeferencing"}},
        {"crs_that_cannot_be_read",
         {"build", at("summit.geojson"), "--crs", "EPSG:0", "--cell", "10", "-e", "10", "--out",
          tif},
         {"the CRS 'EPSG:0' cannot be read"}},
        {"vectors_without_a_grid",
         {"build", at("summit.geojson"), "-e", "10", "--out", tif},
         {"--cell", "--like"}},
        {"vectors_in_16_bits",
         {"build", at("summit.geojson"), "--16bit", "--cell", "10", "-e", "10", "--out", tif},
         {"drop --16bit"}},
        {"raster_options_on_vectors",
         {"build", at("summit.geojson"), "--empty", "0", "--cell", "10", "-e", "10", "--out", tif},
         {"--empty and --band apply to raster contours"}},
        {"grid_options_on_a_raster",
         {"build", at("plain.tif"), "--cell", "10", "-e", "10", "--out", tif},
         {"keeps its own grid"}},
        {"levels_too_large_for_the_equidistance",
         {"build", at("huge.geojson"), "--cell", "10", "-e", "1", "--out", tif},
         {"The altitude 5000000 is too large for the equidistance 1"}},
        {"mesh_larger_than_the_grid",
         {"build", at("summit.geojson"), "--cell", "10", "-e", "10", "-s", "28", "--out", tif},
         {"from 2 to 27"}},
        {"unknown_layer",
         {"build", at("summit.geojson"), "-l", "roads", "--cell", "10", "-e", "10", "--out", tif},
         {"has no layer 'roads'", "its layers: contours"}},
        {"bad_argument",
         {"build", at("summit.geojson"), "--cell", "ten", "-e", "10", "--out", tif},
         {"invalid size 'ten'", "Try 'relief_forge_gis build --help'"}},
        {"export_of_no_dem", {"export", at("nothing_m4"), "--to", tif}, {"cannot open"}},
        {"export_of_a_wrong_name", {"export", at("summit"), "--to", tif}, {"_m4"}},
        {"cell_of_1e-300",
         {"build", at("summit.geojson"), "--cell", "1e-300", "-e", "10", "--out", tif},
         {"a grid of 2.78 x 10^302 lines and 4 x 10^302 columns", "can index", "larger cells"}},
        {"more_cells_than_an_int",
         {"build", at("summit.geojson"), "--cell", "0.005", "-e", "10", "--out", tif},
         {"55600 lines and 80000 columns", "4448000000 cells", "can index"}},
        {"extent_upside_down",
         {"build", at("summit.geojson"), "--cell", "10", "--extent", "5", "0", "1", "9", "-e", "10",
          "--out", tif},
         {"XMIN must be below XMAX"}},
        {"tap_without_cell",
         {"build", at("plain.tif"), "--tap", "-e", "10", "--out", tif},
         {"give --cell"}},
        {"unknown_format",
         {"build", at("summit.geojson"), "--cell", "10", "-e", "10", "--format", "NOPE", "--out",
          tif},
         {"unknown raster format 'NOPE'"}},
        {"extension_no_driver_writes",
         {"build", at("summit.geojson"), "--cell", "10", "-e", "10", "--out", tif + ".xyz9"},
         {"no GDAL driver writes .xyz9 files", "-of"}},
        {"type_the_format_cannot_hold",
         {"build", at("summit.geojson"), "--cell", "10", "-e", "10", "-of", "PNG", "--out", tif},
         {"PNG cannot hold Float32"}},
        {"values_beyond_the_type",
         {"build", at("huge.geojson"), "--cell", "10", "-e", "100", "-ot", "Int16", "--out", tif},
         {"values run from 110 to", "beyond what Int16 holds"}},
        {"value_that_is_the_nodata",
         {"build", at("summit.geojson"), "--cell", "10", "-e", "10", "-ot", "Int32", "-a_nodata",
          "100", "--oversample", "1", "--out", tif},
         {"holds the value 100, which is its nodata value", "-a_nodata"}},
        {"nodata_the_type_cannot_hold",
         {"build", at("summit.geojson"), "--cell", "10", "-ot", "Byte", "-a_nodata", "-1", "--out",
          tif},
         {"nodata value -1 does not fit Byte"}},
        {"unknown_type",
         {"build", at("summit.geojson"), "--cell", "10", "-ot", "Real", "--out", tif},
         {"invalid output type 'Real'"}},
        {"cutline_without_polygons",
         {"build", at("summit.geojson"), "--cell", "10", "-e", "10", "--cutline",
          at("summit.geojson"), "--out", tif},
         {"cutline", "holds no polygon", "only lines"}},
        {"oversampling_a_raster",
         {"build", at("plain.tif"), "--oversample", "2", "-e", "10", "--out", tif},
         {"--oversample applies to vector contours"}},
    };
    write_file(at("out.tif.txt"), "not a GIS file");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Program_run r = gis(c.args);
        EXPECT_EQ(r.status, 1);
        for (const char* part : c.message) EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
        EXPECT_FALSE(file_exists(tif));
        for (const std::string& f : list_dir(tmp.path))
            EXPECT_TRUE(f.find(".tmp") == std::string::npos && f.find(".rf-") == std::string::npos)
                << "left behind: " << f;
    }
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(GisRefusal, GridBeyondTheMemoryIsRefusedBeforeAllocation)
{
    write_vector(at("summit.geojson"), summit());
    Run_options o;
    o.home = home;
    o.memory_limit = 1'000'000'000;
    const Program_run r = run_program(
        RF_GIS_BINARY,
        {"build", at("summit.geojson"), "--cell", "0.05", "-e", "10", "--out", at("dem.tif")}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("5560 lines and 8000 columns (44480000 cells) needs about 1.6 GB"),
              std::string::npos)
        << r.err;
    // What the limit leaves once the libraries are mapped.
    EXPECT_NE(r.err.find(" MB this machine has"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("rasterising"), std::string::npos) << r.err;
}
#endif

TEST_F(GisRefusal, ExportWithoutSidecarSaysHowToMakeOne)
{
    // A contour raster made by hand: no sidecar beside it.
    write_file(maps + "bare_c4.raw", std::string("\x64\0\0\0\x61\x79\xfe\xff\xc8\0\0\0", 12));
    write_file(maps + "bare_c4.txt", "1\n3\n4\n0\n0\n10\n");
    ASSERT_EQ(interactive("bare", "1", 10, 1).status, 0);
    const Program_run r = gis({"export", maps + "bare_m4", "--to", at("out.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no georeferencing sidecar bare_c4.vrt"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("relief_forge_gis import"), std::string::npos);
    EXPECT_FALSE(file_exists(at("out.tif")));
}

TEST_F(GisRefusal, HelpForTheToolAndEachCommand)
{
    const Program_run tool = gis({"--help"});
    EXPECT_EQ(tool.status, 0);
    EXPECT_EQ(tool.out.rfind("Usage: relief_forge_gis COMMAND", 0), 0u) << tool.out;
    for (const char* cmd : {"import", "build", "export"}) {
        SCOPED_TRACE(cmd);
        const Program_run r = gis({cmd, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(std::string("Usage: relief_forge_gis ") + cmd, 0), 0u) << r.out;
        EXPECT_NE(r.out.find("--help"), std::string::npos);
        EXPECT_EQ(r.err, "");
    }
    const Program_run v = gis({"--version"});
    EXPECT_EQ(v.out.rfind("relief_forge_gis ", 0), 0u);
    const Program_run none = gis({});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("missing command"), std::string::npos);
}
