// Runs that must fail cleanly: a clear message, exit status 1, no temporary
// file left, and an earlier DEM of the same name untouched. And answers that
// are refused and asked again.
#include "e2e/e2e_fixture.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#ifndef _WIN32
#include <unistd.h>
#endif

using namespace transcript;

namespace {

const std::string kEnded = "\n\n\tNo more answers : the run stops \n";

// Windows has no file-size or address-space limit for one process.
#ifdef _WIN32
#define SKIP_WITHOUT_RESOURCE_LIMITS() GTEST_SKIP() << "no per-process resource limits on Windows"
#else
#define SKIP_WITHOUT_RESOURCE_LIMITS()
#endif

// 5 lines x 40 columns, two contour levels crossing the image.
std::vector<int> strip_grid()
{
    std::vector<int> g(200, ND);
    for (int j = 0; j < 40; ++j) {
        g[static_cast<std::size_t>(j)] = 100;
        g[static_cast<std::size_t>(160 + j)] = 200;
    }
    return g;
}

class Faults : public E2e {
  protected:
    void SetUp() override
    {
        write_file(path("strip_c4.raw"), le32(strip_grid()));
        write_file(path("strip_c4.txt"), "5\n40\n4\n100\n200\n10\n");
        plant_earlier_dem("strip_m4");
    }
    // The dialogue up to the result choice, answered 0.
    Script up_to_equidistance() const
    {
        Script s = start("strip", "1");
        s.show(size_report(5, 40)).show("\n\tResulting DEM : ").ask(result_choice("strip"), "0");
        return s;
    }
    void expect_nothing_lost() const
    {
        expect_earlier_dem("strip_m4");
        expect_no_temporary();
    }
};

} // namespace

TEST_F(Faults, NumberAnswersThatAreNotWholeNumbersAreAskedAgain)
{
    Script s = start("strip", "1");
    s.show(size_report(5, 40)).show("\n\tResulting DEM : ");
    // The rest of a refused line is discarded with it.
    s.ask(result_choice("strip"), "zero 1")
        .show("\n\tNot a whole number : zero \n")
        .ask(result_choice("strip"), "2147483648")
        .show("\n\tNot a whole number : 2147483648 \n")
        .ask(result_choice("strip"), "-")
        .show("\n\tNot a whole number : - \n")
        .ask(result_choice("strip"), "+0");
    s.ask(kEquid_prompt, "1.5")
        .show("\n\tNot a whole number : 1.5 \n")
        .ask(kEquid_prompt, "0")
        .show("\n\tThe equidistance must be a positive number \n")
        .ask(kEquid_prompt, "-10")
        .show("\n\tThe equidistance must be a positive number \n")
        .ask(kEquid_prompt, "10");
    s.ask(kMesh_prompt, "5")
        .show("\n\tThe smoothing mesh must be 1 or less, or from 2 to 4 for this image \n")
        .ask(kMesh_prompt, "-3");
    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, s.out.size()), s.out);
    // The mesh size is recorded as typed.
    EXPECT_NE(
        read_file(path("strip_m4.txt")).find(host_text("Size of the window smoothing : -3 \n")),
        std::string::npos);
}

TEST_F(Faults, EndOfInputAfterAMissingHeaderLeavesNoHeader)
{
    std::remove(path("strip_c4.txt").c_str());
    Script s = start("strip", "1");
    s.show(no_header(path("strip_c4.txt"))).ask(kLines_prompt, "5").show(kColumns_prompt);
    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, s.out + kEnded);
    EXPECT_FALSE(file_exists(path("strip_c4.txt")));
    expect_nothing_lost();
}

