// The GDAL-free pieces of relief_forge_gis: the command line, the grid made
// for vector contours, the elevation check, the header range, the DEM header
// reader and the preview's picture.
#include "gis/gis.h"
#include "gis/grid/grid.h"
#include "gis/outputs/dem_files.h"
#include "gis/outputs/preview.h"
#include "gis/sources/sources.h"
#include "raster/raster_files.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

Cli parse(std::vector<std::string> words)
{
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    return parse_command_line(static_cast<int>(argv.size()), argv.data());
}

// The message of the Usage_error a command line raises, or "" when it parses.
std::string usage_error(std::vector<std::string> words)
{
    try {
        parse(std::move(words));
    } catch (const Usage_error& e) {
        return e.what();
    }
    return "";
}

// A grid drawn in the source, one row per line; ND is an empty pixel.
constexpr int ND = NO_DATA;
struct Grid {
    std::vector<std::vector<int>> rows;
    std::vector<int*> ptrs;
    explicit Grid(std::vector<std::vector<int>> r) : rows(std::move(r))
    {
        for (auto& row : rows) ptrs.push_back(row.data());
    }
    int** data() { return ptrs.data(); }
    int lines() const { return static_cast<int>(rows.size()); }
    int cols() const { return static_cast<int>(rows[0].size()); }
};

} // namespace

TEST(GisCommandLine, BuildWithEveryOptionInBothSpellings)
{
    const Cli c = parse({"build",
                         "in.gpkg",
                         "-e",
                         "2.5",
                         "--smoothing=5",
                         "--cell=12.5",
                         "-a",
                         "hauteur",
                         "--layer",
                         "courbes",
                         "--crs",
                         "EPSG:2154",
                         "-o",
                         "dem.tif",
                         "--preview",
                         "dem.png",
                         "--preview-contours",
                         "-q",
                         "--z-scale",
                         "100",
                         "--t_srs",
                         "EPSG:32631",
                         "--where",
                         "ELEV > 0",
                         "--spot-heights",
                         "--float"});
    EXPECT_EQ(c.command, Command::build);
    EXPECT_EQ(c.in.contours, "in.gpkg");
    EXPECT_EQ(c.in.equidistance, 2.5);
    EXPECT_EQ(c.in.z_scale, 100);
    EXPECT_EQ(c.in.t_srs, "EPSG:32631");
    EXPECT_EQ(c.in.where, "ELEV > 0");
    EXPECT_TRUE(c.in.spot_heights);
    EXPECT_EQ(c.type, "Float32");
    EXPECT_EQ(c.maille, 5);
    EXPECT_EQ(c.in.cell, 12.5);
    EXPECT_EQ(c.in.attribute, "hauteur");
    EXPECT_EQ(c.in.layers, std::vector<std::string>{"courbes"});
    EXPECT_EQ(c.in.crs, "EPSG:2154");
    EXPECT_EQ(c.out, "dem.tif");
    EXPECT_EQ(c.preview.path, "dem.png");
    EXPECT_TRUE(c.preview.contours);
    EXPECT_TRUE(c.quiet);
}

TEST(GisCommandLine, OperandMayComeAfterTheOptionsAndDefaultsHold)
{
    const Cli c = parse({"import", "--out", "maps/hills", "--16bit", "hills.tif"});
    EXPECT_EQ(c.command, Command::import);
    EXPECT_EQ(c.in.contours, "hills.tif");
    EXPECT_EQ(c.out, "maps/hills");
    EXPECT_TRUE(c.in.bits16);
    EXPECT_EQ(c.in.band, 1);
    EXPECT_FALSE(c.in.has_empty);

    const Cli e = parse({"export", "maps/hills_m4", "--to", "dem.tif"});
    EXPECT_EQ(e.command, Command::export_dem);
    EXPECT_EQ(e.dem, "maps/hills_m4");
    EXPECT_EQ(e.out, "dem.tif");
}

