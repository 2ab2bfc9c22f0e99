// Whole runs through the surface stages: smoothing with its progress lines,
// and the bundled sample.
#include "e2e/e2e_fixture.h"

#include <algorithm>
#include <cstring>

using namespace transcript;

namespace {

// Progress of the smoothing: one overwriting line before each 100th line.
std::string smoothing_lines(int maille, int lines)
{
    std::string s = fmt("\n\tSize of the window smoothing : %lld \n\n", maille);
    for (int l = 100; l <= lines; l += 100) s += fmt("\tline %lld                  \r    ", l);
    return s;
}

std::vector<int> dem32(const std::string& bytes)
{
    std::vector<int> v(bytes.size() / 4);
    std::memcpy(v.data(), bytes.data(), v.size() * 4);
    return v;
}

class Smoothing_lines : public E2e, public ::testing::WithParamInterface<int> {};

} // namespace

// A flat 16-bit image at 0 stays 0 through every stage, so the whole console
// output is known: no progress line below 100 lines, one at 100, two at 250.
TEST_P(Smoothing_lines, AreShownEveryHundredLines)
{
    const int lines = GetParam();
    write_file(path("flat_c2.raw"), le16(std::vector<int>(static_cast<std::size_t>(lines) * 4, 0)));
    write_file(path("flat_c2.txt"), std::to_string(lines) + "\n4\n2\n0\n0\n30\n");
    Script s = start("flat", "0");
    s.show(size_report(lines, 4)).show("\n\tResulting DEM : ").ask(result_choice("flat"), "0");
    s.ask(kEquid_prompt, "10").ask(kMesh_prompt, "3");
    s.show("\n\tLecture ").show(passes({0})).show("\n").show(smoothing_lines(3, lines));
    s.show(saving(lines, 0, 0));

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s.out);
    EXPECT_EQ(read_file(path("flat_m2.raw")),
              le16(std::vector<int>(static_cast<std::size_t>(lines) * 4, 0)));
    EXPECT_EQ(read_file(path("flat_m2.txt")),
              dem_header(lines, 4, 2, 0, 0, 30, path("flat_c2.raw"), 3));
}

INSTANTIATE_TEST_SUITE_P(Lines, Smoothing_lines, ::testing::Values(99, 100, 250));

// 10 (x - 5)^2 on every line, smoothed with n = 2: each column between the
// first and the last is raised by 10 * 2 * 1/2 * 1/2 = 5 (160 becomes 165),
// and the border columns keep their values. Equidistance 512 makes the Scaled
// altitudes equal to the altitudes.
TEST_F(E2e, QuadraticProfileIsRaisedByTheBezierSmoothing)
{
    std::vector<int> row, smoothed;
    for (int x = 0; x <= 10; ++x) {
        const int v = 10 * (x - 5) * (x - 5);
        row.push_back(v);
        smoothed.push_back(x == 0 || x == 10 ? v : v + 5);
    }
    std::vector<int> grid, expected;
    for (int l = 0; l < 3; ++l) {
        grid.insert(grid.end(), row.begin(), row.end());
        expected.insert(expected.end(), smoothed.begin(), smoothed.end());
    }
    write_file(path("bowl_c2.raw"), le16(grid));
    write_file(path("bowl_c2.txt"), "3\n11\n2\n0\n250\n5\n");
    Script s = start("bowl", "0");
    s.show(size_report(3, 11)).show("\n\tResulting DEM : ").ask(result_choice("bowl"), "0");
    s.ask(kEquid_prompt, "512").ask(kMesh_prompt, "2");
    s.show("\n\tLecture ").show(passes({0})).show("\n").show(smoothing_lines(2, 3));
    s.show(saving(3, 5, 250));

    const Program_run r = run(s.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s.out);
    EXPECT_EQ(read_file(path("bowl_m2.raw")), le16(expected));
}

// The bundled sample, as the README's first command runs it: every pixel of
// the DEM holds an altitude within the contour levels' range.
TEST_F(E2e, BundledSampleGivesACompleteSurface)
{
    const std::string sample = std::string(RF_SOURCE_DIR) + "/data/sample/";
    write_file(path("hills_c4.raw"), read_file(sample + "hills_c4.raw"));
    write_file(path("hills_c4.txt"), read_file(sample + "hills_c4.txt"));
    Script s = start("hills", "1");
    s.show(size_report(300, 400)).show("\n\tResulting DEM : ").ask(result_choice("hills"), "0");
    s.ask(kEquid_prompt, "10").ask(kMesh_prompt, "5");
    s.show("\n\tLecture ");

    const Program_run r = run(s.in);
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.out.substr(0, s.out.size()), s.out);
    // Passes numbered from 1 without a gap, the last one followed by the smoothing.
    const std::string rest = r.out.substr(s.out.size());
    int pass = 0;
    for (std::size_t p = 0; (p = rest.find("Iterative process number ", p)) != std::string::npos;
         ++p)
        EXPECT_EQ(std::atoi(rest.c_str() + p + 25), ++pass);
    EXPECT_GT(pass, 3);
    const std::string after_last_pass =
        fmt("\n\n\tIterative process number %lld \n", pass) + smoothing_lines(5, 300);
    EXPECT_NE(rest.find(after_last_pass), std::string::npos);

    const std::vector<int> dem = dem32(read_file(path("hills_m4.raw")));
    ASSERT_EQ(dem.size(), 300u * 400u);
    EXPECT_EQ(std::count(dem.begin(), dem.end(), ND), 0);
    const auto [lo, hi] = std::minmax_element(dem.begin(), dem.end());
    // Levels 110 to 220; the smoothing may round just below the lowest.
    EXPECT_GE(*lo, 100);
    EXPECT_LE(*hi, 220);
    EXPECT_EQ(rest.substr(rest.size() - saving(300, *lo, *hi).size()), saving(300, *lo, *hi));
    EXPECT_EQ(read_file(path("hills_m4.txt")),
              dem_header(300, 400, 4, *lo, *hi, 25, path("hills_c4.raw"), 5));
}
