// What build writes: the values of each output type, the oversampled
// surface averaged back, the format chosen by name or extension with every
// file it writes, the cutline's mask, several layers burnt together.
#include "gis/gis_fixture.h"

#include <algorithm>
#include <cmath>

using namespace gis_test;

namespace {

class GisDem : public Gis {
  protected:
    void SetUp() override { write_vector(at("summit.geojson"), summit()); }

    Program_run build(std::vector<std::string> more, const std::string& out)
    {
        std::vector<std::string> args = {"build", at("summit.geojson"), "-e", "10", "-o", at(out)};
        args.insert(args.end(), more.begin(), more.end());
        return gis(args);
    }

    // Whether a temporary file of the tool is left in the folder.
    bool leftovers() const
    {
        for (const std::string& f : list_dir(tmp.path))
            if (f.find(".rf-") != std::string::npos || f.find(".tmp") != std::string::npos)
                return true;
        return false;
    }
};

} // namespace

TEST_F(GisDem, EachTypeHoldsTheSurfaceAsItsHelpSays)
{
    // The summit 200 m below the sea: truncation toward 0 lifts it there.
    std::vector<Contour> deep = summit();
    for (Contour& c : deep) c.level -= 200;
    write_vector(at("deep.geojson"), deep);
    const std::vector<std::string> grid = {"--cell", "10", "--oversample", "1"};
    for (const char* file : {"summit.geojson", "deep.geojson"}) {
        SCOPED_TRACE(file);
        std::vector<std::vector<double>> values;
        for (const char* type : {"Float32", "Float64", "Int32", "Int16"}) {
            std::vector<std::string> args = {
                "build", at(file), "-e", "10", "-ot", type, "-o", at(std::string(type) + ".tif")};
            args.insert(args.end(), grid.begin(), grid.end());
            const Program_run r = gis(args);
            ASSERT_EQ(r.status, 0) << r.err;
            values.push_back(read_values(at(std::string(type) + ".tif")));
        }
        const auto& f32 = values[0];
        const auto& f64 = values[1];
        const auto& i32 = values[2];
        const auto& i16 = values[3];
        const double step = 10.0 / 512 + 1;
        for (std::size_t k = 0; k < f32.size(); ++k) {
            ASSERT_NEAR(f32[k], f64[k], 1e-4 * std::fabs(f64[k])) << k;
            // Int32 is the interactive DEM, truncated toward 0; Int16 rounds.
            if (f64[k] >= 0)
                ASSERT_TRUE(i32[k] <= f64[k] + 1e-9 && i32[k] > f64[k] - step) << k;
            else
                ASSERT_TRUE(i32[k] >= f64[k] - 1e-9 && i32[k] < f64[k] + step) << k;
            ASSERT_EQ(i16[k], std::nearbyint(f64[k])) << k;
        }
    }
}

TEST_F(GisDem, OversampledSurfaceIsTheFineSurfaceAveragedBack)
{
    // 10 m cells oversampled 2 times lie on the grid of 5 m cells.
    ASSERT_EQ(build({"--cell", "5", "--oversample", "1", "-ot", "Float64"}, "fine.tif").status, 0);
    const Program_run r = build({"--cell", "10", "--oversample", "2", "-ot", "Float64"}, "dem.tif");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("oversampling 2: as asked"), std::string::npos) << r.err;
    const std::vector<double> fine = read_values(at("fine.tif"));
    const Raster dem = read_raster(at("dem.tif"));
    ASSERT_EQ(dem.lines, kSummit_lines);
    ASSERT_EQ(dem.cols, kSummit_cols);
    EXPECT_EQ(dem.metadata("RF_OVERSAMPLE"), "2");
    EXPECT_DOUBLE_EQ(dem.gt[1], 10);
    const std::vector<double> v = read_values(at("dem.tif"));
    const std::size_t fc = 2 * kSummit_cols;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kSummit_lines); ++i)
        for (std::size_t j = 0; j < static_cast<std::size_t>(kSummit_cols); ++j) {
            const double mean =
                (fine[2 * i * fc + 2 * j] + fine[2 * i * fc + 2 * j + 1] +
                 fine[(2 * i + 1) * fc + 2 * j] + fine[(2 * i + 1) * fc + 2 * j + 1]) /
                4;
            ASSERT_NEAR(v[i * kSummit_cols + j], mean, 1e-9) << i << "," << j;
        }

    // auto says what it chose and why; on cells as large as the contours'
    // spacing it goes finer.
    const Program_run a = build({"--cell", "40"}, "auto.tif");
    ASSERT_EQ(a.status, 0) << a.err;
    const auto at_says = a.err.find("relief_forge_gis: oversampling ");
    ASSERT_NE(at_says, std::string::npos) << a.err;
    EXPECT_NE(a.err.find("cells apart on average", at_says), std::string::npos);
    EXPECT_NE(read_raster(at("auto.tif")).metadata("RF_OVERSAMPLE"), "1");
}

