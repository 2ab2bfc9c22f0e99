// Whole runs of the built program on generated contour rasters against the
// straightforward stages run in this process: the same console text, the
// same DEM raster and the same DEM header, byte for byte.
#include "e2e/e2e_fixture.h"
#include "reference/reference.h"
#include "support/grid_helpers.h"
#include "surface/surface.h"

#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using namespace transcript;

namespace {

struct Run_case {
    const char* name;
    int nb_lig, nb_col;
    int bits;
    int equid;
    int maille;
    int seed;
    int base; // lowest altitude of the terrain
};

std::ostream& operator<<(std::ostream& os, const Run_case& c) { return os << c.name; }

// The raster as the program reads it: 32-bit values as they are, 16-bit
// values widened without sign.
Rows read_raster(const std::string& bytes, const Run_case& c)
{
    const int size = c.bits / 8;
    return make_rows(c.nb_lig, c.nb_col, [&](int l, int col) {
        const std::size_t at = (static_cast<std::size_t>(l) * c.nb_col + col) * size;
        std::uint32_t v = 0;
        for (int k = size - 1; k >= 0; --k)
            v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)]);
        return static_cast<int>(v);
    });
}

struct Expected {
    std::string console; // from "Lecture" to the end of the run
    std::string dem;
    int min = INT_MAX;
    int max = INT_MIN;
};

// The stages of a run, the surface ones from the reference library.
Expected reference_run(const Rows& contours, const Run_case& c)
{
    Grid_state g(contours);
    Expected e;
    {
        Console_capture console;
        say("\n\tLecture ");
        scale_to_scaled(g.s, c.equid);
        reference::dilation(g.s);
        reference::gap_filling(g.s);
        copy_surface(g.s);
        say("\n");
        if (c.maille > 1) reference::smoothing(g.s, c.maille);
        scale_back(g.s, c.equid);
        say("\n\n\tSaving the result\n\n");
        Min_max(&e.min, &e.max, g.s.itab1, g.s.nb_col, g.s.nb_lig);
        say("\n");
        e.console = console.text();
    }
    std::vector<int> values;
    for (const std::vector<int>& line : g.itab1())
        values.insert(values.end(), line.begin(), line.end());
    e.dem = c.bits == 16 ? le16(values) : le32(values);
    return e;
}

class WholeRun : public E2e, public testing::WithParamInterface<Run_case> {};

TEST_P(WholeRun, EqualsTheReferenceStages)
{
    const Run_case& c = GetParam();
    const std::string image = "gen";
    const std::string raster = image + (c.bits == 16 ? "_c2" : "_c4");
    const std::string dem = image + (c.bits == 16 ? "_m2" : "_m4");
    std::filesystem::create_directories(dir);
    const Program_run gen = run_program(
        RF_GENERATOR,
        {"--lines", std::to_string(c.nb_lig), "--cols", std::to_string(c.nb_col), "--bits",
         std::to_string(c.bits), "--equidistance", std::to_string(c.equid), "--seed",
         std::to_string(c.seed), "--base", std::to_string(c.base), "--out", dir + image},
        Run_options{});
    ASSERT_EQ(gen.status, 0) << gen.err;

    const Expected e = reference_run(read_raster(read_file(path(raster + ".raw")), c), c);

    Script s = start(image, c.bits == 16 ? "0" : "1");
    s.show(size_report(c.nb_lig, c.nb_col)).show("\n\tResulting DEM : ");
    s.ask(result_choice(image), "0");
    s.ask(kEquid_prompt, std::to_string(c.equid)).ask(kMesh_prompt, std::to_string(c.maille));
    s.show(e.console);

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, s.out);
    EXPECT_TRUE(read_file(path(dem + ".raw")) == e.dem) << "the DEM rasters differ";
    EXPECT_EQ(read_file(path(dem + ".txt")),
              dem_header(c.nb_lig, c.nb_col, c.bits / 8, e.min, e.max, 25, path(raster + ".raw"),
                         c.maille));
}

// A few hundred pixels a side, enough for the stages to share out their
// lines among the cores. The 16-bit terrain based at 60000 climbs past 65535,
// where the generator clamps it.
INSTANTIATE_TEST_SUITE_P(Generated, WholeRun,
                         testing::Values(Run_case{"hills32_mesh5", 300, 260, 32, 10, 5, 11, 100},
                                         Run_case{"hills32_mesh1", 260, 310, 32, 10, 1, 12, 100},
                                         Run_case{"hills32_mesh4_equid7", 240, 300, 32, 7, 4, 13,
                                                  -500},
                                         Run_case{"hills16_mesh5", 280, 250, 16, 10, 5, 14, 60000},
                                         Run_case{"hills16_mesh1", 250, 280, 16, 25, 1, 15, 100}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
