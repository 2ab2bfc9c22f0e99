// The line loops of the dilation's scans and marks: loops without branches
// over whole lines, compiled once for the processor every build runs on and,
// where the compiler can, once more for processors with AVX2 and once for
// those with AVX-512, the widest the processor running has being taken. All
// give the same results.
#pragma once

#include "surface/surface.h"

#include <cstdint>
#include <vector>

// What a pixel offers its neighbours in a scan: its layer plus one in the
// high half, its level in the low half with the sign bit flipped, so that
// the nearer comes first and, at one distance, the lower level. The high
// half stays below 2^31, so that the keys compare alike as signed numbers.
using Scan_key = std::int64_t;

// The layer word of a pixel that no level has reached; the layer of every
// pixel reached stays below it.
inline constexpr std::uint32_t kScan_unreached = (1u << 29) - 1;
// The high half of the key of a pixel that no level has reached; each step
// of a scan can add one to it, at most lines plus columns in all.
inline constexpr std::uint32_t kScan_far = kScan_unreached + 1;
inline constexpr Scan_key kScan_step = Scan_key{1} << 32;
inline constexpr Scan_key kScan_far_key = Scan_key{kScan_far} << 32;

// The level's sign bit, flipped in a key so that the levels compare as
// unsigned numbers in the order of ints.
inline constexpr std::uint32_t kKey_level_bias = 0x80000000u;

// The key of a pixel at `high` (its layer plus one) with level `level`.
constexpr Scan_key make_key(std::uint32_t high, int level)
{
    return static_cast<Scan_key>(std::uint64_t{high} << 32 |
                                 (static_cast<std::uint32_t>(level) ^ kKey_level_bias));
}

// The two parts of a key.
constexpr std::uint32_t key_high(Scan_key key) { return static_cast<std::uint32_t>(key >> 32); }
constexpr int key_level(Scan_key key)
{
    return static_cast<int>(static_cast<std::uint32_t>(key) ^ kKey_level_bias);
}

constexpr Scan_key least(Scan_key a, Scan_key b) { return a < b ? a : b; }

// The loops, each over pixels 0 to n - 1 of pointers set at the first pixel;
// the loops that read the pixels beside a pixel on its line read index -1
// and n as well.
struct Scan_lines {
    // Way down, away from the grid's borders: line[j] becomes the least of
    // the key the first growth sweeps fix (a level of itab, or the lowest
    // level along its line and column) and what the three pixels of the line
    // above (keys `last`) offer. up, at and down are lines of itab.
    void (*down_offers)(const int* up, const int* at, const int* down, const Scan_key* last,
                        Scan_key* line, int n);
    // Way up: line[j] becomes the least of the key of the pixel's layer word
    // `words` and grown level `levels`, and what the three pixels of the line
    // below (keys `last`) offer.
    void (*up_offers)(const std::uint32_t* words, const int* levels, const Scan_key* last,
                      Scan_key* line, int n);
    // Takes into each of keys[0] to keys[n - 1] what the key on its left
    // offers, `left` for keys[0], once that key has itself taken it; the
    // same from the right, `right` beyond keys[n - 1].
    void (*chain_rightward)(Scan_key* keys, int n, Scan_key left);
    void (*chain_leftward)(Scan_key* keys, int n, Scan_key right);
    // Sets layer words and grown levels from the keys; on the way down a
    // level of itab (`at`) keeps layer 0 and its level, on the way up a
    // pixel of layer 0 is left as it is.
    void (*down_store)(const Scan_key* line, const int* at, std::uint32_t* words, int* levels,
                       int n);
    void (*up_store)(const Scan_key* line, std::uint32_t* words, int* levels, int n);
    // The marks of a line of the grown grid `at`, away from the grid's
    // borders: the midpoint with the last strictly higher of the pixel above,
    // left, right and below, NO_DATA when none is higher. A mark other than
    // NO_DATA on an empty pixel of `levels`, the line of itab, is written
    // there too, and flagged in `inserted`. `marks` null: the marks are
    // not kept.
    void (*insert_marks)(const int* up, const int* at, const int* down, int* marks, int* levels,
                         std::int32_t* inserted, int n);
};

// The loops for the processor running: the widest it can take.
const Scan_lines& scan_lines();

// The loops compiled for any processor, for the tests to hold against.
const Scan_lines& scan_lines_portable();

// Every set of loops in this build that the processor running can take,
// the portable one first and the one scan_lines() picks last.
std::vector<const Scan_lines*> scan_lines_available();
