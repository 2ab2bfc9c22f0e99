// The bodies of the scan line loops, included once per instruction set by
// the files that compile them; SCAN_LINES_NAMESPACE names each copy.
#include "base/program_state.h"
#include "surface/scan_lines.h"

#include <algorithm>
#include <cstdint>
#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace SCAN_LINES_NAMESPACE {

void down_offers(const int* __restrict up, const int* __restrict at, const int* __restrict down,
                 const Scan_key* __restrict last, Scan_key* __restrict line, int n)
{
    for (int j = 0; j < n; ++j) {
        const int a = up[j], b = at[j - 1], c = at[j], d = at[j + 1], e = down[j];
        int alti = kNo_level_yet;
        alti = ((a != NO_DATA) & (a < alti)) ? a : alti;
        alti = ((b != NO_DATA) & (b < alti)) ? b : alti;
        alti = ((d != NO_DATA) & (d < alti)) ? d : alti;
        alti = ((e != NO_DATA) & (e < alti)) ? e : alti;
        const bool reached = (a != NO_DATA) | (b != NO_DATA) | (d != NO_DATA) | (e != NO_DATA);
        const int level = c != NO_DATA ? std::min(c, kNo_level_yet) : alti;
        const Scan_key fixed = ((c != NO_DATA) | reached) ? make_key(2, level) : kScan_far_key;
        const Scan_key above = least(least(last[j - 1], last[j]), last[j + 1]) + kScan_step;
        line[j] = least(fixed, above);
    }
}

void up_offers(const std::uint32_t* __restrict words, const int* __restrict levels,
               const Scan_key* __restrict last, Scan_key* __restrict line, int n)
{
    for (int j = 0; j < n; ++j) {
        const std::uint32_t l = words[j] & kScan_unreached;
        const Scan_key own =
            make_key(l == 0 ? 2 : l + 1, l == 0 ? std::min(levels[j], kNo_level_yet) : levels[j]);
        const Scan_key below = least(least(last[j - 1], last[j]), last[j + 1]) + kScan_step;
        line[j] = least(own, below);
    }
}

// Along a line, keys[j] takes the least over m up to j of keys[m] plus
// j - m layers. Counted from keys[j] less j layers, that is a running
// minimum, which keeps the one chain from key to key short.
inline void chain_rightward_scalar(Scan_key* keys, int n, Scan_key left)
{
    Scan_key least_so_far = left + kScan_step;
    Scan_key layers = 0;
    for (int j = 0; j < n; ++j, layers += kScan_step) {
        least_so_far = least(least_so_far, keys[j] - layers);
        keys[j] = least_so_far + layers;
    }
}

inline void chain_leftward_scalar(Scan_key* keys, int n, Scan_key right)
{
    Scan_key least_so_far = right + kScan_step;
    Scan_key layers = 0;
    for (int j = n - 1; j >= 0; --j, layers += kScan_step) {
        least_so_far = least(least_so_far, keys[j] - layers);
        keys[j] = least_so_far + layers;
    }
}

#if defined(__AVX2__)
// Four keys at a time: the running minimum within the four in two shifted
// minimums, then the least with what came before; the chain from one group
// to the next is that one minimum.
inline __m256i least4(__m256i a, __m256i b)
{
#if defined(__AVX512VL__)
    return _mm256_min_epi64(a, b);
#else
    return _mm256_blendv_epi8(a, b, _mm256_cmpgt_epi64(a, b));
#endif
}

// The running minimum of group x, taken from its first key to its last
// (rightward) or from its last to its first, and with `carry`, what the
// groups before offer.
template <bool Rightward> __m256i running_least4(__m256i x, __m256i carry)
{
    const __m256i far = _mm256_set1_epi64x(INT64_MAX);
    // Each key against its neighbour one key back, then two keys back.
    constexpr int kOne = Rightward ? 0x90 : 0xf9;
    constexpr int kOne_far = Rightward ? 0x03 : 0xc0;
    constexpr int kTwo = Rightward ? 0x40 : 0xfe;
    constexpr int kTwo_far = Rightward ? 0x0f : 0xf0;
    x = least4(x, _mm256_blend_epi32(_mm256_permute4x64_epi64(x, kOne), far, kOne_far));
    x = least4(x, _mm256_blend_epi32(_mm256_permute4x64_epi64(x, kTwo), far, kTwo_far));
    return least4(x, carry);
}

