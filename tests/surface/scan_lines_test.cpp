// The dilation's line loops for the processor running (AVX2 where it has
// it) against those compiled for any processor, on lines of random levels,
// empty pixels, levels at the ends of the int range and keys of pixels not
// reached.
#include "base/program_state.h"
#include "surface/scan_lines.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 67; // not a whole number of vectors

int random_level(std::mt19937_64& rng)
{
    static const int kEdge[] = {NO_DATA, INT_MIN, INT_MAX, kNo_level_yet, kNo_level_yet + 1, 0, -1};
    const auto r = rng() % 8;
    if (r < 3) return kEdge[rng() % std::size(kEdge)];
    if (r < 5) return NO_DATA;
    return static_cast<int>(rng() % 4096) - 2048;
}

Scan_key random_key(std::mt19937_64& rng)
{
    if (rng() % 5 == 0) return kScan_far_key + static_cast<Scan_key>(rng() % 3) * kScan_step;
    const auto high = static_cast<std::uint32_t>(2 + rng() % 6);
    return static_cast<Scan_key>(std::uint64_t{high} << 32 | (rng() & 0xffffffffu));
}

// One line of each input, with a pixel to spare at both ends.
struct Lines {
    std::vector<int> up, at, down, levels;
    std::vector<std::uint32_t> words;
    std::vector<Scan_key> keys;

    explicit Lines(std::mt19937_64& rng)
    {
        for (auto* v : {&up, &at, &down, &levels})
            for (int j = 0; j < kWidth + 2; ++j) v->push_back(random_level(rng));
        for (int j = 0; j < kWidth + 2; ++j) {
            words.push_back(rng() % 4 == 0   ? 0u
                            : rng() % 9 == 0 ? kScan_unreached
                                             : static_cast<std::uint32_t>(1 + rng() % 5));
            keys.push_back(random_key(rng));
        }
    }
};

// Each set of loops the processor can take, against the portable one.
TEST(ScanLines, EveryLoopAgreesWithThePortableOne)
{
    const std::vector<const Scan_lines*> all = scan_lines_available();
    ASSERT_EQ(all.front(), &scan_lines_portable());
    ASSERT_EQ(all.back(), &scan_lines());
    const Scan_lines& portable = scan_lines_portable();
    std::mt19937_64 rng(11);
    for (int draw = 0; draw < 200 * static_cast<int>(all.size()); ++draw) {
        const Scan_lines& fast = *all[static_cast<std::size_t>(draw) % all.size()];
        const Lines in(rng);
        const int n = kWidth - static_cast<int>(rng() % 4);
        std::vector<Scan_key> a(kWidth + 2), b(kWidth + 2);
        fast.down_offers(&in.up[1], &in.at[1], &in.down[1], &in.keys[1], &a[1], n);
        portable.down_offers(&in.up[1], &in.at[1], &in.down[1], &in.keys[1], &b[1], n);
        ASSERT_EQ(a, b) << "down offers, draw " << draw;
        fast.up_offers(&in.words[1], &in.levels[1], &in.keys[1], &a[1], n);
        portable.up_offers(&in.words[1], &in.levels[1], &in.keys[1], &b[1], n);
        ASSERT_EQ(a, b) << "up offers, draw " << draw;

        // The chains, over every length up to a line, tails included.
        const int m = static_cast<int>(rng() % (kWidth + 1));
        const Scan_key beside = random_key(rng);
        a = b = in.keys;
        fast.chain_rightward(&a[1], m, beside);
        portable.chain_rightward(&b[1], m, beside);
        ASSERT_EQ(a, b) << "chain rightward, draw " << draw;
        a = b = in.keys;
        fast.chain_leftward(&a[1], m, beside);
        portable.chain_leftward(&b[1], m, beside);
        ASSERT_EQ(a, b) << "chain leftward, draw " << draw;

        std::vector<std::uint32_t> wa = in.words, wb = in.words;
        std::vector<int> la = in.levels, lb = in.levels;
        fast.down_store(&in.keys[1], &in.at[1], &wa[1], &la[1], n);
        portable.down_store(&in.keys[1], &in.at[1], &wb[1], &lb[1], n);
        ASSERT_EQ(wa, wb) << "down store, draw " << draw;
        ASSERT_EQ(la, lb) << "down store, draw " << draw;
        wa = wb = in.words;
        la = lb = in.levels;
        fast.up_store(&in.keys[1], &wa[1], &la[1], n);
        portable.up_store(&in.keys[1], &wb[1], &lb[1], n);
        ASSERT_EQ(wa, wb) << "up store, draw " << draw;
        ASSERT_EQ(la, lb) << "up store, draw " << draw;

        std::vector<int> ma(kWidth + 2, 7), mb(kWidth + 2, 7);
        la = lb = in.levels;
        std::vector<std::int32_t> fa(kWidth + 2), fb(kWidth + 2);
        fast.insert_marks(&in.up[1], &in.at[1], &in.down[1], &ma[1], &la[1], &fa[1], n);
        portable.insert_marks(&in.up[1], &in.at[1], &in.down[1], &mb[1], &lb[1], &fb[1], n);
        ASSERT_EQ(ma, mb) << "marks, draw " << draw;
        ASSERT_EQ(la, lb) << "marks, draw " << draw;
        ASSERT_EQ(fa, fb) << "marks, draw " << draw;
        // Without the marks kept, the same insertions.
        lb = in.levels;
        std::fill(fb.begin(), fb.end(), 0);
        fast.insert_marks(&in.up[1], &in.at[1], &in.down[1], nullptr, &lb[1], &fb[1], n);
        ASSERT_EQ(la, lb) << "marks not kept, draw " << draw;
        ASSERT_EQ(fa, fb) << "marks not kept, draw " << draw;
    }
}

// The midpoint of every sum of two levels, as the marks write it: half the
// sum rounded half up in double precision, then truncated toward zero.
TEST(ScanLines, MidpointsAsADoubleRoundsThem)
{
    const Scan_lines& lines = scan_lines_portable();
    std::mt19937_64 rng(5);
    for (int draw = 0; draw < 4000; ++draw) {
        // Pixel 1 lower than the one below it, its only higher neighbour.
        const int v = draw < 2 ? INT_MIN + draw : static_cast<int>(rng());
        const int higher = draw % 7 == 0 ? INT_MAX : static_cast<int>(rng());
        if (higher <= v) continue;
        const int up[3] = {v, v, v}, at[3] = {v, v, v}, down[3] = {higher, higher, higher};
        int mark = 0, level = NO_DATA;
        std::int32_t inserted = 0;
        lines.insert_marks(&up[1], &at[1], &down[1], &mark, &level, &inserted, 1);
        const int sum = static_cast<int>(static_cast<unsigned>(higher) + static_cast<unsigned>(v));
        const int want = static_cast<int>(static_cast<double>(sum) * 0.5 + 0.5);
        ASSERT_EQ(mark, want) << v << " and " << higher;
        ASSERT_EQ(level, want == NO_DATA ? NO_DATA : want);
        ASSERT_EQ(inserted, want == NO_DATA ? 0 : 1);
    }
}

} // namespace
