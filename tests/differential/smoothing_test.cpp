// The smoothing stage against the per-pixel definition, bit for bit, on
// seeded random grids of every shape the window allows.
#include "differential/random_grids.h"
#include "reference/reference.h"
#include "surface/surface.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>

namespace {

struct Smoothed {
    Rows itab1;
    std::string console;
};

Smoothed smooth(const Rows& rows, int n, void (*stage)(Program_state&, int))
{
    Grid_state g(rows);
    Console_capture console;
    stage(g.s, n);
    return {g.itab1(), console.text()};
}

// The first pixel where two grids differ, for the failure message.
std::string first_difference(const Rows& got, const Rows& want)
{
    for (std::size_t l = 0; l < want.size(); ++l)
        for (std::size_t c = 0; c < want[l].size(); ++c)
            if (got[l][c] != want[l][c]) {
                std::ostringstream os;
                os << "line " << l << ", column " << c << ": " << got[l][c] << " instead of "
                   << want[l][c];
                return os.str();
            }
    return "none";
}

// Draws grid number k of a run: its size, degree and content from its seed.
struct Case {
    std::uint64_t seed;
    int n, nb_lig, nb_col;
    Content kind;
    Rows rows;
};

Case draw_case(std::uint64_t seed)
{
    std::mt19937_64 rng(seed);
    const auto pick = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    // Small degrees are the common answers; the large ones, whose reference
    // costs the square of the window, get smaller grids.
    const int n = pick(0, 4) == 0 ? pick(2, 33) : pick(2, 9);
    const int largest = n <= 9 ? 64 : std::max(n + 1, 64 - n);
    const auto side = [&] { return pick(0, 3) == 0 ? n + 1 + pick(0, 2) : pick(n + 1, largest); };
    Case c{seed, n, side(), side(), static_cast<Content>(pick(0, 5)), {}};
    c.rows = random_rows(rng, c.nb_lig, c.nb_col, c.kind);
    return c;
}

TEST(FastSmoothing, EqualsTheDefinitionOnRandomGrids)
{
    constexpr std::uint64_t kFirst_seed = 20260001;
    constexpr int kGrids = 1000;
    bool odd = false, even = false;
    for (int k = 0; k < kGrids; ++k) {
        const Case c = draw_case(kFirst_seed + static_cast<std::uint64_t>(k));
        (c.n % 2 ? odd : even) = true;
        const Smoothed fast = smooth(c.rows, c.n, smoothing);
        const Smoothed ref = smooth(c.rows, c.n, reference::smoothing);
        ASSERT_EQ(fast.itab1, ref.itab1)
            << "seed " << c.seed << ": n = " << c.n << ", " << c.nb_lig << " x " << c.nb_col << ", "
            << content_name(c.kind) << ", first difference at "
            << first_difference(fast.itab1, ref.itab1);
        ASSERT_EQ(fast.console, ref.console) << "seed " << c.seed;
    }
    EXPECT_TRUE(odd && even);
}

// Grids tall enough to be shared out among the workers in several blocks,
// with their progress lines: the text must come out as one sweep prints it.
TEST(FastSmoothing, EqualsTheDefinitionWhenSharedOutAmongWorkers)
{
    struct Shape {
        int nb_lig, nb_col, n;
        Content kind;
    };
    const Shape shapes[] = {{620, 110, 2, Content::terrain},
                            {530, 130, 5, Content::with_no_data},
                            {280, 240, 13, Content::uniform},
                            {700, 100, 9, Content::huge}};
    std::uint64_t seed = 77001;
    for (const Shape& sh : shapes) {
        std::mt19937_64 rng(seed);
        const Rows rows = random_rows(rng, sh.nb_lig, sh.nb_col, sh.kind);
        const Smoothed fast = smooth(rows, sh.n, smoothing);
        const Smoothed ref = smooth(rows, sh.n, reference::smoothing);
        EXPECT_EQ(fast.itab1, ref.itab1) << "seed " << seed << ", n = " << sh.n << ": "
                                         << first_difference(fast.itab1, ref.itab1);
        EXPECT_EQ(fast.console, ref.console) << "seed " << seed;
        ++seed;
    }
}

// The degrees whose windows fill the whole grid: every pixel is a border pixel.
TEST(FastSmoothing, WindowAsLargeAsTheGrid)
{
    std::mt19937_64 rng(4242);
    for (int n = 2; n <= 33; ++n) {
        const Rows rows = random_rows(rng, n + 1, n + 1, Content::uniform);
        EXPECT_EQ(smooth(rows, n, smoothing).itab1, smooth(rows, n, reference::smoothing).itab1)
            << "n = " << n;
    }
}

} // namespace