TEST(GisCommandLine, GdalSpellingsAreTheLongOptionsAndRepeatableOnesAddUp)
{
    const Cli c = parse({"build",
                         "c.gpkg",
                         "-of",
                         "GPKG",
                         "-co",
                         "TILE_FORMAT=PNG",
                         "-co",
                         "ZOOM_LEVEL=2",
                         "-ot",
                         "Int16",
                         "-a_nodata",
                         "-32768",
                         "-tr",
                         "2.5",
                         "5",
                         "-te",
                         "0",
                         "0",
                         "100",
                         "50",
                         "-tap",
                         "-l",
                         "a",
                         "-l",
                         "b",
                         "-where",
                         "Z > 0",
                         "-t_srs",
                         "EPSG:2154",
                         "-a_srs",
                         "EPSG:4326",
                         "-cutline",
                         "land.shp",
                         "-cl",
                         "coast",
                         "-cwhere",
                         "ISO = 'FR'",
                         "--config",
                         "GDAL_CACHEMAX",
                         "512",
                         "--oversample",
                         "3",
                         "-o",
                         "d.gpkg"});
    EXPECT_EQ(c.format, "GPKG");
    EXPECT_EQ(c.creation_options, (std::vector<std::string>{"TILE_FORMAT=PNG", "ZOOM_LEVEL=2"}));
    EXPECT_EQ(c.type, "Int16");
    EXPECT_TRUE(c.has_nodata);
    EXPECT_EQ(c.nodata, -32768);
    EXPECT_EQ(c.in.cell, 2.5);
    EXPECT_EQ(c.in.cell_y, 5);
    EXPECT_TRUE(c.in.has_extent);
    EXPECT_TRUE(c.in.tap);
    EXPECT_EQ(c.in.layers, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(c.in.where, "Z > 0");
    EXPECT_EQ(c.in.t_srs, "EPSG:2154");
    EXPECT_EQ(c.in.crs, "EPSG:4326");
    EXPECT_EQ(c.cutline.path, "land.shp");
    EXPECT_EQ(c.cutline.layer, "coast");
    EXPECT_EQ(c.cutline.where, "ISO = 'FR'");
    ASSERT_EQ(c.config.size(), 1U);
    EXPECT_EQ(c.config[0].second, "512");
    EXPECT_EQ(c.in.oversample, 3);
    EXPECT_EQ(c.in.contours, "c.gpkg");
    // Auto by default; a GDAL spelling that is an option's argument stays a word.
    const Cli d = parse({"build", "c.gpkg", "--cell", "5", "--where", "-of", "-o", "d.tif"});
    EXPECT_EQ(d.in.oversample, 0);
    EXPECT_EQ(d.in.where, "-of");
    EXPECT_EQ(d.format, "");
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"build", "c.gpkg", "--cell", "5", "-o", "d.tif", "--oversample", "9"},
             {"build", "c.gpkg", "--cell", "5", "-o", "d.tif", "--oversample", "0"},
             {"build", "c.gpkg", "-o", "d.tif", "-tr", "5"},
             {"build", "c.gpkg", "-o", "d.tif", "-tr", "5", "-1"},
             {"build", "c.gpkg", "--cell", "5", "-o", "d.tif", "-co", "NOVALUE"},
             {"build", "c.gpkg", "--cell", "5", "-o", "d.tif", "-cl", "coast"},
             {"build", "c.gpkg", "--cell", "5", "-o", "d.tif", "-a_nodata", "none?"},
         })
        EXPECT_NE(usage_error(bad), "") << bad.back();
}

TEST(GisCommandLine, ExtentTakesFourNumbersAfterItOrInOneWord)
{
    const std::vector<std::vector<std::string>> lines = {
        {"build", "c.gpkg", "--cell", "5", "-e", "10", "--out", "d.tif", "--extent", "-100",
         "-200.5", "300", "4e2"},
        {"build", "--cell", "5", "--extent", "-100", "-200.5", "300", "4e2", "c.gpkg", "-e", "10",
         "--out", "d.tif", "--tap"},
        {"build", "--extent=-100,-200.5,300,4e2", "--cell=5", "-e", "10", "--out=d.tif", "c.gpkg"},
    };
    for (const auto& words : lines) {
        SCOPED_TRACE(words[2]);
        const Cli c = parse(words);
        EXPECT_EQ(c.in.contours, "c.gpkg");
        ASSERT_TRUE(c.in.has_extent);
        EXPECT_EQ(std::vector<double>(c.in.extent, c.in.extent + 4),
                  (std::vector<double>{-100, -200.5, 300, 400}));
        EXPECT_EQ(c.out, "d.tif");
    }
    EXPECT_NE(usage_error({"build", "c.gpkg", "--cell", "5", "-e", "10", "--out", "d.tif",
                           "--extent", "1", "2", "3"}),
              "");
    EXPECT_NE(usage_error({"build", "c.gpkg", "--cell", "5", "-e", "10", "--out", "d.tif",
                           "--extent=1,2,x,4"}),
              "");
}

