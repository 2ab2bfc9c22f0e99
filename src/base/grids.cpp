#include "base/grids.h"

#include "base/host.h"
#include "nrutil.h"

#include <cstddef>

namespace {

template <typename T> void prefer_large_pages(T** grid, int nb_col, int nb_lig)
{
    if (!grid) return;
    const std::size_t bytes =
        static_cast<std::size_t>(nb_lig) * static_cast<std::size_t>(nb_col) * sizeof(T);
    host_prefer_large_pages(grid[0], bytes);
}

} // namespace

// Its pages are first touched by the stage that fills it, as large pages
// where the host has them.
int** new_grid(int nb_col, int nb_lig)
{
    int** grid = igrille(nb_col, nb_lig);
    prefer_large_pages(grid, nb_col, nb_lig);
    return grid;
}

std::uint16_t** new_grid16(int nb_col, int nb_lig)
{
    std::uint16_t** grid = usgrille(nb_col, nb_lig);
    prefer_large_pages(grid, nb_col, nb_lig);
    return grid;
}

void release_grids(Program_state& s)
{
    frigrille(s.itab, s.nb_lig);
    frigrille(s.itab1, s.nb_lig);
    frigrille(s.itab2, s.nb_lig);
    frusgrille(s.jtab, s.nb_lig);
    frusgrille(s.jtab1, s.nb_lig);
    s.itab = s.itab1 = s.itab2 = nullptr;
    s.jtab = s.jtab1 = nullptr;
}
