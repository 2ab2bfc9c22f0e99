// Whole runs of relief_forge whose console output and files are known in
// advance: the documented byte layouts and the worked examples of the stages.
#include "e2e/e2e_fixture.h"

using namespace transcript;

namespace {

// 2 lines x 3 columns: 100 200 300 / 0 65535 1000.
const std::string kRaster16 = le16({100, 200, 300, 0, 65535, 1000});

// With equidistance 10 every value of kRaster16 comes back unchanged
// (1234 would not: it is the case that truncates twice).
std::string finish16(Script& s, const std::string& image, int maille_answer)
{
    s.ask(kEquid_prompt, "10").ask(kMesh_prompt, std::to_string(maille_answer));
    s.show("\n\tLecture ").show(passes({0})).show("\n");
    s.show(saving(2, 0, 65535));
    return image;
}

} // namespace

// An earlier DEM of the same name is replaced.
TEST_F(E2e, ExistingHeader16BitRoundTripsTheRaster)
{
    write_file(path("ex_c2.raw"), kRaster16);
    write_file(path("ex_c2.txt"), "2\n3\n2\n0\n65535\n25\n");
    plant_earlier_dem("ex_m2");
    Script s = start("ex", "0");
    s.show(size_report(2, 3)).show("\n\tResulting DEM : ").ask(result_choice("ex"), "0");
    finish16(s, "ex", 1);

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s.out);
    EXPECT_EQ(read_file(path("ex_m2.raw")), kRaster16);
    EXPECT_EQ(read_file(path("ex_m2.txt")),
              dem_header(2, 3, 2, 0, 65535, 25, path("ex_c2.raw"), 1));
    EXPECT_EQ(read_file(path("ex_c2.txt")), "2\n3\n2\n0\n65535\n25\n");
    EXPECT_EQ(list_dir(dir),
              (std::vector<std::string>{"ex_c2.raw", "ex_c2.txt", "ex_m2.raw", "ex_m2.txt"}));
}

TEST_F(E2e, MissingHeaderIsCreatedAndFoundByTheNextRun)
{
    write_file(path("ex_c2.raw"), kRaster16);
    Script s = start("ex", "0");
    s.show(no_header(path("ex_c2.txt")))
        .ask(kLines_prompt, "2")
        .ask(kColumns_prompt, "3")
        .ask(kPixel_prompt, "25");
    s.show(size_report(2, 3)).show("\n\tResulting DEM : ").ask(result_choice("ex"), "0");
    finish16(s, "ex", 1);

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s.out);
    const std::string created =
        "\x32\x0A\x33\x0A\x32\x0A\x30\x0A\x36\x35\x35\x33\x35\x0A\x32\x35\x0A";
    EXPECT_EQ(read_file(path("ex_c2.txt")), host_text(created));
    EXPECT_EQ(created.size(), 17u);

    // The second run reads the created header: no geometry questions.
    Script again = start("ex", "0");
    again.show(size_report(2, 3)).show("\n\tResulting DEM : ").ask(result_choice("ex"), "0");
    finish16(again, "ex", 1);
    const Program_run r2 = run(again.in);
    EXPECT_EQ(r2.status, 0);
    EXPECT_EQ(r2.out, again.out);
    EXPECT_EQ(read_file(path("ex_c2.txt")), host_text(created));
}

TEST_F(E2e, ResultChoiceIsAskedAgainUntilZeroOrOne)
{
    write_file(path("ex_c2.raw"), kRaster16);
    write_file(path("ex_c2.txt"), "2\n3\n2\n0\n65535\n25\n");
    Script s = start("ex", "0");
    s.show(size_report(2, 3)).show("\n\tResulting DEM : ");
    s.ask(result_choice("ex"), "7").ask(result_choice("ex"), "0");
    finish16(s, "ex", 1);

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s.out);
    EXPECT_EQ(read_file(path("ex_m2.raw")), kRaster16);
    EXPECT_TRUE(file_exists(path("ex_m2.txt")));
}

TEST_F(E2e, NamedResultGoesIntoTheImageFolder)
{
    write_file(path("ex_c2.raw"), kRaster16);
    write_file(path("ex_c2.txt"), "2\n3\n2\n0\n65535\n25\n");
    Script s = start("ex", "0");
    s.show(size_report(2, 3)).show("\n\tResulting DEM : ");
    s.ask(result_choice("ex"), "1").ask(kResult_name_prompt, "relief");
    finish16(s, "relief", 1);

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s.out);
    EXPECT_EQ(read_file(path("relief_m2.raw")), kRaster16);
    EXPECT_EQ(read_file(path("relief_m2.txt")),
              dem_header(2, 3, 2, 0, 65535, 25, path("ex_c2.raw"), 1));
    EXPECT_FALSE(file_exists(path("ex_m2.raw")));
}

TEST_F(E2e, HeaderWithoutPixelSizeAsksForItOnce)
{
    write_file(path("ex_c2.raw"), kRaster16);
    // Three values only; an answer of 0 to the pixel size stays 0.
    write_file(path("ex_c2.txt"), "2 3 4");
    Script s = start("ex", "0");
    s.ask(kPixel_again, "0");
    s.show(size_report(2, 3)).show("\n\tResulting DEM : ").ask(result_choice("ex"), "0");
    finish16(s, "ex", 1);

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s.out);
    // The third value follows the pixel type, not the header.
    EXPECT_EQ(read_file(path("ex_m2.txt")), dem_header(2, 3, 2, 0, 65535, 0, path("ex_c2.raw"), 1));
}

