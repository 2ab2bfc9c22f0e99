// The range scan of a grid.
#include "base/console.h"
#include "surface/surface.h"

#include <algorithm>

namespace {

// Extends lo and hi with the n values of a row. Four running ranges side by
// side break the chain of dependent comparisons, and the compiler turns them
// into vector minima and maxima.
void extend_range(const int* row, int n, int& lo, int& hi)
{
    int l[4] = {lo, lo, lo, lo};
    int h[4] = {hi, hi, hi, hi};
    int j = 0;
    for (; j + 4 <= n; j += 4)
        for (int k = 0; k < 4; ++k) {
            const int v = row[j + k];
            l[k] = v < l[k] ? v : l[k];
            h[k] = v > h[k] ? v : h[k];
        }
    for (; j < n; ++j) {
        l[0] = row[j] < l[0] ? row[j] : l[0];
        h[0] = row[j] > h[0] ? row[j] : h[0];
    }
    lo = std::min({l[0], l[1], l[2], l[3]});
    hi = std::max({h[0], h[1], h[2], h[3]});
}

} // namespace

// One thread: the scan is bound by memory, and a second thread sharing the
// lines measured slower than one, not faster.
void Min_max(int* Minv, int* maxv, int** tab, int NBcol, int NBlig)
{
    int lo = *Minv;
    int hi = *maxv;
    for (int i = 0; i < NBlig; ++i) {
        // Lines are counted from 1: the first progress line reads 200.
        if ((i + 1) % 200 == 0) say("\tline %d\n", i + 1);
        extend_range(tab[i], NBcol, lo, hi);
    }
    *Minv = lo;
    *maxv = hi;
    say("\n\tMin = %d  Max = %d", *Minv, *maxv);
}