TEST(GisCommandLine, UnambiguousAbbreviationsAreTaken)
{
    const Cli c =
        parse({"build", "a.shp", "--equi=20", "--smooth", "3", "--ce", "5", "-o", "d.tif"});
    EXPECT_EQ(c.in.equidistance, 20);
    EXPECT_EQ(c.maille, 3);
    EXPECT_EQ(c.in.cell, 5);
}

TEST(GisCommandLine, HelpNeedsNothingElse)
{
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"build", "--help"}).help);
    EXPECT_EQ(parse({"export", "-h"}).command, Command::export_dem);
    EXPECT_TRUE(parse({"--version"}).version);
}

TEST(GisCommandLine, WrongCommandLinesAreRefusedWithTheReason)
{
    struct Case {
        const char* name;
        std::vector<std::string> words;
        const char* message;
    };
    const Case cases[] = {
        {"no_command", {}, "missing command"},
        {"unknown_command", {"draw", "x"}, "unknown command 'draw'"},
        {"unknown_option",
         {"build", "a.shp", "-e", "5", "-o", "d.tif", "--colour"},
         "unrecognized option '--colour'"},
        {"ambiguous_abbreviation",
         {"import", "a.shp", "-o", "x", "--c=5"},
         "option '--c=5' is ambiguous; possibilities: '--cell' '--crs'"},
        {"missing_argument",
         {"import", "a.shp", "-o", "x", "--cell"},
         "option '--cell' requires an argument"},
        {"missing_short_argument",
         {"build", "a.shp", "-o", "d.tif", "-e"},
         "option requires an argument -- 'e'"},
        {"no_operand", {"import", "--out", "x"}, "missing contour file operand"},
        {"two_operands", {"import", "a.shp", "b.shp", "--out", "x"}, "extra operand 'b.shp'"},
        {"no_out", {"import", "a.shp"}, "missing --out DIR/NAME"},
        {"z_scale_not_a_power_of_ten",
         {"build", "a.shp", "-o", "d.tif", "--z-scale", "20"},
         "invalid --z-scale '20': a power of ten from 1 to 1000000"},
        {"z_scale_too_large",
         {"import", "a.shp", "-o", "x", "--z-scale", "10000000"},
         "invalid --z-scale"},
        {"float_is_for_build", {"import", "a.shp", "-o", "x", "--float"}, "unrecognized option"},
        {"zero_equidistance",
         {"build", "a.shp", "-o", "d.tif", "-e", "0"},
         "invalid equidistance '0'"},
        {"equidistance_not_a_number",
         {"build", "a.shp", "-o", "d.tif", "-e", "10m"},
         "invalid number '10m' for --equidistance"},
        {"negative_cell", {"import", "a.shp", "-o", "x", "--cell", "-5"}, "invalid size '-5'"},
        {"cell_and_like",
         {"import", "a.shp", "-o", "x", "--cell", "5", "--like", "r.tif"},
         "--cell and --like both give the grid"},
        {"band_zero", {"import", "r.tif", "-o", "x", "--band", "0"}, "invalid band '0'"},
        {"contours_without_preview",
         {"export", "d_m4", "--to", "d.tif", "--preview-contours"},
         "--preview-contours needs --preview"},
        {"export_without_to", {"export", "d_m4"}, "missing --to DEM.tif"},
        {"import_has_no_equidistance",
         {"import", "a.shp", "-o", "x", "-e", "5"},
         "invalid option -- 'e'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(usage_error(c.words).find(c.message), std::string::npos)
            << "got: " << usage_error(c.words);
    }
}

TEST(GisNumbers, OnlyWholeTextsParse)
{
    int i = 0;
    EXPECT_TRUE(parse_int("-12", i));
    EXPECT_EQ(i, -12);
    EXPECT_TRUE(parse_int("+7", i));
    EXPECT_EQ(i, 7);
    for (const char* bad : {"", "1.5", "12 ", " 12", "2147483648", "x"})
        EXPECT_FALSE(parse_int(bad, i)) << bad;
    double d = 0;
    EXPECT_TRUE(parse_real("12.5", d));
    EXPECT_EQ(d, 12.5);
    for (const char* bad : {"", "nan", "inf", "1e999", "5m", " 5"})
        EXPECT_FALSE(parse_real(bad, d)) << bad;
}

TEST(GisGrid, CeilOfTheExtentFromItsCornerOrAlignedWithTap)
{
    struct Case {
        const char* name;
        double minx, maxx, miny, maxy, cell;
        bool tap;
        int lines, cols;
        double x0, y0;
    };
    const Case cases[] = {
        {"aligned", 100, 200, 50, 100, 10, false, 5, 10, 100, 100},
        {"aligned_tap", 100, 200, 50, 100, 10, true, 5, 10, 100, 100},
        {"unaligned", 103, 197, 52, 98, 10, false, 5, 10, 103, 98},
        {"unaligned_tap", 103, 197, 52, 98, 10, true, 5, 10, 100, 100},
        // 410 x 388 cells of 12.5 whose sums are not exact in binary.
        {"rounding", 0.1, 0.1 + 410 * 12.5, 0.3, 0.3 + 388 * 12.5, 12.5, false, 388, 410, 0.1,
         0.3 + 388 * 12.5},
        {"negative", -25, -5, -15, 3, 10, false, 2, 2, -25, 3},
        {"negative_tap", -25, -5, -15, 3, 10, true, 3, 3, -30, 10},
        {"one_point", 7, 7, 7, 7, 2, false, 1, 1, 7, 7},
        {"one_point_tap", 7, 7, 7, 7, 2, true, 1, 1, 6, 8},
        {"fine_cell", 0.2, 0.9, 0.1, 0.4, 0.25, false, 2, 3, 0.2, 0.4},
        {"fine_cell_tap", 0.2, 0.9, 0.1, 0.4, 0.25, true, 2, 4, 0, 0.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Cell_grid g = grid_for_extent(c.minx, c.maxx, c.miny, c.maxy, c.cell, c.tap);
        EXPECT_EQ(g.nb_lig, c.lines);
        EXPECT_EQ(g.nb_col, c.cols);
        EXPECT_DOUBLE_EQ(g.gt[0], c.x0);
        EXPECT_DOUBLE_EQ(g.gt[3], c.y0);
        EXPECT_EQ(g.gt[1], c.cell);
        EXPECT_EQ(g.gt[5], -c.cell);
        EXPECT_EQ(g.gt[2], 0);
        EXPECT_EQ(g.gt[4], 0);
    }
}

TEST(GisGrid, GridsBeyondTheIndexOrTheMemoryAreRefusedNamingSizeAndMemory)
{
    auto refusal = [](double lines, double cols, double bytes) -> std::string {
        try {
            check_grid_size(lines, cols, bytes, ": choose a larger --cell");
        } catch (const Gis_error& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(refusal(10000, 10000, 24), "");
    const double memory = machine_memory();
    ASSERT_GT(memory, 0);
    struct Case {
        const char* name;
        double lines, cols, bytes;
        std::vector<const char*> parts;
    };
    const Case cases[] = {
        {"cell_1e-300", 2.78e302, 4e302, 24, {"2.78 x 10^302 lines", "can index", "larger --cell"}},
        {"lines_beyond_int", 3e9, 1, 24, {"3000000000 lines and 1 columns", "2147483647 lines"}},
        {"cells_beyond_int",
         50000,
         50000,
         24,
         {"50000 lines and 50000 columns", "2500000000 cells", "60.0 GB"}},
        {"beyond_memory",
         1000,
         1000,
         2 * memory / 1e6,
         {"1000 lines and 1000 columns", "more than the", "this machine has"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string why = refusal(c.lines, c.cols, c.bytes);
        for (const char* part : c.parts) EXPECT_NE(why.find(part), std::string::npos) << why;
    }
    EXPECT_THROW(grid_for_extent(0, 400, 0, 278, 1e-300), Gis_error);
}

TEST(GisGrid, MetadataCellSizeIsExact)
{
    const double square[6] = {0, 12.5, 0, 0, 0, -12.5};
    const double degrees[6] = {2, 1.0 / 1200, 0, 48, 0, -1.0 / 1200};
    const double oblong[6] = {0, 75, 0, 0, 0, -150};
    EXPECT_EQ(cell_size_text(square), "12.5");
    EXPECT_EQ(std::stod(cell_size_text(degrees)), 1.0 / 1200);
    EXPECT_EQ(cell_size_text(oblong), "75 x 150");
}

TEST(GisGrid, HeaderPixelSizeIsRoundedAndNeverZero)
{
    EXPECT_EQ(header_pixel_size(25), 25);
    EXPECT_EQ(header_pixel_size(12.5), 13);
    EXPECT_EQ(header_pixel_size(-30), 30);
    EXPECT_EQ(header_pixel_size(0.0008333), 1);
}

TEST(GisElevation, WholeNumbersInTheIntRangeOtherThanNoData)
{
    struct Case {
        const char* name;
        double v;
        const char* reason; // part of the refusal; nullptr when accepted
    };
    const Case cases[] = {
        {"whole", 120, nullptr},
        {"zero", 0, nullptr},
        {"negative", -35, nullptr},
        {"written_as_real", 1500.0, nullptr},
        {"int_max", 2147483647.0, nullptr},
        {"half", 120.5, "not a whole number"},
        {"double_noise", 419.99999999999994, nullptr},
        {"float32_tenth_times_ten", static_cast<float>(0.1) * 10.0, nullptr},
        {"small_fraction", 100.001, "not a whole number"},
        {"negative_fraction", -0.25, "not a whole number"},
        {"above_int", 2147483648.0, "outside the range"},
        {"below_int", -2147483649.0, "outside the range"},
        {"no_data", -99999, "marks empty pixels"},
        {"nan", std::nan(""), "not a number"},
        {"infinite", INFINITY, "not a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const char* why = elevation_refusal(c.v);
        if (!c.reason) {
            EXPECT_EQ(why, nullptr);
            continue;
        }
        ASSERT_NE(why, nullptr);
        EXPECT_NE(std::string(why).find(c.reason), std::string::npos) << why;
    }
}

TEST(GisLevels, FactorMakesEveryLevelAndTheEquidistanceWholeAndTheStepIsTheirGcd)
{
    struct Case {
        const char* name;
        std::vector<double> levels;
        double equidistance; // 0: none given
        int forced;          // --z-scale, 0: found
        int factor;          // 0: refused
        double failing;      // the value named when refused
    };
    const Case cases[] = {
        {"whole", {90, 100, 110}, 0, 0, 1, 0},
        {"halves", {0.5, 1, 1.5}, 0, 0, 10, 0},
        {"quarter_equidistance", {10, 20}, 2.25, 0, 100, 0},
        {"noisy", {419.99999999999994, 420.5}, 0, 0, 10, 0},
        {"float32_level", {static_cast<float>(419.9), 420}, 0, 0, 10, 0},
        {"forced_larger", {1.5}, 0, 100, 100, 0},
        {"forced_too_small", {1.25, 2}, 0, 10, 0, 1.25},
        {"too_many_decimals", {1, 1.0000123}, 0, 0, 0, 1.0000123},
        {"equidistance_too_fine", {1, 2}, 1e-7, 0, 0, 1e-7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double failing = -1;
        EXPECT_EQ(level_factor(c.levels, c.equidistance, c.forced, failing), c.factor);
        if (c.factor == 0) {
            EXPECT_EQ(failing, c.failing);
        }
    }
    EXPECT_EQ(level_step({-20, 30, 80}), 50);
    EXPECT_EQ(level_step({905, 1000, 1200, 995}), 5);
    EXPECT_EQ(level_step({120}), 0);
    EXPECT_EQ(level_step({}), 0);
}

TEST(GisContourFiles, HeaderRangeIsTheTrueRangeWithNoDataIncluded)
{
    struct Case {
        const char* name;
        std::vector<std::vector<int>> rows;
        int min, max;
    };
    const Case cases[] = {
        {"contours_and_empty", {{ND, 120, ND}, {110, ND, 130}}, ND, 130},
        {"all_contours", {{120, 140}, {110, 130}}, 110, 140},
        {"all_above_a_million", {{2000000, 3000000}}, 2000000, 3000000},
        {"all_negative", {{-20, -5}}, -20, -5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Grid g(c.rows);
        Program_state s;
        s.nb_lig = g.lines();
        s.nb_col = g.cols();
        s.itab = g.data();
        int lo = 0, hi = 0;
        header_range(s, lo, hi);
        EXPECT_EQ(lo, c.min);
        EXPECT_EQ(hi, c.max);
    }
}

TEST(GisContourFiles, SidecarIsNamedAfterTheRawRaster)
{
    EXPECT_EQ(sidecar_name("/home/u/images/maps/hills_c4.raw"), "/home/u/images/maps/hills_c4.vrt");
    EXPECT_EQ(sidecar_name("maps/hills_c2.raw"), "maps/hills_c2.vrt");
    EXPECT_EQ(sidecar_name("odd"), "odd.vrt");
}

TEST(GisDemHeader, ReadsWhatTheProgramWrites)
{
    // The header as the library writes it, through a memory stream.
    char* text = nullptr;
    std::size_t len = 0;
    std::FILE* f = open_memstream(&text, &len);
    ASSERT_TRUE(write_dem_header_start(f, 30, 40, 4));
    ASSERT_TRUE(write_dem_header_end(f, 105, 187, 25, "/home/a b/images/maps/hills_c4.raw", 5));
    std::fclose(f);
    const Dem_header h = parse_dem_header(std::string(text, len));
    std::free(text);
    EXPECT_EQ(h.count, 6);
    const int expected[6] = {30, 40, 4, 105, 187, 25};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(h.values[k], expected[k]) << k;
    EXPECT_EQ(h.input_path, "/home/a b/images/maps/hills_c4.raw");
    EXPECT_EQ(h.maille, 5);
}

TEST(GisDemHeader, WindowsLineEndsAndMissingLines)
{
    const Dem_header h = parse_dem_header("2 \r\n3 \r\n2 \r\n12\r\n980\r\n25\r\n\r\n\tName of the "
                                          "input file : C:\\images\\m\\x_c2.raw \r\n");
    EXPECT_EQ(h.values[4], 980);
    EXPECT_EQ(h.input_path, "C:\\images\\m\\x_c2.raw");
    EXPECT_EQ(h.maille, 1);

    const Dem_header short_one = parse_dem_header("2 \n3 \n");
    EXPECT_EQ(short_one.count, 2);
    EXPECT_EQ(short_one.input_path, "");
}

TEST(GisRunValues, MeshLimitsAreTheDialogues)
{
    Program_state s;
    s.nb_lig = 10;
    s.nb_col = 50;
    EXPECT_NO_THROW(check_run_values(s, 10, 1));
    EXPECT_NO_THROW(check_run_values(s, 10, -3)); // 1 or less: no smoothing
    EXPECT_NO_THROW(check_run_values(s, 10, 9));  // the window of 10 lines fits
    EXPECT_THROW(check_run_values(s, 10, 10), Gis_error);
    EXPECT_THROW(check_run_values(s, 0, 1), Gis_error);
    s.nb_lig = 100;
    s.nb_col = 100;
    EXPECT_NO_THROW(check_run_values(s, 10, 33));
    EXPECT_THROW(check_run_values(s, 10, 34), Gis_error);
    s.nb_lig = 2;
    EXPECT_THROW(check_run_values(s, 10, 2), Gis_error);
}

// ---- The preview ----------------------------------------------------------

namespace {

// A cone 60 cells across, peak 300 at the centre, on 10 m cells.
Grid cone(int n)
{
    std::vector<std::vector<int>> rows(static_cast<std::size_t>(n),
                                       std::vector<int>(static_cast<std::size_t>(n)));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] =
                300 - static_cast<int>(4 * std::hypot(i - n / 2, j - n / 2));
    return Grid(rows);
}

Relief_view view_of(Grid& g)
{
    Relief_view v;
    v.dem = g.data();
    v.nb_lig = g.lines();
    v.nb_col = g.cols();
    v.dx = v.dy = 10;
    return v;
}

const std::uint8_t* pixel(const Rgba_image& img, int x, int y)
{
    return &img.px[(static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) +
                    static_cast<std::size_t>(x)) *
                   4];
}

int brightness(const std::uint8_t* p) { return p[0] + p[1] + p[2]; }

} // namespace

TEST(GisPreview, LightComesFromTheNorthWest)
{
    const double flat = hillshade(0, 0);
    EXPECT_NEAR(flat, std::sqrt(0.5), 1e-12);
    // Ground rising to the east faces west, toward the light.
    EXPECT_GT(hillshade(0.5, 0), flat);
    EXPECT_LT(hillshade(-0.5, 0), flat);
    // Ground rising to the north faces south, away from it.
    EXPECT_LT(hillshade(0, 0.5), flat);
    EXPECT_GT(hillshade(0, -0.5), flat);
    // A cliff facing away from the light is black, never negative.
    EXPECT_EQ(hillshade(-100, 100), 0);
}

TEST(GisPreview, RampRunsFromGreenToWhite)
{
    std::uint8_t low[3], mid[3], high[3];
    ramp_colour(0, low);
    ramp_colour(0.5, mid);
    ramp_colour(1, high);
    EXPECT_GT(low[1], low[0]); // green dominates the lowland
    EXPECT_GT(high[0] + high[1] + high[2], 3 * 230);
    EXPECT_GT(mid[0], low[0]);
    std::uint8_t clamped[3];
    ramp_colour(7, clamped);
    EXPECT_EQ(std::vector<int>(clamped, clamped + 3), std::vector<int>(high, high + 3));
}

TEST(GisPreview, ConeIsLitOnItsNorthWestFlankAndColouredByAltitude)
{
    Grid g = cone(60);
    const Relief_view v = view_of(g);
    const Altitude_range r = relief_range(v);
    ASSERT_TRUE(r.any);
    EXPECT_EQ(r.max, 300);
    const Rgba_image img = render_relief(v, 60, 60, r);
    EXPECT_EQ(img.height, 60);
    EXPECT_GT(img.width, 60); // the legend's strip
    // Same altitude, opposite flanks.
    EXPECT_GT(brightness(pixel(img, 15, 15)), brightness(pixel(img, 45, 45)));
    // Every DEM pixel is opaque.
    EXPECT_EQ(pixel(img, 0, 0)[3], 255);
    // The legend's bar, between the unit above it and the exaggeration
    // below it, holds the ramp's highest colour at its top, the lowest at
    // its bottom.
    std::uint8_t high[3], low[3];
    ramp_colour(1, high);
    ramp_colour(0, low);
    const int bar_x = 60 + 8 + 2, glyph = 5;
    EXPECT_EQ(pixel(img, bar_x, 8 + glyph + 4)[0], high[0]);
    EXPECT_EQ(pixel(img, bar_x, 60 - 1 - 8 - glyph - 4)[1], low[1]);
}

TEST(GisPreview, EmptyPixelsAreTransparentAndContoursDarken)
{
    Grid g({{100, 100, 100, 100}, {100, ND, 100, 100}, {100, 100, 100, 100}});
    Relief_view v = view_of(g);
    const std::vector<std::uint8_t> contours = {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    const Rgba_image plain = render_relief(v, 4, 3, relief_range(v));
    v.contours = contours.data();
    const Rgba_image drawn = render_relief(v, 4, 3, relief_range(v));
    EXPECT_EQ(plain.width, 4); // too short for a legend
    EXPECT_EQ(pixel(plain, 1, 1)[3], 0);
    EXPECT_LT(brightness(pixel(drawn, 2, 1)), brightness(pixel(plain, 2, 1)));
    EXPECT_EQ(brightness(pixel(drawn, 3, 1)), brightness(pixel(plain, 3, 1)));
}

TEST(GisPreview, SixteenBitDemsShowTheirLowBitsAndHaveNoEmptyPixel)
{
    Grid g({{ND, 70000, -1}});
    Relief_view v = view_of(g);
    v.low16 = true;
    v.has_empty = false;
    const Altitude_range r = relief_range(v);
    EXPECT_EQ(r.min, 4464);  // 70000 modulo 65536
    EXPECT_EQ(r.max, 65535); // -1 as 16 bits
    EXPECT_EQ(pixel(render_relief(v, 3, 1, r), 0, 0)[3], 255);
}

TEST(GisPreview, PictureKeepsTheGroundProportionsWithinItsSizeLimits)
{
    Grid g = cone(60);
    struct Case {
        const char* name;
        int lines, cols;
        double dx, dy;
        int width, height;
    };
    const Case cases[] = {
        {"small_grid_enlarged", 28, 40, 10, 10, 400, 280},
        {"large_grid_reduced", 6000, 3000, 5, 5, 1000, 2000},
        {"cells_twice_as_tall", 100, 100, 75, 150, 200, 400},
        {"degrees_narrowed", 300, 300, 74, 93, 318, 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Relief_view v = view_of(g);
        v.nb_lig = c.lines;
        v.nb_col = c.cols;
        v.dx = c.dx;
        v.dy = c.dy;
        int w = 0, h = 0;
        picture_size(v, 400, 2000, w, h);
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
    }
    // A reduced picture shows the cell under each of its pixels.
    const Relief_view v = view_of(g);
    const Rgba_image img = render_relief(v, 15, 15, relief_range(v));
    EXPECT_EQ(img.height, 15);
    EXPECT_EQ(img.width, 15); // too short for a legend
}

TEST(GisPreview, LegendTicksAreRoundStepsOf125)
{
    struct Case {
        double lo, hi;
        std::vector<double> ticks;
    };
    const Case cases[] = {
        {260, 658, {300, 400, 500, 600}},
        {90, 120, {90, 100, 110, 120}},
        {-1434, 2249, {-1000, 0, 1000, 2000}},
        {0.2, 0.9, {0.2, 0.4, 0.6, 0.8}},
        {101, 104, {101, 102, 103, 104}},
        {100, 101, {100, 100.2, 100.4, 100.6, 100.8, 101}},
        {42, 42, {42}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lo);
        const std::vector<double> ticks = round_ticks(c.lo, c.hi, 6);
        ASSERT_EQ(ticks.size(), c.ticks.size());
        for (std::size_t k = 0; k < ticks.size(); ++k) EXPECT_NEAR(ticks[k], c.ticks[k], 1e-9);
    }
}

TEST(GisPreview, SeaBelowZeroInBluesLandAboveInTheRamp)
{
    const Altitude_range both{true, -1000, 2000};
    const Altitude_range land{true, 200, 600};
    std::uint8_t deep[3], shore[3], coast[3], summit[3], low[3], high[3];
    altitude_colour(-1000, both, deep);
    altitude_colour(-1, both, shore);
    altitude_colour(0, both, coast);
    altitude_colour(2000, both, summit);
    ramp_colour(0, low);
    ramp_colour(1, high);
    EXPECT_GT(deep[2], deep[0] + 50); // blue
    EXPECT_GT(shore[2], shore[0]);
    EXPECT_GT(brightness(shore), brightness(deep));
    EXPECT_EQ(std::vector<int>(coast, coast + 3), std::vector<int>(low, low + 3));
    EXPECT_EQ(std::vector<int>(summit, summit + 3), std::vector<int>(high, high + 3));
    altitude_colour(200, land, coast);
    EXPECT_EQ(std::vector<int>(coast, coast + 3), std::vector<int>(low, low + 3));
}

TEST(GisPreview, ExaggerationOnlyForGentleRelief)
{
    EXPECT_EQ(auto_zfactor(500, 5000), 1);
    EXPECT_DOUBLE_EQ(auto_zfactor(100, 10000), 5);
    EXPECT_EQ(auto_zfactor(1, 1e6), 50);
    EXPECT_EQ(auto_zfactor(0, 1000), 1);
}
