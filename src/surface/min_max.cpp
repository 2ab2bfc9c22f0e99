// The range scan of a grid, its lines shared among the cores: the minimum and
// the maximum do not depend on the order in which the values are seen.
#include "control/console.h"
#include "surface/parallel.h"
#include "surface/surface.h"

#include <algorithm>
#include <mutex>

namespace {

// Lines are counted from 1: the first progress line reads 200.
void announce_line(int i)
{
    if ((i + 1) % 200 == 0) say("\tline %d\n", i + 1);
}

} // namespace

void Min_max(int* Minv, int* maxv, int** tab, int NBcol, int NBlig)
{
    const int lines = std::max(NBlig, 0);
    const int cols = std::max(NBcol, 0);
    // Each band extends a running range of its own from the caller's values.
    int min = *Minv;
    int max = *maxv;
    std::mutex merge;
    Line_progress progress(lines, announce_line);
    for_line_bands(lines, cols, [&](int first, int end) {
        int lo = *Minv;
        int hi = *maxv;
        for (int i = first; i < end; ++i) {
            const int* row = tab[i];
            for (int j = 0; j < cols; ++j) {
                const int v = row[j];
                if (v < lo) lo = v;
                if (v > hi) hi = v;
            }
            progress.finish(i);
        }
        const std::lock_guard<std::mutex> lock(merge);
        min = std::min(min, lo);
        max = std::max(max, hi);
    });
    *Minv = min;
    *maxv = max;
    say("\n\tMin = %d  Max = %d", *Minv, *maxv);
}
