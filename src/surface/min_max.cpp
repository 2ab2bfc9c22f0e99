#include "control/console.h"
#include "surface/surface.h"

void Min_max(int* Minv, int* maxv, int** tab, int NBcol, int NBlig)
{
    for (int i = 0; i < NBlig; ++i) {
        // Lines are counted from 1: the first progress line reads 200.
        if ((i + 1) % 200 == 0) say("\tline %d\n", i + 1);
        const int* row = tab[i];
        for (int j = 0; j < NBcol; ++j) {
            const int v = row[j];
            if (v < *Minv) *Minv = v;
            if (v > *maxv) *maxv = v;
        }
    }
    say("\n\tMin = %d  Max = %d", *Minv, *maxv);
}
