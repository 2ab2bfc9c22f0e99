// relief_forge_gis at the edge of the machine: an address-space limit at
// every stage of a build ends with the tool's memory message and the
// earlier files kept, never a crash; sizes beyond any machine still read
// whole with their unit.
#include "gis/gis.h"
#include "gis/grid/grid.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

namespace {

const std::string kSample =
    std::string(RF_SOURCE_DIR) + "/data/sample_vector/hills_contours.geojson";

} // namespace

TEST(GisLimits, SizesReadWholeWithTheirUnit)
{
    const struct {
        double bytes;
        const char* text;
    } cases[] = {
        {999, "1 kB"},
        {2.5e6, "3 MB"},
        {60e9, "60.0 GB"},
        {4.2e12, "4.2 TB"},
        {7e15, "7.0 PB"},
        {3e18, "3.0 EB"},
        {999e18, "999.0 EB"},
        {1.92e39, "1.92 x 10^39 bytes"},
        {1e308 * 10, "more than 10^308 bytes"},
    };
    for (const auto& c : cases) EXPECT_EQ(bytes_text(c.bytes), c.text) << c.bytes;

    // Vertices at +-1e300 on cells of 25: the refusal names the grid and
    // its memory in full, with units, however large.
    try {
        check_grid_size(8e298, 8e298, 24, ": choose a larger --cell");
        ADD_FAILURE() << "not refused";
    } catch (const Gis_error& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("8 x 10^298 lines and 8 x 10^298 columns (more than 10^308 cells, about "
                         "more than 10^308 bytes of memory)"),
                  std::string::npos)
            << m;
    }
}

#if !defined(__SANITIZE_ADDRESS__)
// Limits from below the libraries' own needs to above the whole build that
// land in each stage: the grid's check, the surface, the COG's copy and
// overviews (GDAL crashed in them at 364 and 366 MB), the preview.
TEST(GisLimits, AddressSpaceLimitAtEveryStageEndsCleanly)
{
    Temp_dir d;
    const std::string dem = d.path + "/dem.tif", png = d.path + "/dem.png";
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::vector<long long> megabytes;
    } runs[] = {
        {"COG with preview",
         {"build", kSample, "--cell", "3", "-e", "10", "-s", "5", "--format", "COG", "--float",
          "--clip", "--preview-contours", "--preview", png, "--out", dem, "-q"},
         {300, 340, 364, 366, 380, 400, 440, 520, 600}},
        {"GeoTIFF",
         {"build", kSample, "--cell", "5", "-e", "10", "--out", dem, "-q"},
         {200, 240, 280, 320, 360}},
    };
    int built = 0, refused = 0;
    for (const auto& run : runs)
        for (long long mb : run.megabytes) {
            SCOPED_TRACE(std::string(run.name) + " under " + std::to_string(mb) + " MB");
            write_file(dem, "earlier");
            std::remove(png.c_str());
            Run_options o;
            o.memory_limit = mb << 20;
            const Program_run r = run_program(RF_GIS_BINARY, run.args, o);
            ASSERT_EQ(r.signal, 0) << r.err;
            if (r.status == 0) {
                ++built;
                EXPECT_NE(read_file(dem), "earlier");
                continue;
            }
            ++refused;
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find("memory"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("no file was written"), std::string::npos) << r.err;
            EXPECT_EQ(read_file(dem), "earlier");
            EXPECT_EQ(list_dir(d.path), std::vector<std::string>{"dem.tif"});
        }
    // The limits reached both ends.
    EXPECT_GT(built, 0);
    EXPECT_GT(refused, 0);
}
#endif