TEST_F(Faults, GeometryAnswersMustBePositive)
{
    std::remove(path("strip_c4.txt").c_str());
    Script s = start("strip", "1");
    s.show(no_header(path("strip_c4.txt")))
        .ask(kLines_prompt, "0")
        .show("\n\tThe number must be positive \n")
        .ask(kLines_prompt, "5")
        .ask(kColumns_prompt, "-40")
        .show("\n\tThe number must be positive \n")
        .ask(kColumns_prompt, "40")
        .ask(kPixel_prompt, "10");
    s.show(size_report(5, 40)).show("\n\tResulting DEM : ").ask(result_choice("strip"), "0");
    s.ask(kEquid_prompt, "10").ask(kMesh_prompt, "1");
    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, s.out.size()), s.out);
    EXPECT_EQ(read_file(path("strip_c4.txt")), host_text("5\n40\n4\n-99999\n200\n10\n"));
}

TEST_F(Faults, NamesThatMakeAPathTooLongAreAskedAgain)
{
    const std::string long_name(128, 'a');
    Script s;
    s.show(banner())
        .ask(folder_prompt(base), long_name)
        .show("\n\tThis name makes a path longer than 127 characters \n")
        .ask(folder_prompt(base), folder)
        .ask(kImage_prompt, long_name)
        .show("\n\tThis name makes a path longer than 127 characters \n")
        .ask(kImage_prompt, "strip")
        .ask(kType_prompt, "1");
    s.show(size_report(5, 40)).show("\n\tResulting DEM : ");
    s.ask(result_choice("strip"), "1")
        .ask(kResult_name_prompt, long_name)
        .show("\n\tThis name makes a path longer than 127 characters \n")
        .show(kResult_name_prompt);
    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, s.out + kEnded);
    expect_nothing_lost();
}

TEST_F(Faults, ShortRasterIsRefusedWithBothSizes)
{
    write_file(path("strip_c4.raw"), le32(strip_grid()).substr(0, 799));
    Script s = start("strip", "1");
    s.show(size_report(5, 40));
    s.show("\n\n\tThe file " + path("strip_c4.raw") +
           " holds 799 bytes : 5 lines of 40 pixels of 4 bytes need 800 \n");
    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, s.out);
    expect_nothing_lost();
}

TEST_F(Faults, LongerRasterIsReadUpToItsHeader)
{
    write_file(path("strip_c4.raw"), le32(strip_grid()) + "trailing bytes");
    Script s = up_to_equidistance();
    s.ask(kEquid_prompt, "10").ask(kMesh_prompt, "1");
    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(path("strip_m4.raw")).size(), 800u);
}

TEST_F(Faults, HeaderWithoutLinesOrColumnsIsRefused)
{
    for (const char* header : {"0\n40\n4\n", "5\n-40\n4\n", "5\n", "", "lines 5"}) {
        write_file(path("strip_c4.txt"), header);
        Script s = start("strip", "1");
        s.show("\n\n\tThe header " + path("strip_c4.txt") +
               " gives no valid number of lines and columns \n");
        const Program_run r = run(s.in);
        SCOPED_TRACE(header);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, s.out);
        expect_nothing_lost();
    }
}

TEST_F(Faults, LevelsOutsideTheScaledRangeNameTheSmallestEquidistance)
{
    // 300000 x 512 / 1 leaves the range; with 2 it is 76800000, inside.
    std::vector<int> g = strip_grid();
    g[0] = 300000;
    write_file(path("strip_c4.raw"), le32(g));
    Script s = up_to_equidistance();
    s.ask(kEquid_prompt, "1").ask(kMesh_prompt, "1").show("\n\tLecture ");
    s.show("\n\n\tThe altitude 300000 is too large for the equidistance 1 : the smallest "
           "equidistance that fits is 2 \n");
    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, s.out);
    expect_nothing_lost();
}

TEST_F(Faults, RasterWithoutAnyContourPixelIsRefused)
{
    write_file(path("strip_c4.raw"), le32(std::vector<int>(200, ND)));
    Script s = up_to_equidistance();
    s.ask(kEquid_prompt, "10").ask(kMesh_prompt, "3").show("\n\tLecture ");
    s.show("\n\n\tThe file " + path("strip_c4.raw") + " holds no contour pixel \n");
    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, s.out);
    expect_nothing_lost();
}