// Pixels whose bytes a text-mode file would change: LF (266 = 0x010A, 10), CR
// LF (3338 = 0x0D0A), CR (13), LF CR (2573 = 0x0A0D) and the end-of-file mark
// 0x1A (26). Every pixel is a contour pixel, and with equidistance 512 each
// value comes back unchanged.
TEST_F(E2e, RasterBytesThatTextModeWouldChangeComeBackUnchanged)
{
    const std::vector<int> values = {266, 3338, 13, 2573, 26, 10};
    for (const std::string type : {"0", "1"}) {
        SCOPED_TRACE("pixel type " + type);
        const std::string raster = type == "0" ? le16(values) : le32(values);
        const std::string suffix = type == "0" ? "2" : "4";
        write_file(path("nl_c" + suffix + ".raw"), raster);
        write_file(path("nl_c" + suffix + ".txt"), "2\n3\n2\n10\n3338\n5\n");
        Script s = start("nl", type);
        s.show(size_report(2, 3)).show("\n\tResulting DEM : ").ask(result_choice("nl"), "0");
        s.ask(kEquid_prompt, "512").ask(kMesh_prompt, "1");
        s.show("\n\tLecture ").show(passes({0})).show("\n").show(saving(2, 10, 3338));

        const Program_run r = run(s.in);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, s.out);
        EXPECT_EQ(read_file(path("nl_m" + suffix + ".raw")), raster);
    }
}

class PixelType : public E2e, public ::testing::WithParamInterface<const char*> {};

// 1 x 3: 250, empty, 300 with equidistance 50 scale to 2560, empty, 3072; one
// pass inserts their midpoint 2816, which comes back as 275.
TEST_P(PixelType, AnyAnswerButZeroMeans32Bit)
{
    write_file(path("ex_c4.raw"), le32({250, ND, 300}));
    write_file(path("ex_c4.txt"), "1\n3\n2\n250\n300\n10\n");
    Script s = start("ex", GetParam());
    s.show(size_report(1, 3)).show("\n\tResulting DEM : ").ask(result_choice("ex"), "0");
    s.ask(kEquid_prompt, "50").ask(kMesh_prompt, "1");
    s.show("\n\tLecture ").show(passes({1, 0})).show("\n").show(saving(1, 250, 300));

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s.out);
    EXPECT_EQ(read_file(path("ex_m4.raw")), le32({250, 275, 300}));
    EXPECT_EQ(read_file(path("ex_m4.txt")),
              dem_header(1, 3, 4, 250, 300, 10, path("ex_c4.raw"), 1));
}

INSTANTIATE_TEST_SUITE_P(Answers, PixelType, ::testing::Values("1", "2", "-1"));

TEST_F(E2e, MissingRasterStopsAfterOneKeyAndCreatesNothing)
{
    write_file(path("other_c4.raw"), le32({1}));
    Script s = start("ex", "1");
    s.show("\n\n\tNo File " + path("ex_c4.raw") + " \n");
    s.in += "x";

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, s.out);
    EXPECT_EQ(list_dir(dir), std::vector<std::string>{"other_c4.raw"});
}

// A line of 9 pixels, 0, seven empty, 512: with equidistance 512 the Scaled
// altitudes are the altitudes, and the passes halve the interval three times.
TEST_F(E2e, NinePixelLineIsFilledByMidLevelContours)
{
    write_file(path("line_c4.raw"), le32({0, ND, ND, ND, ND, ND, ND, ND, 512}));
    write_file(path("line_c4.txt"), "1\n9\n4\n0\n512\n5\n");
    Script s = start("line", "1");
    s.show(size_report(1, 9)).show("\n\tResulting DEM : ").ask(result_choice("line"), "0");
    s.ask(kEquid_prompt, "512").ask(kMesh_prompt, "1");
    s.show("\n\tLecture ").show(passes({1, 2, 4, 0})).show("\n").show(saving(1, 0, 512));

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s.out);
    EXPECT_EQ(read_file(path("line_m4.raw")), le32({0, 64, 128, 192, 256, 320, 384, 448, 512}));
}

// The 7 x 7 grid with a border of 512 and a centre of 1024.
TEST_F(E2e, SevenBySevenWorkedExample)
{
    std::vector<int> grid(49, ND);
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 7; ++j)
            if (i == 0 || j == 0 || i == 6 || j == 6)
                grid[static_cast<std::size_t>(i * 7 + j)] = 512;
    grid[24] = 1024;
    write_file(path("cone_c4.raw"), le32(grid));
    write_file(path("cone_c4.txt"), "7\n7\n4\n512\n1024\n1\n");
    Script s = start("cone", "1");
    s.show(size_report(7, 7)).show("\n\tResulting DEM : ").ask(result_choice("cone"), "0");
    s.ask(kEquid_prompt, "512").ask(kMesh_prompt, "0");
    s.show("\n\tLecture ").show(passes({8, 12, 4, 0})).show("\n").show(saving(7, 512, 1024));

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s.out);
    const std::vector<int> expected = {
        512, 512, 512, 512,  512, 512, 512, //
        512, 576, 640, 768,  640, 576, 512, //
        512, 640, 768, 896,  768, 640, 512, //
        512, 768, 896, 1024, 896, 768, 512, //
        512, 640, 768, 896,  768, 640, 512, //
        512, 576, 640, 768,  640, 576, 512, //
        512, 512, 512, 512,  512, 512, 512,
    };
    EXPECT_EQ(read_file(path("cone_m4.raw")), le32(expected));
    EXPECT_EQ(read_file(path("cone_m4.txt")),
              dem_header(7, 7, 4, 512, 1024, 1, path("cone_c4.raw"), 0));
}
