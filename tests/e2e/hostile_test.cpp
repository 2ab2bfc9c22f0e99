// Inputs chosen to break the program: levels at the edges of the ranges the
// stages work in, sizes beyond what can be indexed, headers and files of every
// odd kind, and names that would make an output land on an input.
#include "e2e/e2e_fixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace transcript;

namespace {

std::vector<int> dem32(const std::string& bytes)
{
    std::vector<int> v(bytes.size() / 4);
    std::memcpy(v.data(), bytes.data(), v.size() * 4);
    return v;
}

// Lines 4 and 5 of a header: the minimum and the maximum.
std::pair<int, int> header_range(const std::string& header)
{
    int v[5] = {};
    std::sscanf(header.c_str(), "%d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4]);
    return {v[3], v[4]};
}

struct Level_case {
    const char* name;
    std::vector<int> raster; // 5 x 40, empty when generated
    int equid;
    int maille;
    bool header;     // the input header exists; else it is created
    int level_back;  // the first and last lines' pixels in the DEM, when not 0
    int created_min; // the created input header's range, when created
    int created_max;
};

std::ostream& operator<<(std::ostream& os, const Level_case& c) { return os << c.name; }

std::vector<int> two_lines(int first, int last, int empty)
{
    std::vector<int> g(200, empty);
    std::fill(g.begin(), g.begin() + 40, first);
    std::fill(g.end() - 40, g.end(), last);
    return g;
}

class Levels : public E2e, public testing::WithParamInterface<Level_case> {};

} // namespace

// Every DEM built from a level has no empty pixel, and its range, in the
// console and the header, is the true one.
TEST_P(Levels, GiveADemWithoutHolesAndItsTrueRange)
{
    const Level_case& c = GetParam();
    std::filesystem::create_directories(dir);
    int lines = 5, cols = 40;
    if (c.raster.empty()) {
        // Levels -1960 to -1940: smoothed values land on Scaled -99999.
        lines = cols = 60;
        const Program_run gen = run_program(RF_GENERATOR,
                                            {"--lines", "60", "--cols", "60", "--seed", "15",
                                             "--base", "-1970", "--out", dir + "g"},
                                            Run_options{});
        ASSERT_EQ(gen.status, 0) << gen.err;
    } else {
        write_file(path("g_c4.raw"), le32(c.raster));
        if (c.header) write_file(path("g_c4.txt"), "5\n40\n4\n0\n0\n10\n");
    }
    std::string in = folder + "\ng\n1\n";
    if (!c.header) in += "5\n40\n10\n";
    in += "0\n" + std::to_string(c.equid) + "\n" + std::to_string(c.maille) + "\n";
    const Program_run r = run(in);
    ASSERT_EQ(r.status, 0) << r.out;

    const std::vector<int> dem = dem32(read_file(path("g_m4.raw")));
    ASSERT_EQ(dem.size(), static_cast<std::size_t>(lines * cols));
    EXPECT_EQ(std::count(dem.begin(), dem.end(), ND), 0);
    if (c.level_back != 0) {
        EXPECT_EQ(std::count(dem.begin(), dem.begin() + 40, c.level_back), 40);
        EXPECT_EQ(std::count(dem.end() - 40, dem.end(), c.level_back), 40);
    }
    const auto [lo, hi] = std::minmax_element(dem.begin(), dem.end());
    EXPECT_EQ(header_range(read_file(path("g_m4.txt"))), std::make_pair(*lo, *hi));
    EXPECT_NE(r.out.find(fmt("\n\tMin = %lld", *lo) + fmt("  Max = %lld", *hi)), std::string::npos);
    if (!c.header) {
        EXPECT_EQ(header_range(read_file(path("g_c4.txt"))),
                  std::make_pair(c.created_min, c.created_max));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, Levels,
    testing::Values(Level_case{"smoothed_onto_no_data", {}, 10, 3, true, 0, 0, 0},
                    // -48828 / 250 * 512 = -99999.744: a level whose Scaled altitude is
                    // NO_DATA, all negative; its lines come back as -48827.
                    Level_case{"scaled_level_is_no_data", two_lines(-48828, -48828, ND), 250, 1,
                               true, -48827, 0, 0},
                    // Millimetres: every value above 1000000, none empty.
                    Level_case{"all_above_a_million", two_lines(2000000, 2000100, 2000050), 1000, 3,
                               false, 0, 2000000, 2000100},
                    Level_case{"all_negative_created", two_lines(-300, -100, -200), 10, 1, false, 0,
                               -300, -100}),
    [](const auto& info) { return std::string(info.param.name); });

// 2147483600 / 20000 * 512 = 54975569 is inside the Scaled range, but its way
// back would leave the int range.
TEST_F(E2e, LevelsWhoseWayBackLeavesTheIntRangeAreRefused)
{
    write_file(path("g_c4.raw"), le32(two_lines(100, 2147483600, ND)));
    write_file(path("g_c4.txt"), "5\n40\n4\n0\n0\n10\n");
    const Program_run r = run(folder + "\ng\n1\n0\n20000\n1\n");
    EXPECT_EQ(r.status, 1);
    const std::string message = "\n\n\tThe altitude 2147483600 does not come back within the int "
                                "range with the equidistance 20000 : the levels must lie between ";
    ASSERT_NE(r.out.find(message), std::string::npos) << r.out;
    EXPECT_FALSE(file_exists(path("g_m4.raw")));
    expect_no_temporary();
}

namespace {

// The dialogue of a 32-bit image "g" up to the result choice, answered 0.
class Hostile : public E2e {
  protected:
    void SetUp() override
    {
        write_file(path("g_c4.raw"), le32(two_lines(100, 200, ND)));
        write_file(path("g_c4.txt"), "5\n40\n4\n100\n200\n10\n");
    }
    void expect_inputs_kept() const
    {
        EXPECT_EQ(read_file(path("g_c4.raw")), le32(two_lines(100, 200, ND)));
        EXPECT_EQ(read_file(path("g_c4.txt")), "5\n40\n4\n100\n200\n10\n");
    }
};

} // namespace

// Sizes whose byte counts overflow an int or a long long, refused before any
// grid is allocated; just below the limits, the raster is short.
TEST_F(Hostile, GridsBeyondWhatCanBeIndexedAreRefusedWithTheLimit)
{
    const struct {
        int lines, cols;
        const char* need; // bytes of a raster that fits the limits
    } cases[] = {{2147483647, 2147483647, nullptr},
                 {65536, 32768, nullptr},
                 {1, 536870911, nullptr},
                 {32767, 65536, "8589672448"}};
    for (const auto& c : cases) {
        write_file(path("g_c4.raw"), le32({7}));
        write_file(path("g_c4.txt"), fmt("%lld\n", c.lines) + fmt("%lld\n4\n0\n0\n10\n", c.cols));
        Script s = start("g", "1");
        s.show(size_report(c.lines, c.cols));
        if (c.need)
            s.show("\n\n\tThe file " + path("g_c4.raw") +
                   " holds 4 bytes : " + fmt("%lld lines of ", c.lines) +
                   fmt("%lld pixels of 4 bytes need ", c.cols) + c.need + " \n");
        else
            s.show(fmt("\n\n\tA grid of %lld lines and ", c.lines) +
                   fmt("%lld columns is larger than this program can index : at most 2147483647 "
                       "pixels, and at most 536870910 lines or columns \n",
                       c.cols));
        const Program_run r = run(s.in);
        SCOPED_TRACE(fmt("%lld lines", c.lines));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, s.out);
        expect_no_temporary();
    }
}

// A header is read whole or refused: values cut at the read limit would be
// other numbers (12 40 ... read as 12 4 ...).
TEST_F(Hostile, HeadersWhoseValuesRunPastTheReadLimitAreRefused)
{
    const struct {
        std::string text;
        bool refused;
    } cases[] = {{std::string(65532, ' ') + "12 40 4 0 0 10", true},
                 {"5 40 4 100 200 10" + std::string(100000, ' ') + "9", false}};
    for (const auto& c : cases) {
        write_file(path("g_c4.txt"), c.text);
        Script s = start("g", "1");
        if (c.refused)
            s.show("\n\n\tThe header " + path("g_c4.txt") +
                   " is not read : its values must lie within its first 65536 bytes \n");
        else
            s.show(size_report(5, 40)).show("\n\tResulting DEM : ").ask(result_choice("g"), "0");
        const Program_run r = run(s.in);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(c.refused ? r.out : r.out.substr(0, s.out.size()), s.out);
    }
}

// FIFOs, symbolic links, hard links and POSIX separators: these cases are
// the POSIX host's.
#ifndef _WIN32
// A FIFO or a folder as an input is refused, never waited on; a symbolic
// link to a regular file is read.
TEST_F(Hostile, InputsThatAreNotRegularFilesAreRefusedWithoutBlocking)
{
    const struct {
        const char* file;
        const char* kind;
    } cases[] = {
        {"g_c4.raw", "fifo"}, {"g_c4.txt", "fifo"}, {"g_c4.txt", "folder"}, {"g_c4.raw", "link"}};
    for (const auto& c : cases) {
        SetUp();
        const std::string p = path(c.file);
        std::filesystem::rename(p, p + ".kept");
        if (std::string(c.kind) == "fifo") {
            ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
        }
        if (std::string(c.kind) == "folder") std::filesystem::create_directory(p);
        if (std::string(c.kind) == "link") std::filesystem::create_symlink(p + ".kept", p);
        // Should the program open the FIFO, a writer that comes and goes lets
        // it go on, so that the test fails instead of hanging.
        std::atomic<bool> done{false};
        std::thread rescuer([&] {
            while (!done) {
                const int fd = open(p.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        Script s = start("g", "1");
        if (std::string(c.kind) == "link")
            s.show(size_report(5, 40)).show("\n\tResulting DEM : ").ask(result_choice("g"), "0");
        else
            s.show("\n\n\tThe file " + p + " is not a regular file : it is not read \n");
        const Program_run r = run(s.in + "10\n1\n");
        done = true;
        rescuer.join();
        SCOPED_TRACE(std::string(c.file) + " as a " + c.kind);
        EXPECT_EQ(r.status, std::string(c.kind) == "link" ? 0 : 1);
        EXPECT_EQ(r.out.substr(0, s.out.size()), s.out);
        expect_no_temporary();
        std::filesystem::remove(p);
        std::filesystem::rename(p + ".kept", p);
    }
}

// Names that would cut the path at a NUL, leave the folder or name no file
// are refused and asked again; so is a result whose DEM would replace an
// input file through a link. The inputs and a file beside the images folder
// stay as they were.
TEST_F(Hostile, NamesThatWouldLandOnAnotherFileAreAskedAgain)
{
    write_file(home.path + "/notes.txt", "notes");
    std::filesystem::create_symlink(path("g_c4.raw"), path("g_m4.raw"));
    std::filesystem::create_hard_link(path("g_c4.txt"), path("h_m4.txt"));
    const std::string control = "\n\tA name cannot hold a control character \n";
    const auto not_file = [](const std::string& n) { return "\n\tNot a file name : " + n + " \n"; };
    const auto not_inside = [&](const std::string& n) {
        return "\n\tNot a folder inside " + base + " : " + n + " \n";
    };
    const auto replaces = [&](const std::string& f) {
        return "\n\tThe DEM would replace the input file " + path(f) + " \n";
    };
    Script s;
    s.show(banner());
    const std::string folder = folder_prompt(base);
    s.ask(folder, std::string("maps\0", 5)).show(control);
    s.ask(folder, "ma\x1bps").show(control);
    for (const char* bad : {"..", "../maps", "maps/..", "x/../../maps"})
        s.ask(folder, bad).show(not_inside(bad));
    s.ask(folder, "maps");
    s.ask(kImage_prompt, std::string("g\0", 2)).show(control);
    for (const char* bad : {".", "..", "../maps/g"}) s.ask(kImage_prompt, bad).show(not_file(bad));
    s.ask(kImage_prompt, "g").ask(kType_prompt, "1");
    s.show(size_report(5, 40)).show("\n\tResulting DEM : ");
    s.ask(result_choice("g"), "0").show(replaces("g_c4.raw"));
    s.ask(result_choice("g"), "1").ask(kResult_name_prompt, std::string("g_c4.raw\0", 9));
    s.show(control);
    for (const char* bad : {"../../notes.txt", "..", "."})
        s.ask(kResult_name_prompt, bad).show(not_file(bad));
    s.ask(kResult_name_prompt, "h").show(replaces("g_c4.txt"));
    s.ask(result_choice("g"), "1").ask(kResult_name_prompt, "out");
    s.ask(kEquid_prompt, "10").ask(kMesh_prompt, "1");
    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, s.out.size()), s.out);
    EXPECT_EQ(read_file(path("out_m4.raw")).size(), 800u);
    EXPECT_EQ(read_file(home.path + "/notes.txt"), "notes");
    expect_inputs_kept();
}
#endif