void chain_rightward(Scan_key* keys, int n, Scan_key left)
{
    const __m256i four = _mm256_set1_epi64x(4 * kScan_step);
    __m256i layers = _mm256_set_epi64x(3 * kScan_step, 2 * kScan_step, kScan_step, 0);
    __m256i before = _mm256_set1_epi64x(left + kScan_step);
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        auto* const at = reinterpret_cast<__m256i*>(keys + j);
        const __m256i x =
            running_least4<true>(_mm256_sub_epi64(_mm256_loadu_si256(at), layers), before);
        _mm256_storeu_si256(at, _mm256_add_epi64(x, layers));
        before = _mm256_permute4x64_epi64(x, 0xff);
        layers = _mm256_add_epi64(layers, four);
    }
    chain_rightward_scalar(keys + j, n - j, j > 0 ? keys[j - 1] : left);
}

void chain_leftward(Scan_key* keys, int n, Scan_key right)
{
    const __m256i four = _mm256_set1_epi64x(4 * kScan_step);
    __m256i layers = _mm256_set_epi64x(0, kScan_step, 2 * kScan_step, 3 * kScan_step);
    __m256i after = _mm256_set1_epi64x(right + kScan_step);
    int j = n;
    for (; j - 4 >= 0; j -= 4) {
        auto* const at = reinterpret_cast<__m256i*>(keys + j - 4);
        const __m256i x =
            running_least4<false>(_mm256_sub_epi64(_mm256_loadu_si256(at), layers), after);
        _mm256_storeu_si256(at, _mm256_add_epi64(x, layers));
        after = _mm256_permute4x64_epi64(x, 0x00);
        layers = _mm256_add_epi64(layers, four);
    }
    chain_leftward_scalar(keys, j, j < n ? keys[j] : right);
}
#else
void chain_rightward(Scan_key* keys, int n, Scan_key left)
{
    chain_rightward_scalar(keys, n, left);
}
void chain_leftward(Scan_key* keys, int n, Scan_key right)
{
    chain_leftward_scalar(keys, n, right);
}
#endif

void down_store(const Scan_key* __restrict line, const int* __restrict at,
                std::uint32_t* __restrict words, int* __restrict levels, int n)
{
    for (int j = 0; j < n; ++j) {
        const Scan_key key = line[j];
        const std::uint32_t high = key_high(key);
        const bool far = high >= kScan_far;
        const bool own = at[j] != NO_DATA;
        const int level = key_level(key);
        words[j] = own ? 0 : far ? kScan_unreached : high - 1;
        levels[j] = own ? at[j] : far ? NO_DATA : level;
    }
}

void up_store(const Scan_key* __restrict line, std::uint32_t* __restrict words,
              int* __restrict levels, int n)
{
    for (int j = 0; j < n; ++j) {
        const Scan_key key = line[j];
        const std::uint32_t high = key_high(key);
        const bool far = high >= kScan_far;
        const bool own = words[j] == 0;
        const std::uint32_t word = far ? kScan_unreached : high - 1;
        const int level = far ? NO_DATA : key_level(key);
        words[j] = own ? 0 : word;
        levels[j] = own ? levels[j] : level;
    }
}

// The midpoint is rounded half up as a double would be, then truncated
// toward zero: half the sum rounded down, plus one for an odd sum or a
// negative one.
template <bool Keep>
void insert_marks_into(const int* __restrict up, const int* __restrict at,
                       const int* __restrict down, int* __restrict marks, int* __restrict levels,
                       std::int32_t* __restrict inserted, int n)
{
    for (int j = 0; j < n; ++j) {
        const int v = at[j];
        const int a = up[j], b = at[j - 1], c = at[j + 1], d = down[j];
        int partner = a;
        partner = b > v ? b : partner;
        partner = c > v ? c : partner;
        partner = d > v ? d : partner;
        const bool higher = (a > v) | (b > v) | (c > v) | (d > v);
        const int sum = static_cast<int>(static_cast<unsigned>(partner) + static_cast<unsigned>(v));
        const int mid = (sum >> 1) + ((sum & 1) | (sum < 0 ? 1 : 0));
        const int mark = higher ? mid : NO_DATA;
        const bool insert = (mark != NO_DATA) & (levels[j] == NO_DATA);
        if constexpr (Keep) marks[j] = mark;
        levels[j] = insert ? mark : levels[j];
        inserted[j] = insert ? 1 : 0;
    }
}

void insert_marks(const int* up, const int* at, const int* down, int* marks, int* levels,
                  std::int32_t* inserted, int n)
{
    if (marks)
        insert_marks_into<true>(up, at, down, marks, levels, inserted, n);
    else
        insert_marks_into<false>(up, at, down, marks, levels, inserted, n);
}

inline const Scan_lines kLines{down_offers, up_offers, chain_rightward, chain_leftward,
                               down_store,  up_store,  insert_marks};

} // namespace SCAN_LINES_NAMESPACE