TEST_F(GisDem, FormatFollowsTheNameOrOfAndEveryFileItWritesIsPublished)
{
    struct Case {
        const char* out;
        std::vector<std::string> more;
        const char* driver;
        std::vector<const char*> beside; // files the driver writes beside the DEM
    };
    const Case cases[] = {
        {"dem.tif", {}, "GTiff", {}},
        {"dem", {}, "GTiff", {}},
        {"dem.asc", {"-ot", "Int32"}, "AAIGrid", {"dem.prj"}},
        {"dem.gpkg", {}, "GPKG", {}},
        {"dem.img", {}, "HFA", {}},
        {"dem.bin", {"-of", "ENVI"}, "ENVI", {"dem.hdr"}},
        {"dem_cog.tif", {"-of", "COG", "-co", "COMPRESS=LZW"}, "GTiff", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        std::vector<std::string> more = {"--cell", "10", "--oversample", "1"};
        more.insert(more.end(), c.more.begin(), c.more.end());
        const Program_run r = build(more, c.out);
        ASSERT_EQ(r.status, 0) << r.err;
        GDALDataset* ds = GDALDataset::Open(at(c.out).c_str(), GDAL_OF_RASTER);
        ASSERT_NE(ds, nullptr);
        EXPECT_STREQ(ds->GetDriver()->GetDescription(), c.driver);
        double gt[6];
        EXPECT_EQ(ds->GetGeoTransform(gt), CE_None);
        EXPECT_DOUBLE_EQ(gt[0], kSummit_gt[0]);
        GDALClose(GDALDataset::ToHandle(ds));
        for (const char* f : c.beside) EXPECT_TRUE(file_exists(at(f))) << f;
        EXPECT_FALSE(leftovers());
    }
    GDALDataset* ds = GDALDataset::Open(at("dem_cog.tif").c_str(), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr);
    const char* compress = ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE");
    EXPECT_STREQ(compress ? compress : "", "LZW");
    GDALClose(GDALDataset::ToHandle(ds));
}

TEST_F(GisDem, CutlineEmptiesTheCellsWhoseCentreIsOutsideItsPolygons)
{
    // Two polygons: the west half of the grid (x below 500200) and a square
    // in the east that -cwhere leaves out.
    auto square = [](double x0, double x1) {
        return Contour{
            0, {{x0, 4799990}, {x1, 4799990}, {x1, 4800300}, {x0, 4800300}, {x0, 4799990}}, true};
    };
    Vector_layer layout;
    layout.layer = "parishes";
    layout.field = "ID";
    std::vector<Contour> shapes = {square(499990, 500200), square(500300, 500350)};
    shapes[1].level = 2;
    write_vector(at("cut.geojson"), shapes, layout);
    const std::vector<std::string> grid = {"--cell", "10", "--oversample", "1", "-ot", "Int32"};
    ASSERT_EQ(build(grid, "whole.tif").status, 0);
    std::vector<std::string> masked = grid;
    masked.insert(masked.end(), {"-cutline", at("cut.geojson"), "-cl", "parishes", "-cwhere",
                                 "ID = 0", "--preview", at("dem.png")});
    const Program_run r = build(masked, "dem.tif");
    ASSERT_EQ(r.status, 0) << r.err;
    const Raster whole = read_raster(at("whole.tif"));
    const Raster dem = read_raster(at("dem.tif"));
    ASSERT_EQ(dem.pixels.size(), whole.pixels.size());
    for (std::size_t k = 0; k < dem.pixels.size(); ++k) {
        // Column j has its centre at x = 500005 + 10 j.
        const bool inside = k % kSummit_cols < 20;
        ASSERT_EQ(dem.pixels[k], inside ? whole.pixels[k] : ND) << k;
    }
    EXPECT_NE(r.err.find("560 cells outside the cutline"), std::string::npos) << r.err;
    // The preview leaves the masked cells transparent and has a scale bar.
    const Raster png = read_raster(at("dem.png"));
    EXPECT_EQ(png.metadata("SCALE_BAR"), "100 m");
    GDALDataset* ds = GDALDataset::Open(at("dem.png").c_str(), GDAL_OF_RASTER);
    ASSERT_NE(ds, nullptr);
    std::uint8_t alpha[2] = {};
    ASSERT_EQ(ds->GetRasterBand(4)->RasterIO(GF_Read, 0, 0, 1, 1, &alpha[0], 1, 1, GDT_Byte, 0, 0,
                                             nullptr),
              CE_None);
    ASSERT_EQ(ds->GetRasterBand(4)->RasterIO(GF_Read, 390, 0, 1, 1, &alpha[1], 1, 1, GDT_Byte, 0, 0,
                                             nullptr),
              CE_None);
    GDALClose(GDALDataset::ToHandle(ds));
    EXPECT_EQ(alpha[0], 255);
    EXPECT_EQ(alpha[1], 0);
}

TEST_F(GisDem, EveryLayerNamedIsBurntAndListed)
{
    // The summit's rings in one layer and its lowest line in another.
    std::vector<Contour> all = summit();
    Vector_layer rings;
    rings.driver = "GPKG";
    rings.layer = "rings";
    write_vector(at("two.gpkg"), {all[0], all[1], all[2]}, rings);
    GDALDataset* ds = GDALDataset::Open(at("two.gpkg").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE);
    ASSERT_NE(ds, nullptr);
    OGRSpatialReference srs;
    srs.SetFromUserInput(kUtm31);
    OGRLayer* line = ds->CreateLayer("line", &srs, wkbLineString, nullptr);
    OGRFieldDefn elev("ELEV", OFTReal);
    line->CreateField(&elev);
    OGRFeature f(line->GetLayerDefn());
    f.SetField(0, all[3].level);
    OGRLineString geom;
    for (const auto& [x, y] : all[3].points) geom.addPoint(x, y);
    f.SetGeometry(&geom);
    ASSERT_EQ(line->CreateFeature(&f), OGRERR_NONE);
    GDALClose(GDALDataset::ToHandle(ds));

    const std::vector<std::string> grid = {"--cell", "10", "--oversample", "1", "-ot", "Int32"};
    ASSERT_EQ(build(grid, "one.tif").status, 0);
    std::vector<std::string> args = {"build", at("two.gpkg"), "-l", "rings", "-l",
                                     "line",  "-e",           "10", "-o",    at("two.tif")};
    args.insert(args.end(), grid.begin(), grid.end());
    const Program_run r = gis(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Raster two = read_raster(at("two.tif"));
    EXPECT_EQ(two.pixels, read_raster(at("one.tif")).pixels);
    EXPECT_EQ(two.metadata("RF_LAYER"), "rings,line");
}

TEST_F(GisDem, NonSquareCellsOfTr)
{
    const Program_run r = build({"-tr", "10", "20", "--oversample", "2"}, "dem.tif");
    ASSERT_EQ(r.status, 0) << r.err;
    const Raster dem = read_raster(at("dem.tif"));
    EXPECT_EQ(dem.cols, kSummit_cols);
    EXPECT_EQ(dem.lines, 14); // ceil(278 / 20)
    EXPECT_DOUBLE_EQ(dem.gt[1], 10);
    EXPECT_DOUBLE_EQ(dem.gt[5], -20);
    EXPECT_EQ(dem.metadata("RF_PIXEL_SIZE"), "10 x 20");
}