TEST_F(Faults, WriteFailureOfACreatedHeaderKeepsNoHeader)
{
    SKIP_WITHOUT_RESOURCE_LIMITS();
    std::remove(path("strip_c4.txt").c_str());
    Script s = start("strip", "1");
    s.show(no_header(path("strip_c4.txt")))
        .ask(kLines_prompt, "5")
        .ask(kColumns_prompt, "40")
        .ask(kPixel_prompt, "10");
    s.show(size_report(5, 40)).show("\n\tResulting DEM : ").ask(result_choice("strip"), "0");
    s.ask(kEquid_prompt, "10").ask(kMesh_prompt, "1").show("\n\tLecture ");
    s.show("\n\n\tCannot write the file " + path("strip_c4.txt") + " : File too large \n");
    Run_options o;
    o.input = s.in;
    o.file_size_limit = 10;
    const Program_run r = run(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, s.out);
    EXPECT_FALSE(file_exists(path("strip_c4.txt")));
    expect_nothing_lost();
}

TEST_F(Faults, UnwritableFolderIsReportedBeforeTheLongWork)
{
#ifdef _WIN32
    GTEST_SKIP() << "a read-only folder does not refuse new files on Windows";
#else
    // Root ignores permission bits; an immutable folder refuses it too.
    const bool root = geteuid() == 0;
    const std::string lock = root ? "chattr +i '" + dir + "'" : "chmod a-w '" + dir + "'";
    const std::string unlock = root ? "chattr -i '" + dir + "'" : "chmod u+w '" + dir + "'";
    if (std::system((lock + " 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "cannot lock " << dir;
    Script s = up_to_equidistance();
    const Program_run r = run(s.in + "10\n1\n");
    std::system(unlock.c_str());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(0, s.out.size()), s.out);
    EXPECT_EQ(r.out.substr(s.out.size()),
              "\n\n\tCannot create the file " + path("strip_m4.raw") + " : " +
                  (root ? "Operation not permitted" : "Permission denied") + " \n");
    expect_nothing_lost();
#endif
}

TEST_F(Faults, InterruptRemovesTheTemporaryFiles)
{
#ifdef _WIN32
    // Ctrl-C as a console event; termination has no console event to send.
    const int signals[] = {SIGINT};
#else
    const int signals[] = {SIGINT, SIGTERM};
#endif
    for (int sig : signals) {
        Script s = up_to_equidistance();
        Run_options o;
        o.input = s.in;
        o.signal_after = kEquid_prompt;
        o.signal_to_send = sig;
        const Program_run r = run(o);
        SCOPED_TRACE(sig);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, s.out + kEquid_prompt + "\n\n\tInterrupted : no result was written \n");
        expect_nothing_lost();
    }
}

TEST_F(Faults, UnsetHomeIsReported)
{
#ifdef _WIN32
    GTEST_SKIP() << "the base directory does not depend on HOME on Windows";
#else
    Run_options o;
    o.unset_home = true;
    o.input = "maps\n";
    const Program_run r = run_program(RF_BINARY, {}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              banner() + "\n\n\tThe HOME variable is not set : there is no images folder \n");
#endif
}

// Address-space limits cannot be combined with AddressSanitizer's shadow memory.
#if !defined(__SANITIZE_ADDRESS__)
TEST_F(Faults, GridThatCannotBeAllocatedIsReportedWithItsSize)
{
    SKIP_WITHOUT_RESOURCE_LIMITS();
    // A sparse raster of the full size takes no disk space.
    write_file(path("strip_c4.txt"), "20000\n20000\n4\n0\n0\n10\n");
    std::filesystem::resize_file(path("strip_c4.raw"), 20000LL * 20000 * 4);
    Script s = start("strip", "1");
    s.show(size_report(20000, 20000)).show("\n\tResulting DEM : ").ask(result_choice("strip"), "0");
    s.show("\n\n\tNot enough memory for a grid of 20000 lines and 20000 columns (1600000000 bytes) "
           "\n");
    Run_options o;
    o.input = s.in;
    o.memory_limit = 1LL << 30;
    const Program_run r = run(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, s.out);
    expect_nothing_lost();
}
#endif
